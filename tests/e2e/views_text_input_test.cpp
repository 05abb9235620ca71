// Composition input (an input method's pre-edit text, commits, cancels, the caret notice) and
// the clipboard (copies and cuts reaching the host, the host's pastes reaching the page), end to
// end through the views interface on real pages. Compositions are compared with what headless
// Chromium's page saw for the same steps (tests/fixtures/ime/composition_events.txt, recorded by
// record_composition.mjs there); where this engine legitimately differs, the test says how.
#include <algorithm>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
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

// A composition sent right behind a click goes into the field clicked, not the one that had the
// caret: composition input waits for the click's release, and for the field to take the caret,
// as keys do.
TEST_F(ViewsTest, ACompositionRightAfterAClickGoesIntoTheFieldClicked) {
  ViewMemory& m = NewMemory(400, 100);
  quillo_view* view = host().CreateHtml(
      ViewsHost::ConfigFor(m),
      "<body style='margin:0'>"
      "<input id=a autofocus style='position:absolute;left:0;top:0;width:180px;height:40px'>"
      "<input id=b style='position:absolute;left:200px;top:0;width:180px;height:40px'>"
      "<script>const show = () => document.title = `a=${a.value} b=${b.value}`;"
      "a.oninput = b.oninput = show; show();</script>");
  ASSERT_TRUE(view);
  ASSERT_TRUE(host().WaitForTitle(view, "a= b="));
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_FRAME));
  ASSERT_EQ(api().quillo_view_set_focus(view, 1), QUILLO_OK);
  const char* expected[] = {"a= b=1", "a=2 b=1", "a=2 b=13", "a=24 b=13"};
  const int xs[] = {300, 100, 300, 100};
  for (int round = 0; round < 4; ++round) {
    const std::string digit = std::to_string(round + 1);
    const size_t from = host().Notices(view).size();
    const int x = xs[round];
    ASSERT_EQ(api().quillo_view_mouse_button(view, QUILLO_BUTTON_LEFT, 1, x, 20, 1, 0), QUILLO_OK);
    ASSERT_EQ(api().quillo_view_mouse_button(view, QUILLO_BUTTON_LEFT, 0, x, 20, 1, 0), QUILLO_OK);
    ASSERT_EQ(api().quillo_view_ime_set_composition(view, "\xE3\x81\x8B", nullptr, 0, 1, 1),
              QUILLO_OK);
    ASSERT_EQ(api().quillo_view_ime_commit(view, digit.c_str()), QUILLO_OK);
    EXPECT_TRUE(host().WaitForTitle(view, expected[round], from)) << "round " << round;
  }
  // The compositions waited for the page's reports, never for the time that gives up on them.
  EXPECT_FALSE(Logged("releases never reported"));
}

