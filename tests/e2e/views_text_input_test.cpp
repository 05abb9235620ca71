// Composition input (an input method's pre-edit text, commits, cancels, the caret notice) and
// the clipboard (copies and cuts reaching the host, the host's pastes reaching the page), end to
// end through the views interface on real pages. Compositions are compared with what headless
// Chromium's page saw for the same steps (tests/fixtures/ime/composition_events.txt, recorded by
// record_composition.mjs there); where this engine legitimately differs, the test says how.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/views_fixture.h"

namespace quillo_test {
namespace {

const std::string kImeDir = std::string(QUILLO_TEST_FIXTURES_DIR) + "/ime";
constexpr int kF9 = 0x78;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += "  " + line + "\n";
  return out;
}

// The words of a record line; a quoted JSON string (no spaces or quotes inside, in these
// tables) is one word.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// Characters of UTF-8 text.
int CharacterCount(const std::string& text) {
  int n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

// ---- the composition table --------------------------------------------------------------

struct ImeStep {
  std::string kind;  // set, commit, cancel
  int caret = 0;     // set: the caret, in characters
  std::string text;
};

struct ImeCase {
  std::string name;
  std::vector<ImeStep> steps;
  std::vector<std::string> expected;
};

std::vector<ImeCase> LoadImeCases() {
  std::ifstream in(kImeDir + "/composition_events.txt");
  std::vector<ImeCase> cases;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word == "case") {
      cases.emplace_back();
      words >> cases.back().name;
    } else if (word == "step" && !cases.empty()) {
      ImeStep step;
      words >> step.kind;
      if (step.kind == "set") words >> step.caret;
      words >> std::ws;
      std::getline(words, step.text);
      cases.back().steps.push_back(step);
    } else if (word == "expect" && !cases.empty()) {
      cases.back().expected.push_back(line.substr(7));
    }
  }
  return cases;
}

// This engine's record in Chromium's form, where the two differ for reasons of their own:
//  - For each step of a composition this engine fires a "keydown" of keyCode 229, as a browser
//    does for a desktop's input method; Chromium's protocol composes without key events. Those
//    keydowns go (and nothing else of the keys).
//  - A commit: this engine (as Safari) removes the pre-edit text ("deleteCompositionText") and
//    inserts the committed text ("insertFromComposition"); Chromium replaces the one with the
//    other at once ("insertCompositionText"), telling the text in a last "compositionupdate".
//    The field's values before and after are the same; the pair of pairs is written as
//    Chromium's three lines with them.
//  - A cancel: this engine removes the pre-edit text ("deleteCompositionText"); Chromium
//    replaces it with "" (a "compositionupdate" with "", "insertCompositionText"). Likewise.
//  - A caret inside the pre-edit text: this engine marks the one character after it (the field's
//    selection ends one further).
std::vector<std::string> ChromiumForm(const std::vector<std::string>& record, const ImeCase& c,
                                      std::string* problem) {
  std::vector<std::string> out;
  size_t step = 0;
  for (size_t i = 0; i < record.size(); ++i) {
    const std::vector<std::string> w = Words(record[i]);
    if (w.empty()) continue;
    if (w[0] == "keydown" || w[0] == "keyup") {
      if (w.size() < 3 || w[1] != "\"Unidentified\"" || w[2] != "229")
        *problem += "an unexpected key event: " + record[i] + "\n";
      continue;
    }
    if (w[0] == "beforeinput" && w.size() == 5 && w[1] == "deleteCompositionText" &&
        i + 1 < record.size()) {
      const std::vector<std::string> removed = Words(record[i + 1]);
      if (removed.size() != 5 || removed[0] != "input" || removed[1] != "deleteCompositionText") {
        *problem += "a deleteCompositionText without its input: " + record[i] + "\n";
        continue;
      }
      const std::string before = w[4];
      std::vector<std::string> inserted, done;
      if (i + 3 < record.size()) inserted = Words(record[i + 2]), done = Words(record[i + 3]);
      if (inserted.size() == 5 && inserted[0] == "beforeinput" &&
          inserted[1] == "insertFromComposition" && done.size() == 5 && done[0] == "input" &&
          done[1] == "insertFromComposition") {
        out.push_back("compositionupdate " + inserted[2] + " " + before);
        out.push_back("beforeinput insertCompositionText " + inserted[2] + " " + inserted[3] + " " +
                      before);
        out.push_back("input insertCompositionText " + done[2] + " " + done[3] + " " + done[4]);
        i += 3;
      } else {
        out.push_back("compositionupdate \"\" " + before);
        out.push_back("beforeinput insertCompositionText \"\" " + w[3] + " " + before);
        out.push_back("input insertCompositionText null " + removed[3] + " " + removed[4]);
        i += 1;
      }
      continue;
    }
    if (w[0] == "value" && w.size() == 4) {
      if (step < c.steps.size() && c.steps[step].kind == "set" &&
          c.steps[step].caret < CharacterCount(c.steps[step].text) &&
          std::stoi(w[3]) == std::stoi(w[2]) + 1) {
        out.push_back("value " + w[1] + " " + w[2] + " " + w[2]);
        ++step;
        continue;
      }
      ++step;
    }
    out.push_back(record[i]);
  }
  return out;
}

