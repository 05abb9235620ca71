// What a page sees of the host's key events, compared field by field with what headless
// Chromium's page saw for the same Windows sequences (tests/fixtures/keys/key_events.txt,
// recorded by record_key_events.mjs there): which events fire, in which order, with which key,
// code, keyCode, which, charCode, repeat and modifiers, and the text they type.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/e2e_fixture.h"
#include "support/keyboard.h"

namespace quillo_test {
namespace {

const std::string kKeysDir = std::string(QUILLO_TEST_FIXTURES_DIR) + "/keys";

struct KeyStep {
  std::string kind;   // down, char, up
  int code = 0;       // virtual-key code, or the character of a char step
  int modifiers = 0;  // INPUT_SHIFT, INPUT_CONTROL, INPUT_ALT
};

struct KeyCase {
  std::string name;
  std::vector<KeyStep> steps;
  std::vector<std::string> expected;  // the page's entries, as the fixture writes them
};

std::vector<KeyCase> LoadCases() {
  std::ifstream in(kKeysDir + "/key_events.txt");
  std::vector<KeyCase> cases;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word == "case") {
      cases.emplace_back();
      words >> cases.back().name;
    } else if (word == "step" && !cases.empty()) {
      KeyStep step;
      std::string code, mods;
      words >> step.kind >> code >> mods;
      step.code = std::stoi(code, nullptr, 16);
      for (const char m : mods) {
        step.modifiers |= m == 'S'   ? INPUT_SHIFT
                          : m == 'C' ? INPUT_CONTROL
                          : m == 'A' ? INPUT_ALT
                                     : 0;
      }
      cases.back().steps.push_back(step);
    } else if (word == "expect" && !cases.empty()) {
      cases.back().expected.push_back(line.substr(7));
    }
  }
  return cases;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

// Undoes encodeURIComponent.
std::string DecodeUriComponent(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The fields of an entry: words, with a JSON string (which may hold blanks) as one field.
std::vector<std::string> Fields(const std::string& entry) {
  std::vector<std::string> fields;
  size_t i = 0;
  while (i < entry.size()) {
    if (entry[i] == ' ') {
      ++i;
      if (i < entry.size() && entry[i] == ' ') fields.emplace_back();  // an empty field
      continue;
    }
    size_t end = i;
    if (entry[i] == '"') {
      for (end = i + 1; end < entry.size() && entry[end] != '"'; ++end)
        if (entry[end] == '\\') ++end;
      ++end;
    } else {
      end = entry.find(' ', i);
      if (end == std::string::npos) end = entry.size();
    }
    fields.push_back(entry.substr(i, end - i));
    i = end;
  }
  return fields;
}

const char* const kKeyFieldNames[] = {"type",     "key",    "code",      "keyCode", "which",
                                      "charCode", "repeat", "modifiers", "location"};

// Where the engine cannot show what Chromium shows:
// - `repeat` is never true: the engine's view (WPE WebKit 2.38) does not track auto-repeat, and
//   a page's key events cannot be marked after the fact.
// - A text key pressed and released without a CHAR (a game's controls) still types its
//   character: the engine types a key's text together with its keydown, so the page also gets
//   keypress, beforeinput and input, and the field takes the character. Keydown and keyup are
//   compared for these cases.
// - Delete at the end of a field: Chromium fires beforeinput for a deletion that removes
//   nothing, the engine does not. Keydown and keyup are compared.
constexpr const char* kKeyEventsOnlyCases[] = {"game_keys", "held_game_key", "delete_key"};
constexpr size_t kRepeatField = 6;

bool KeyEventsOnly(const std::string& name) {
  for (const char* c : kKeyEventsOnlyCases)
    if (name == c) return true;
  return false;
}

// The entries compared for a case: for the key-events-only cases only keydown and keyup.
std::vector<std::string> Compared(const std::string& name, std::vector<std::string> entries) {
  if (!KeyEventsOnly(name)) return entries;
  std::vector<std::string> kept;
  for (const std::string& e : entries)
    if (e.rfind("keydown ", 0) == 0 || e.rfind("keyup ", 0) == 0) kept.push_back(e);
  return kept;
}

class KeyEvents : public E2ETest {};

TEST_F(KeyEvents, PageSeesWhatChromiumShowsForTheSameKeys) {
  const std::vector<KeyCase> cases = LoadCases();
  ASSERT_GE(cases.size(), 20u) << "no recorded cases in " << kKeysDir;
  const std::string page = ReadFile(kKeysDir + "/key_events_page.html");
  ASSERT_FALSE(page.empty());
  PixelBuffer& buffer = NewBuffer(320, 120);
  Load(buffer, kHtmlSource + page);
  ASSERT_TRUE(host().WaitForTitle("reset 0"));
  HostInput input(lib(), host());
  input.Send(INPUT_KEY | INPUT_FOCUS_IN, 0, 0);

  int number = 0;
  for (const KeyCase& c : cases) {
    SCOPED_TRACE("case " + c.name);
    ++number;
    size_t from = host().notices().size();
    lib().ExecuteJavaScript(("reset(" + std::to_string(number) + ")").c_str());
    ASSERT_TRUE(host().WaitForTitle("reset " + std::to_string(number), from));
    from = host().notices().size();
    for (const KeyStep& step : c.steps) {
      if (step.kind == "down")
        input.Send(INPUT_KEY | INPUT_KEY_DOWN | step.modifiers, step.code, 0);
      else if (step.kind == "char")
        input.Send(INPUT_KEY | INPUT_KEY_CHAR | step.modifiers, step.code, step.code);
      else
        input.Send(INPUT_KEY | INPUT_KEY_UP | step.modifiers, step.code, 0);
    }
    constexpr int kSentinel = 0x87;  // F24
    input.Send(INPUT_KEY | INPUT_KEY_DOWN, kSentinel, 0);
    input.Send(INPUT_KEY | INPUT_KEY_UP, kSentinel, 0);
    std::string dump;
    ASSERT_TRUE(host().PollUntil(
        [&] {
          for (const std::string& title : host().Texts(UPDATE_TITLE, from))
            if (title.rfind("dump:", 0) == 0) dump = title.substr(5);
          return !dump.empty();
        },
        "the page's entries"));
    const std::vector<std::string> seen = Compared(c.name, SplitLines(DecodeUriComponent(dump)));
    const std::vector<std::string> expected = Compared(c.name, c.expected);

    std::ostringstream differences;
    for (size_t i = 0; i < std::max(seen.size(), expected.size()); ++i) {
      const std::string want = i < expected.size() ? expected[i] : "(nothing)";
      const std::string got = i < seen.size() ? seen[i] : "(nothing)";
      const std::vector<std::string> a = Fields(want), b = Fields(got);
      const bool key_event = !a.empty() && a[0].rfind("key", 0) == 0;
      for (size_t f = 0; f < std::max(a.size(), b.size()); ++f) {
        const std::string x = f < a.size() ? a[f] : "", y = f < b.size() ? b[f] : "";
        if (x == y || (key_event && f == kRepeatField)) continue;
        differences << "  entry " << i << " "
                    << (key_event && f < std::size(kKeyFieldNames) ? kKeyFieldNames[f]
                                                                   : "field " + std::to_string(f))
                    << ": Chromium " << x << ", ours " << y << "\n";
      }
    }
    EXPECT_TRUE(differences.str().empty()) << "case " << c.name << ":\n" << differences.str();
  }
}

}  // namespace
}  // namespace quillo_test