// Sequences an input method sends in quick succession, with no pump or one pump between the
// steps: each composition ended leaves its committed text alone, once, at the caret (the field
// holds "ab" with the caret between), and a cancelled one leaves nothing, however close the
// next step follows; a key typed after them lands after them. The named sequences, then seeded
// random ones checked against a model of the field. F9 is the mark after each sequence: the
// page tells the field's value and caret then.
TEST_F(ViewsTest, QuickCompositionSequencesLeaveExactlyTheCommittedText) {
  ViewMemory& m = NewMemory(300, 80);
  quillo_view* view =
      host().CreateHtml(ViewsHost::ConfigFor(m),
                        "<input id=f><script>let marks = 0;"
                        "f.addEventListener('keydown', e => { if (e.key === 'F9')"
                        "  document.title = `mark ${++marks} ${f.value}|${f.selectionStart}`; });"
                        "function reset(n) { f.value = 'ab'; f.focus(); f.setSelectionRange(1, 1);"
                        "  document.title = `reset ${n}`; }"
                        "document.title = 'ready'</script>");
  ASSERT_TRUE(view);
  ASSERT_TRUE(host().WaitForTitle(view, "ready"));
  ASSERT_EQ(api().quillo_view_set_focus(view, 1), QUILLO_OK);
  const std::string ka = "\xE3\x81\x8B", kana = "\xE3\x81\x8B\xE3\x81\xAA", ni = "\xE3\x81\xAB";
  const std::string go = "\xE8\xAA\x9E", hon = "\xE6\x9C\xAC", nichi = "\xE6\x97\xA5";
  struct Sequence {
    std::string name;
    std::vector<ImeStep> steps;  // set (caret at the end), commit, cancel, or key (typed text)
    std::string expected;        // value|caret
  };
  std::vector<Sequence> sequences = {
      {"set, cancel, commit",
       {{"set", 0, ka}, {"cancel", 0, ""}, {"commit", 0, go}},
       "a" + go + "b|2"},
      {"set, set, commit", {{"set", 0, ka}, {"set", 0, kana}, {"commit", 0, go}}, "a" + go + "b|2"},
      {"set, commit, set, cancel",
       {{"set", 0, ka}, {"commit", 0, go}, {"set", 0, ni}, {"cancel", 0, ""}},
       "a" + go + "b|2"},
      {"set, cancel, commit, commit",
       {{"set", 0, ka}, {"cancel", 0, ""}, {"commit", 0, go}, {"commit", 0, hon}},
       "a" + go + hon + "b|3"},
      {"set, cancel, set, commit",
       {{"set", 0, ka}, {"cancel", 0, ""}, {"set", 0, ni}, {"commit", 0, nichi}},
       "a" + nichi + "b|2"},
      {"commit, set, cancel, commit",
       {{"commit", 0, go}, {"set", 0, ka}, {"cancel", 0, ""}, {"commit", 0, hon}},
       "a" + go + hon + "b|3"},
      {"set, cancel, commit, a key",
       {{"set", 0, ka}, {"cancel", 0, ""}, {"commit", 0, go}, {"key", 0, "x"}},
       "a" + go + "xb|3"},
      {"set, cancel, cancel, commit",
       {{"set", 0, kana}, {"cancel", 0, ""}, {"cancel", 0, ""}, {"commit", 0, go}},
       "a" + go + "b|2"},
  };
  // Random ones: the field's text before the caret grows by each commit and each key; a key
  // comes only between compositions; the last composition ends.
  const std::string pool[] = {ka, kana, ni, go, hon, nichi, "q", "\xF0\x9F\x98\x80"};
  constexpr unsigned kSeed = 20261211;
  std::mt19937 random(kSeed);
  for (int n = 0; n < 12; ++n) {
    Sequence s{"random " + std::to_string(n) + " of seed " + std::to_string(kSeed), {}, ""};
    std::string before = "a";
    bool composing = false;
    const int length = 2 + static_cast<int>(random() % 7);
    for (int i = 0; i < length || composing; ++i) {
      const std::string& text = pool[random() % std::size(pool)];
      int kind = static_cast<int>(random() % 4);  // set, commit, cancel, key
      if (i >= length) kind = 1 + static_cast<int>(random() % 2);
      if (kind == 3 && composing) kind = 0;
      if (kind == 0) {
        s.steps.push_back({"set", 0, text});
        composing = true;
      } else if (kind == 1) {
        s.steps.push_back({"commit", 0, text});
        before += text;
        composing = false;
      } else if (kind == 2) {
        s.steps.push_back({"cancel", 0, ""});
        composing = false;
      } else {
        s.steps.push_back({"key", 0, "x"});
        before += "x";
      }
    }
    int caret = 0;  // in UTF-16 units, as the field counts
    for (unsigned char c : before) caret += (c & 0xC0) == 0x80 ? 0 : c >= 0xF0 ? 2 : 1;
    s.expected = before + "b|" + std::to_string(caret);
    sequences.push_back(s);
  }
  int round = 0;
  for (int pumps = 0; pumps <= 1; ++pumps) {
    for (const Sequence& s : sequences) {
      SCOPED_TRACE(s.name + (pumps ? ", a pump between" : ", no pump between"));
      ++round;
      size_t from = host().Notices(view).size();
      ASSERT_EQ(api().quillo_view_eval(view, ("reset(" + std::to_string(round) + ")").c_str(), 3),
                QUILLO_OK);
      ASSERT_TRUE(host().WaitForTitle(view, "reset " + std::to_string(round), from));
      from = host().Notices(view).size();
      for (const ImeStep& step : s.steps) {
        int r = QUILLO_OK;
        if (step.kind == "set")
          r = api().quillo_view_ime_set_composition(view, step.text.c_str(), nullptr, 0,
                                                    CharacterCount(step.text),
                                                    CharacterCount(step.text));
        else if (step.kind == "commit")
          r = api().quillo_view_ime_commit(view, step.text.c_str());
        else if (step.kind == "cancel")
          r = api().quillo_view_ime_cancel(view);
        else if ((r = api().quillo_view_key(view, QUILLO_KEY_DOWN, 0x58, 0, step.text.c_str())) ==
                 QUILLO_OK)
          r = api().quillo_view_key(view, QUILLO_KEY_UP, 0x58, 0, nullptr);
        ASSERT_EQ(r, QUILLO_OK) << step.kind << " " << step.text;
        if (pumps) host().Pump();
      }
      ASSERT_EQ(api().quillo_view_key(view, QUILLO_KEY_DOWN, kF9, 0, nullptr), QUILLO_OK);
      ASSERT_EQ(api().quillo_view_key(view, QUILLO_KEY_UP, kF9, 0, nullptr), QUILLO_OK);
      const std::string mark = "mark " + std::to_string(round) + " ";
      std::string seen;
      ASSERT_TRUE(host().PumpUntil(
          [&] {
            for (size_t i = from; i < host().Notices(view).size(); ++i) {
              const ViewNotice& n = host().Notices(view)[i];
              if (n.kind == QUILLO_NOTICE_TITLE && n.text.rfind(mark, 0) == 0)
                return seen = n.text.substr(mark.size()), true;
            }
            return false;
          },
          "the mark"));
      EXPECT_EQ(seen, s.expected);
    }
  }
  // The commits waited for the page's reports, never for the time that gives up on them.
  EXPECT_FALSE(Logged("the input after them goes now"));
}

// ---- the caret --------------------------------------------------------------------------