// The page's record (take()), as a script result: percent-encoded, so that the JSON text of the
// result is the quoted encoding alone.
::testing::AssertionResult TakeRecord(ViewsHost& host, const ViewsApi& api, quillo_view* view,
                                      std::vector<std::string>* lines) {
  constexpr uint64_t kRequest = 77;
  const size_t from = host.Notices(view).size();
  api.quillo_view_eval(view, "encodeURIComponent(take().join('\\n'))", kRequest);
  std::string result;
  auto got = host.PumpUntil(
      [&] {
        for (size_t i = from; i < host.Notices(view).size(); ++i) {
          const ViewNotice& n = host.Notices(view)[i];
          if (n.kind == QUILLO_NOTICE_SCRIPT_RESULT && n.id == kRequest) {
            result = n.code == 1 ? n.text : "";
            return true;
          }
        }
        return false;
      },
      "the page's record");
  if (!got) return got;
  if (result.size() < 2 || result.front() != '"' || result.back() != '"')
    return ::testing::AssertionFailure() << "the record came as " << result;
  lines->clear();
  std::istringstream in(PercentDecoded(result.substr(1, result.size() - 2)));
  for (std::string line; std::getline(in, line);) lines->push_back(line);
  return ::testing::AssertionSuccess();
}

TEST_F(ViewsTest, CompositionsReachThePageAsInChromium) {
  const std::vector<ImeCase> cases = LoadImeCases();
  ASSERT_GE(cases.size(), 5u) << "no recorded cases in " << kImeDir;
  ViewMemory& m = NewMemory(400, 120);
  quillo_view* view =
      host().CreateHtml(ViewsHost::ConfigFor(m), ReadFile(kImeDir + "/composition_page.html"));
  ASSERT_TRUE(view);
  ASSERT_TRUE(host().WaitForTitle(view, "ready"));
  ASSERT_EQ(api().quillo_view_set_focus(view, 1), QUILLO_OK);
  for (const ImeCase& c : cases) {
    SCOPED_TRACE("case " + c.name);
    size_t from = host().Notices(view).size();
    ASSERT_EQ(api().quillo_view_eval(view, "reset(); document.title = 'reset'", 2), QUILLO_OK);
    ASSERT_TRUE(host().WaitForTitle(view, "reset", from));
    from = host().Notices(view).size();
    for (const ImeStep& step : c.steps) {
      int r = QUILLO_OK;
      if (step.kind == "set")
        r = api().quillo_view_ime_set_composition(view, step.text.c_str(), nullptr, 0, step.caret,
                                                  step.caret);
      else if (step.kind == "commit")
        r = api().quillo_view_ime_commit(view, step.text.c_str());
      else
        r = api().quillo_view_ime_cancel(view);
      ASSERT_EQ(r, QUILLO_OK) << step.kind << " " << step.text;
      // The mark: the page records the field's value when it sees F9, after the step.
      ASSERT_EQ(api().quillo_view_key(view, QUILLO_KEY_DOWN, kF9, 0, nullptr), QUILLO_OK);
      ASSERT_EQ(api().quillo_view_key(view, QUILLO_KEY_UP, kF9, 0, nullptr), QUILLO_OK);
    }
    ASSERT_TRUE(host().WaitForTitle(view, "steps " + std::to_string(c.steps.size()), from));
    std::vector<std::string> record;
    ASSERT_TRUE(TakeRecord(host(), api(), view, &record));
    std::string problem;
    const std::vector<std::string> seen = ChromiumForm(record, c, &problem);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(seen, c.expected) << "this engine's page saw:\n"
                                << Joined(record) << "in Chromium's form:\n"
                                << Joined(seen) << "Chromium's page saw:\n"
                                << Joined(c.expected);
  }
}

}  // namespace
}  // namespace quillo_test