// A field at a known place, and where the page lays out its text's end (CSS pixels).
const char kCaretPage[] =
    "<!DOCTYPE html><body style='margin:0'>"
    "<input id=f style='position:absolute;left:40px;top:50px;width:300px;height:30px;"
    "font:20px sans-serif;border:0;padding:0;outline:0'>"
    "<script>function textEnd() { const s = document.createElement('span');"
    " s.style.font = '20px sans-serif'; s.style.whiteSpace = 'pre'; s.textContent = f.value;"
    " document.body.appendChild(s); const w = s.getBoundingClientRect().width; s.remove();"
    " return 40 + w; }"
    "document.title = 'ready'</script></body>";

// The caret notice: where the field's caret is, in memory pixels (twice the CSS pixels at scale
// 2), while composing (code 1) and not; it follows the pre-edit text's end as the page lays it
// out.
TEST_F(ViewsTest, TheCaretNoticeFollowsTheCaretInMemoryPixels) {
  struct Shown {
    double scale;
    quillo_view* view = nullptr;
  } shown[] = {{1.0}, {2.0}};
  for (Shown& s : shown) {
    ViewMemory& m = NewMemory(static_cast<int>(400 * s.scale), static_cast<int>(120 * s.scale));
    quillo_view_config config = ViewsHost::ConfigFor(m);
    config.device_scale = s.scale;
    s.view = host().CreateHtml(config, kCaretPage);
    ASSERT_TRUE(s.view);
    ASSERT_TRUE(host().WaitForTitle(s.view, "ready"));
    ASSERT_EQ(api().quillo_view_set_focus(s.view, 1), QUILLO_OK);
  }
  auto caret_after = [&](Shown& s, size_t from, int code) {
    const int at = [&] {
      int found = -1;
      host().PumpUntil(
          [&] {
            for (size_t i = from; i < host().Notices(s.view).size(); ++i)
              if (host().Notices(s.view)[i].kind == QUILLO_NOTICE_IME_CARET &&
                  host().Notices(s.view)[i].code == code)
                found = static_cast<int>(i);
            return found >= 0;
          },
          "a caret notice with code " + std::to_string(code));
      return found;
    }();
    return at < 0 ? quillo_rect{-1, -1, 0, 0} : host().Notices(s.view)[at].rect;
  };
  quillo_rect clicked[2], composed[2];
  for (int i = 0; i < 2; ++i) {
    Shown& s = shown[i];
    SCOPED_TRACE("scale " + std::to_string(s.scale));
    // A click into the field gives it the caret, at its start.
    const size_t from = host().Notices(s.view).size();
    const int x = static_cast<int>(100 * s.scale), y = static_cast<int>(65 * s.scale);
    ASSERT_EQ(api().quillo_view_mouse_button(s.view, QUILLO_BUTTON_LEFT, 1, x, y, 1, 0), QUILLO_OK);
    ASSERT_EQ(api().quillo_view_mouse_button(s.view, QUILLO_BUTTON_LEFT, 0, x, y, 1, 0), QUILLO_OK);
    clicked[i] = caret_after(s, from, 0);
    const quillo_rect& c = clicked[i];
    EXPECT_NEAR(c.x, 40 * s.scale, 2 * s.scale);
    EXPECT_GE(c.y, 50 * s.scale - 1);
    EXPECT_LE(c.y + c.height, 80 * s.scale + 1);
    EXPECT_GE(c.height, 15 * s.scale);
    // Composing moves it to the pre-edit text's end.
    const size_t composing = host().Notices(s.view).size();
    const char* text =
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xA7\xE3\x81\x99";  // 日本語です
    ASSERT_EQ(api().quillo_view_ime_set_composition(s.view, text, nullptr, 0, 5, 5), QUILLO_OK);
    composed[i] = caret_after(s, composing, 1);
    const size_t asked = host().Notices(s.view).size();
    ASSERT_EQ(api().quillo_view_eval(s.view, "textEnd()", 9), QUILLO_OK);
    ASSERT_TRUE(host().WaitFor(s.view, QUILLO_NOTICE_SCRIPT_RESULT, nullptr, asked));
    const double end = std::stod(
        host()
            .Notices(s.view)[host().Find(s.view, QUILLO_NOTICE_SCRIPT_RESULT, nullptr, asked)]
            .text);
    EXPECT_NEAR(composed[i].x, end * s.scale, 2 * s.scale) << "the text ends at " << end;
    EXPECT_EQ(composed[i].y, c.y);
    ASSERT_EQ(api().quillo_view_ime_commit(s.view, text), QUILLO_OK);
  }
  // The same page at twice the scale: twice the pixels.
  EXPECT_NEAR(clicked[1].x, 2 * clicked[0].x, 2);
  EXPECT_NEAR(clicked[1].y, 2 * clicked[0].y, 2);
  EXPECT_NEAR(clicked[1].height, 2 * clicked[0].height, 3);
  EXPECT_NEAR(composed[1].x, 2 * composed[0].x, 3);
}

// ---- the clipboard ----------------------------------------------------------------------

const char kClipboardPage[] =
    "<!DOCTYPE html><meta charset=utf-8><body style='margin:0;font:16px sans-serif'>"
    "<p id=p style='margin:0'>Hello <b>bold</b> \xE4\xB8\x96\xE7\x95\x8C</p>"  // 世界
    "<input id=field style='position:absolute;left:10px;top:40px;width:300px;height:24px'>"
    "<div id=rich contenteditable style='position:absolute;left:10px;top:80px;width:300px;"
    "height:40px'></div>"
    "<button id=button style='position:absolute;left:10px;top:140px;width:100px;height:30px'"
    " onmousedown='event.preventDefault()'"
    " onclick=\"add('execCommand ' + document.execCommand('copy'))\">copy</button>"
    "<script>"
    "let log = [], own = null, cancelCopy = false, cancelPaste = false;"
    "const q = JSON.stringify;"
    "const add = s => { log.push(s); document.title = log.length + ': ' + s; };"
    "document.addEventListener('copy', e => {"
    "  add('copy');"
    "  if (cancelCopy) { e.preventDefault(); cancelCopy = false; }"
    "  if (own) { e.preventDefault(); e.clipboardData.setData('text/plain', own[0]);"
    "    if (own[1]) e.clipboardData.setData('text/html', own[1]); own = null; }"
    "});"
    "document.addEventListener('cut', () => add('cut'));"
    "document.addEventListener('paste', e => {"
    "  const html = e.clipboardData.getData('text/html');"
    "  add(`paste ${e.target.id} ${q(e.clipboardData.getData('text/plain'))} ` +"
    "      (html.length > 40 ? (html.includes('<b') ? 'markup with <b>' : 'markup') : q(html)));"
    "  if (cancelPaste) { e.preventDefault(); cancelPaste = false; }"
    "});"
    "field.addEventListener('input', e => add(`input field ${e.inputType} ${q(field.value)}`));"
    "rich.addEventListener('input', e => add(`input rich ${e.inputType} ${q(rich.innerHTML)}`));"
    "function selectP() { getSelection().selectAllChildren(p); }"
    "function take() { const out = log; log = []; document.title = 'taken'; return out; }"
    "document.title = 'ready';"
    "</script></body>";

constexpr int kVkControl = 0x11;

// Copies and cuts reach the host as CLIPBOARD notices (the host's copy, Ctrl+C as keys,
// execCommand('copy') in a click handler, a page's own data; a cancelled copy says nothing), and
// pastes reach the page as a paste event and inserted text (the host's text and HTML, beyond
// ASCII; a page may cancel them; Ctrl+V as keys pastes the engine's clipboard, the page's last
// copy). Each phase compares the page's own record and the notices with what a browser gives.
TEST_F(ViewsTest, CopiesReachTheHostAndPastesReachThePage) {
  ViewMemory& m = NewMemory(400, 200);
  quillo_view* view = host().CreateHtml(ViewsHost::ConfigFor(m), kClipboardPage);
  ASSERT_TRUE(view);
  ASSERT_TRUE(host().WaitForTitle(view, "ready"));
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_FRAME));
  ASSERT_EQ(api().quillo_view_set_focus(view, 1), QUILLO_OK);

  auto run = [&](const char* script) {
    const size_t from = host().Notices(view).size();
    ASSERT_EQ(api().quillo_view_eval(view, script, 5), QUILLO_OK);
    ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_SCRIPT_RESULT, nullptr, from));
  };
  auto control = [&](int key) {
    ASSERT_EQ(api().quillo_view_key(view, QUILLO_KEY_DOWN, kVkControl, QUILLO_MOD_CONTROL, nullptr),
              QUILLO_OK);
    ASSERT_EQ(api().quillo_view_key(view, QUILLO_KEY_DOWN, key, QUILLO_MOD_CONTROL, nullptr),
              QUILLO_OK);
    ASSERT_EQ(api().quillo_view_key(view, QUILLO_KEY_UP, key, QUILLO_MOD_CONTROL, nullptr),
              QUILLO_OK);
    ASSERT_EQ(api().quillo_view_key(view, QUILLO_KEY_UP, kVkControl, 0, nullptr), QUILLO_OK);
  };
  struct Copied {
    int code;
    std::string text;
    std::string html;  // text the HTML contains ("" anything), or "-": no HTML
  };
  const std::string hello = "Hello bold \xE4\xB8\x96\xE7\x95\x8C";
  const std::string paste_text =
      "\xE3\x83\x9A\xE3\x83\xBC\xE3\x82\xB9\xE3\x83\x88 \xF0\x9F\x98\x80";
  struct Phase {
    const char* what;
    const char* setup;
    std::function<void()> act;
    std::vector<std::string> log;
    std::vector<Copied> copied;
  };
  const Phase phases[] = {
      {"the host's copy of the selection",
       "selectP()",
       [&] { ASSERT_EQ(api().quillo_view_copy(view), QUILLO_OK); },
       {"copy"},
       {{QUILLO_CLIPBOARD_COPY, hello, "<b"}}},
      {"Ctrl+C as keys in a field",
       "field.value = 'field \xE6\x97\xA5\xE6\x9C\xAC'; field.focus(); field.select()",
       [&] { control('C'); },
       {"copy"},
       {{QUILLO_CLIPBOARD_COPY, "field \xE6\x97\xA5\xE6\x9C\xAC", ""}}},
      {"execCommand('copy') in a click handler",
       "field.blur(); selectP()",
       [&] {
         ASSERT_EQ(api().quillo_view_mouse_button(view, QUILLO_BUTTON_LEFT, 1, 50, 155, 1, 0),
                   QUILLO_OK);
         ASSERT_EQ(api().quillo_view_mouse_button(view, QUILLO_BUTTON_LEFT, 0, 50, 155, 1, 0),
                   QUILLO_OK);
       },
       {"copy", "execCommand true"},
       {{QUILLO_CLIPBOARD_COPY, hello, "bold"}}},
      {"the page's own data",
       "own = ['own text', '<i>own</i>']; selectP()",
       [&] { ASSERT_EQ(api().quillo_view_copy(view), QUILLO_OK); },
       {"copy"},
       {{QUILLO_CLIPBOARD_COPY, "own text", "<i>own</i>"}}},
      {"a cancelled copy says nothing (the copy after it does)",
       "cancelCopy = true; selectP()",
       [&] {
         ASSERT_EQ(api().quillo_view_copy(view), QUILLO_OK);
         run("own = ['second', '']");
         ASSERT_EQ(api().quillo_view_copy(view), QUILLO_OK);
       },
       {"copy", "copy"},
       {{QUILLO_CLIPBOARD_COPY, "second", "-"}}},
      {"the host's cut in a field",
       "field.value = 'cut me'; field.focus(); field.setSelectionRange(0, 4)",
       [&] { ASSERT_EQ(api().quillo_view_cut(view), QUILLO_OK); },
       {"cut", "input field deleteByCut \"me\""},
       {{QUILLO_CLIPBOARD_CUT, "cut ", ""}}},
      {"the host's paste into a field",
       "field.value = ''; field.focus()",
       [&] { ASSERT_EQ(api().quillo_view_paste(view, paste_text.c_str(), nullptr), QUILLO_OK); },
       {"paste field \"" + paste_text + "\" \"\"", "input field insertText \"" + paste_text + "\""},
       {}},
      {"the host's paste of rich text",
       "rich.focus()",
       [&] {
         ASSERT_EQ(api().quillo_view_paste(view, "plain", "<b>\xE5\xA4\xAA\xE5\xAD\x97</b>"),
                   QUILLO_OK);
       },
       {"paste rich \"plain\" \"<b>\xE5\xA4\xAA\xE5\xAD\x97</b>\"",
        // (This engine calls the insertion of HTML "insertText" too.)
        "input rich insertText \"<b>\xE5\xA4\xAA\xE5\xAD\x97</b>\""},
       {}},
      {"a paste the page cancels inserts nothing",
       "field.value = 'kept'; field.focus(); cancelPaste = true",
       [&] {
         ASSERT_EQ(api().quillo_view_paste(view, "no", nullptr), QUILLO_OK);
         ASSERT_EQ(api().quillo_view_paste(view, "!", nullptr), QUILLO_OK);
       },
       {"paste field \"no\" \"\"", "paste field \"!\" \"\"", "input field insertText \"kept!\""},
       {}},
      {"a copy beyond ASCII",
       "selectP()",
       [&] { ASSERT_EQ(api().quillo_view_copy(view), QUILLO_OK); },
       {"copy"},
       {{QUILLO_CLIPBOARD_COPY, hello, "bold"}}},
      {"Ctrl+V as keys pastes the engine's clipboard: that copy",
       "field.value = ''; field.focus()",
       [&] { control('V'); },
       {"paste field \"" + hello + "\" markup with <b>",
        "input field insertText \"" + hello + "\""},
       {}},
  };
  for (const Phase& phase : phases) {
    SCOPED_TRACE(phase.what);
    run("take()");
    run(phase.setup);
    const size_t from = host().Notices(view).size();
    phase.act();
    const std::string last = std::to_string(phase.log.size()) + ": ";
    ASSERT_TRUE(host().PumpUntil(
        [&] {
          int copies = 0;
          bool logged = false;
          for (size_t i = from; i < host().Notices(view).size(); ++i) {
            const ViewNotice& n = host().Notices(view)[i];
            copies += n.kind == QUILLO_NOTICE_CLIPBOARD;
            logged |= n.kind == QUILLO_NOTICE_TITLE && n.text.rfind(last, 0) == 0;
          }
          return logged && copies >= static_cast<int>(phase.copied.size());
        },
        phase.what));
    std::vector<std::string> record;
    ASSERT_TRUE(TakeRecord(host(), api(), view, &record));
    EXPECT_EQ(record, phase.log) << "the page saw:\n" << Joined(record);
    std::vector<ViewNotice> copies;
    for (size_t i = from; i < host().Notices(view).size(); ++i)
      if (host().Notices(view)[i].kind == QUILLO_NOTICE_CLIPBOARD)
        copies.push_back(host().Notices(view)[i]);
    ASSERT_EQ(copies.size(), phase.copied.size());
    for (size_t i = 0; i < copies.size(); ++i) {
      EXPECT_EQ(copies[i].code, phase.copied[i].code);
      EXPECT_EQ(copies[i].text, phase.copied[i].text);
      if (phase.copied[i].html == "-")
        EXPECT_EQ(copies[i].detail, "");
      else
        EXPECT_NE(copies[i].detail.find(phase.copied[i].html), std::string::npos)
            << copies[i].detail;
    }
  }
}

// Keys typed, then a copy, cut or paste with no pump between: the clipboard command acts on what
// the keys typed and selected (the engine carries keys in a queue of their own, one at a time,
// and runs the command at once), whatever comes next. Seeded random sequences of text keys (with
// and without their character, one held down across a paste), Backspace, Home, End, arrows and
// Shift+arrows, the host's pastes, copies and cuts are checked against a model of the field: its
// value and selection at the end of each sequence, and each copy and cut the host hears of.
TEST_F(ViewsTest, ClipboardCommandsActAfterTheKeysTypedBeforeThem) {
  ViewMemory& m = NewMemory(400, 80);
  quillo_view* view = host().CreateHtml(
      ViewsHost::ConfigFor(m),
      "<input id=f style='width:380px'><script>let marks = 0;"
      "f.addEventListener('keydown', e => { if (e.key === 'F9') document.title ="
      "  `mark ${++marks} ${f.value}|${f.selectionStart}|${f.selectionEnd}`; });"
      "function reset(n) { f.value = ''; f.focus(); document.title = `reset ${n}`; }"
      "document.title = 'ready'</script>");
  ASSERT_TRUE(view);
  ASSERT_TRUE(host().WaitForTitle(view, "ready"));
  ASSERT_EQ(api().quillo_view_set_focus(view, 1), QUILLO_OK);
  constexpr int kVkBack = 0x08, kVkShift = 0x10, kVkEnd = 0x23, kVkHome = 0x24, kVkLeft = 0x25,
                kVkRight = 0x27;
  // The field as the steps leave it: its value (ASCII) and the selection's anchor and focus.
  struct Field {
    std::string value;
    int anchor = 0, focus = 0;
    int Start() const { return std::min(anchor, focus); }
    int End() const { return std::max(anchor, focus); }
    void Replace(const std::string& text) {
      value.replace(Start(), End() - Start(), text);
      anchor = focus = Start() + static_cast<int>(text.size());
    }
  };
  auto key = [&](int code, unsigned modifiers, const char* text) {
    ASSERT_EQ(api().quillo_view_key(view, QUILLO_KEY_DOWN, code, modifiers, text), QUILLO_OK);
    ASSERT_EQ(api().quillo_view_key(view, QUILLO_KEY_UP, code, modifiers, nullptr), QUILLO_OK);
  };
  const std::string pastes[] = {"P", "paste", "xy", "Q r"};
  constexpr unsigned kSeed = 20261212;
  std::mt19937 random(kSeed);
  for (int round = 1; round <= 16; ++round) {
    SCOPED_TRACE("sequence " + std::to_string(round) + " of seed " + std::to_string(kSeed));
    size_t from = host().Notices(view).size();
    ASSERT_EQ(api().quillo_view_eval(view, ("reset(" + std::to_string(round) + ")").c_str(), 3),
              QUILLO_OK);
    ASSERT_TRUE(host().WaitForTitle(view, "reset " + std::to_string(round), from));
    from = host().Notices(view).size();
    Field field;
    std::vector<std::pair<int, std::string>> copied;  // code, text
    std::string steps;                                // what was done, for the failure message
    const int length = 10 + static_cast<int>(random() % 15);
    for (int i = 0; i < length; ++i) {
      const int kind = static_cast<int>(random() % 10);
      const bool selected = field.Start() < field.End();
      const char letter = static_cast<char>('a' + random() % 6);
      const int vk = 'A' + (letter - 'a');
      if (kind <= 1) {  // a text key and its character
        key(vk, 0, std::string(1, letter).c_str());
        field.Replace(std::string(1, letter));
        steps += letter;
      } else if (kind == 2) {  // a text key whose character never comes: it types its own
        field.Replace(std::string(1, letter));
        steps += std::string("bare ") + letter;
        if (random() % 2 == 0) {
          key(vk, 0, nullptr);
        } else {  // and a paste while it is held down
          const std::string& text = pastes[random() % std::size(pastes)];
          ASSERT_EQ(api().quillo_view_key(view, QUILLO_KEY_DOWN, vk, 0, nullptr), QUILLO_OK);
          ASSERT_EQ(api().quillo_view_paste(view, text.c_str(), nullptr), QUILLO_OK);
          ASSERT_EQ(api().quillo_view_key(view, QUILLO_KEY_UP, vk, 0, nullptr), QUILLO_OK);
          field.Replace(text);
          steps += " held across paste " + text;
        }
      } else if (kind == 3) {
        key(kVkBack, 0, nullptr);
        if (!selected && field.Start() > 0) field.anchor = field.Start() - 1;
        field.Replace("");
        steps += "Backspace";
      } else if (kind == 4 && !selected) {  // an arrow, Home or End
        const int which = static_cast<int>(random() % 4);
        key(which == 0   ? kVkLeft
            : which == 1 ? kVkRight
            : which == 2 ? kVkHome
                         : kVkEnd,
            0, nullptr);
        const int size = static_cast<int>(field.value.size());
        const int to = which == 0   ? std::max(0, field.focus - 1)
                       : which == 1 ? std::min(size, field.focus + 1)
                       : which == 2 ? 0
                                    : size;
        field.anchor = field.focus = to;
        steps += which == 0 ? "Left" : which == 1 ? "Right" : which == 2 ? "Home" : "End";
      } else if (kind <= 6) {  // Shift+Left or Shift+Right
        const bool left = random() % 2 == 0;
        ASSERT_EQ(api().quillo_view_key(view, QUILLO_KEY_DOWN, kVkShift, QUILLO_MOD_SHIFT, nullptr),
                  QUILLO_OK);
        key(left ? kVkLeft : kVkRight, QUILLO_MOD_SHIFT, nullptr);
        ASSERT_EQ(api().quillo_view_key(view, QUILLO_KEY_UP, kVkShift, 0, nullptr), QUILLO_OK);
        field.focus = left ? std::max(0, field.focus - 1)
                           : std::min(static_cast<int>(field.value.size()), field.focus + 1);
        steps += left ? "Shift+Left" : "Shift+Right";
      } else if (kind == 7 || !selected) {
        const std::string& text = pastes[random() % std::size(pastes)];
        ASSERT_EQ(api().quillo_view_paste(view, text.c_str(), nullptr), QUILLO_OK);
        field.Replace(text);
        steps += "paste " + text;
      } else if (kind == 8) {
        ASSERT_EQ(api().quillo_view_copy(view), QUILLO_OK);
        copied.emplace_back(QUILLO_CLIPBOARD_COPY,
                            field.value.substr(field.Start(), field.End() - field.Start()));
        steps += "copy";
      } else {
        ASSERT_EQ(api().quillo_view_cut(view), QUILLO_OK);
        copied.emplace_back(QUILLO_CLIPBOARD_CUT,
                            field.value.substr(field.Start(), field.End() - field.Start()));
        field.Replace("");
        steps += "cut";
      }
      steps += ", ";
    }
    // Every sequence ends with a clipboard command right behind keys.
    key('Z', 0, "z");
    field.Replace("z");
    ASSERT_EQ(api().quillo_view_paste(view, "!", nullptr), QUILLO_OK);
    field.Replace("!");
    steps += "z, paste !";
    SCOPED_TRACE(steps);
    key(kF9, 0, nullptr);
    const std::string mark = "mark " + std::to_string(round) + " ";
    std::string seen;
    std::vector<std::pair<int, std::string>> heard;
    ASSERT_TRUE(host().PumpUntil(
        [&] {
          heard.clear();
          for (size_t i = from; i < host().Notices(view).size(); ++i) {
            const ViewNotice& n = host().Notices(view)[i];
            if (n.kind == QUILLO_NOTICE_TITLE && n.text.rfind(mark, 0) == 0)
              seen = n.text.substr(mark.size());
            if (n.kind == QUILLO_NOTICE_CLIPBOARD) heard.emplace_back(n.code, n.text);
          }
          return !seen.empty() && heard.size() >= copied.size();
        },
        "the mark and the copies"));
    EXPECT_EQ(seen, field.value + "|" + std::to_string(field.Start()) + "|" +
                        std::to_string(field.End()));
    EXPECT_EQ(heard, copied);
  }
  // The commands waited for the page's reports, never for the time that gives up on them.
  EXPECT_FALSE(Logged("the input after them goes now"));
}

// ---- careless hosts ----------------------------------------------------------------------

// Text input a careless host sends is refused with an error code and a log line, and none of it
// reaches the page: no text, text that is not UTF-8 or too long (read no further than the
// limit), ranges outside the text, a destroyed handle, another thread.
TEST_F(ViewsTest, CarelessTextInputIsRefusedWithALogLine) {
  ViewMemory& m = NewMemory(300, 80);
  quillo_view* view = host().CreateHtml(
      ViewsHost::ConfigFor(m),
      "<input id=f autofocus><script>let events = 0;"
      "for (const t of ['compositionstart', 'beforeinput', 'paste', 'copy', 'cut'])"
      "  addEventListener(t, () => events++, true);"
      "f.oninput = () => document.title = `${f.value} after ${events}`;"
      "document.title = 'ready'</script>");
  ASSERT_TRUE(view);
  ASSERT_TRUE(host().WaitForTitle(view, "ready"));
  ASSERT_EQ(api().quillo_view_set_focus(view, 1), QUILLO_OK);
  // Longer than each limit by one byte, and not terminated after that: only the limit and one
  // byte more may be read.
  const size_t longest = QUILLO_MAX_PASTE_BYTES + 1;
  std::vector<char> unterminated(longest, 'k');
  const char* too_long = unterminated.data();
  const std::string composition_limit(QUILLO_MAX_COMPOSITION_BYTES + 1, 'k');
  const quillo_ime_underline outside = {1, 5, 0};
  const quillo_ime_underline inside = {0, 1, 0};
  std::vector<quillo_ime_underline> many(QUILLO_MAX_IME_UNDERLINES + 1, inside);
  struct Case {
    const char* what;
    int result;
    int expected;
    const char* logged;
  };
  const Case cases[] = {
      {"no composition text",
       api().quillo_view_ime_set_composition(view, nullptr, nullptr, 0, 0, 0),
       QUILLO_ERROR_NULL_ARGUMENT,
       "quillo_view_ime_set_composition => QUILLO_ERROR_NULL_ARGUMENT: a pointer the call needs "
       "is null: text is null"},
      {"a composition that is not UTF-8",
       api().quillo_view_ime_set_composition(view, "a\xC3(", nullptr, 0, 0, 0),
       QUILLO_ERROR_BAD_ARGUMENT, "text is not UTF-8"},
      {"an over-long composition",
       api().quillo_view_ime_set_composition(view, composition_limit.c_str(), nullptr, 0, 0, 0),
       QUILLO_ERROR_BAD_ARGUMENT, "text is longer than 4096 bytes"},
      {"a caret beyond the text",
       api().quillo_view_ime_set_composition(view, "ab", nullptr, 0, 0, 3),
       QUILLO_ERROR_BAD_ARGUMENT, "selection 0..3 is outside the text's 0..2 characters"},
      {"a selection backwards",
       api().quillo_view_ime_set_composition(view, "\xE6\x97\xA5\xE6\x9C\xAC", nullptr, 0, 2, 1),
       QUILLO_ERROR_BAD_ARGUMENT, "selection 2..1 is outside the text's 0..2 characters"},
      {"a negative caret", api().quillo_view_ime_set_composition(view, "ab", nullptr, 0, -1, 0),
       QUILLO_ERROR_BAD_ARGUMENT, "selection -1..0 is outside"},
      {"an underline beyond the text",
       api().quillo_view_ime_set_composition(view, "ab", &outside, 1, 0, 0),
       QUILLO_ERROR_BAD_ARGUMENT, "underline 0 (1..5) is not within the text's 0..2 characters"},
      {"no underlines, a count of them",
       api().quillo_view_ime_set_composition(view, "ab", nullptr, 2, 0, 0),
       QUILLO_ERROR_NULL_ARGUMENT, "underlines is null, underline_count not 0"},
      {"too many underlines",
       api().quillo_view_ime_set_composition(view, "ab", many.data(), many.size(), 0, 0),
       QUILLO_ERROR_BAD_ARGUMENT, "underline_count 65 is above 64"},
      {"no commit text", api().quillo_view_ime_commit(view, nullptr), QUILLO_ERROR_NULL_ARGUMENT,
       "quillo_view_ime_commit => QUILLO_ERROR_NULL_ARGUMENT"},
      {"a commit that is not UTF-8 (a surrogate)",
       api().quillo_view_ime_commit(view, "\xED\xA0\x80"), QUILLO_ERROR_BAD_ARGUMENT,
       "quillo_view_ime_commit => QUILLO_ERROR_BAD_ARGUMENT"},
      {"an over-long commit", api().quillo_view_ime_commit(view, too_long),
       QUILLO_ERROR_BAD_ARGUMENT, "text is longer than 1048576 bytes"},
      {"no paste text", api().quillo_view_paste(view, nullptr, "<b>x</b>"),
       QUILLO_ERROR_NULL_ARGUMENT, "quillo_view_paste => QUILLO_ERROR_NULL_ARGUMENT"},
      {"paste HTML that is not UTF-8", api().quillo_view_paste(view, "x", "<b>\xFF</b>"),
       QUILLO_ERROR_BAD_ARGUMENT, "html is not UTF-8"},
      {"an over-long paste", api().quillo_view_paste(view, too_long, nullptr),
       QUILLO_ERROR_BAD_ARGUMENT, "text is longer than 16777216 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.result, c.expected) << api().quillo_result_text(c.result);
    EXPECT_TRUE(Logged(c.logged)) << "no log line with: " << c.logged;
  }
  // From another thread, every one is refused.
  std::vector<int> other;
  std::thread([&] {
    other = {api().quillo_view_ime_set_composition(view, "a", nullptr, 0, 0, 0),
             api().quillo_view_ime_commit(view, "a"),
             api().quillo_view_ime_cancel(view),
             api().quillo_view_copy(view),
             api().quillo_view_cut(view),
             api().quillo_view_paste(view, "a", nullptr)};
  }).join();
  for (int r : other) EXPECT_EQ(r, QUILLO_ERROR_WRONG_THREAD);
  EXPECT_TRUE(Logged("quillo_view_paste => QUILLO_ERROR_WRONG_THREAD"));
  // Nothing of it reached the page: the first text it gets is the sound commit after it.
  const size_t from = host().Notices(view).size();
  ASSERT_EQ(api().quillo_view_ime_commit(view, "ok"), QUILLO_OK);
  ASSERT_TRUE(host().WaitForTitle(view, "ok after 1", from));
  // A destroyed view's handle is refused by each.
  ASSERT_EQ(host().Destroy(view), QUILLO_OK);
  const int gone[] = {api().quillo_view_ime_set_composition(view, "a", nullptr, 0, 0, 0),
                      api().quillo_view_ime_commit(view, "a"),
                      api().quillo_view_ime_cancel(view),
                      api().quillo_view_copy(view),
                      api().quillo_view_cut(view),
                      api().quillo_view_paste(view, "a", nullptr)};
  for (int r : gone) EXPECT_EQ(r, QUILLO_ERROR_BAD_HANDLE);
  EXPECT_TRUE(Logged("quillo_view_copy => QUILLO_ERROR_BAD_HANDLE"));
}

}  // namespace
}  // namespace quillo_test
