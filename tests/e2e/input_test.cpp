// Host input reaching the page: clicks, drags, the wheel, typing into fields, the focus notice,
// the open list of a drop-down box and the cursor types reported back.
#include <algorithm>
#include <functional>
#include <string>

#include "support/e2e_fixture.h"
#include "support/keyboard.h"
#include "support/waits.h"

namespace quillo_test {
namespace {

constexpr int kWidth = 400, kHeight = 300;
constexpr Rgb kBackground{0, 128, 0};

// Fixed layout: no margins, no scroll bars, elements placed in view pixels.
std::string Page(const std::string& body, const std::string& script = "") {
  return kHtmlSource +
         "<!DOCTYPE html><html><head><style>html,body{margin:0;overflow:hidden;"
         "background:rgb(0,128,0)}</style></head><body>" +
         body + "<script>" + script + "document.title = 'ready';</script></body></html>";
}

// Whether a title notice from notice index `from` on satisfies `accept`.
bool SawTitleWhere(const Host& host, const std::function<bool(const std::string&)>& accept,
                   size_t from = 0) {
  const auto titles = host.Texts(UPDATE_TITLE, from);
  return std::any_of(titles.begin(), titles.end(), accept);
}

// The number after `prefix` in a title such as "right:120", or -1.
long NumberAfter(const std::string& title, const std::string& prefix) {
  if (title.rfind(prefix, 0) != 0 || title.size() == prefix.size()) return -1;
  try {
    return std::stol(title.substr(prefix.size()));
  } catch (...) {
    return -1;
  }
}

class Input : public E2ETest {
 protected:
  // Loads the page and waits until it has run its script and painted.
  // The view rectangle starts at (x, y) of the host's screen; the page sees view pixels only.
  ::testing::AssertionResult Open(const std::string& page, int x = 0, int y = 0) {
    PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
    buffer_ = &buffer;
    Load(buffer, page, 0, "en-US", x, y);
    if (auto ready = host().WaitForTitle("ready"); !ready) return ready;
    // No page puts an element into the bottom-right corner.
    return WaitForView(buffer, 0, {{kWidth - 1, kHeight - 1, kBackground}}, "the page painted");
  }

  void SelectList(int originX, int originY);

  PixelBuffer& buffer() { return *buffer_; }
  HostInput input() { return HostInput(lib(), host()); }

 private:
  PixelBuffer* buffer_ = nullptr;
};

// ---- mouse --------------------------------------------------------------------------------

TEST_F(Input, ClickRunsTheButtonsHandler) {
  ASSERT_TRUE(
      Open(Page("<button style=\"position:absolute;left:40px;top:50px;width:120px;height:40px\" "
                "onclick=\"document.title = 'clicked ' + event.button\">press</button>")));
  const size_t from = host().notices().size();
  // A click beside the button does nothing.
  input().Click(300, 200);
  input().Click(100, 70);
  ASSERT_TRUE(host().WaitForTitle("clicked 0", from));
  EXPECT_EQ(host().Texts(UPDATE_TITLE, from).size(), 1u) << host().Recent();
}

// The page also tells whether it saw moves with the button held, so that a failure shows
// whether the button reached the page at all. (WPE WebKit releases before 2.50 give pointer
// moves of the libwpe input path no button, and then a drag cannot select.)
TEST_F(Input, MoveWithButtonHeldSelectsText) {
  ASSERT_TRUE(
      Open(Page("<p style=\"position:absolute;left:20px;top:20px;margin:0;font:20px monospace;"
                "white-space:nowrap;color:white\">alpha beta gamma</p>",
                "let held = false;"
                "document.addEventListener('mousemove', e => { held ||= e.buttons === 1; });"
                "document.addEventListener('mouseup', () => {"
                "  document.title = 'sel:' + getSelection().toString() + '|held:' + held; });")));
  const size_t from = host().notices().size();
  // From the left edge of the first letter to well past the end of the line.
  input().Drag(21, 32, 380, 32);
  ASSERT_TRUE(host().PollUntil(
      [&] {
        return SawTitleWhere(
            host(), [](const std::string& t) { return t.rfind("sel:", 0) == 0; }, from);
      },
      "the selection reported on mouseup"));
  EXPECT_EQ(host().Texts(UPDATE_TITLE, from).back(), "sel:alpha beta gamma|held:true");
}

TEST_F(Input, WheelScrollsTheBoxUnderThePointer) {
  const std::string filler = "<div style=\"height:3000px\"></div>";
  ASSERT_TRUE(Open(Page(
      "<div style=\"position:absolute;left:0;top:0;width:190px;height:280px;overflow:auto\" "
      "onscroll=\"document.title = 'left:' + this.scrollTop\">" +
      filler +
      "</div>"
      "<div style=\"position:absolute;left:200px;top:0;width:190px;height:280px;overflow:auto\" "
      "onscroll=\"document.title = 'right:' + this.scrollTop\">" +
      filler + "</div>")));
  const size_t from = host().notices().size();
  input().Send(INPUT_MOUSE | INPUT_MOUSE_MOVE, 300, 100);
  // Negative: the wheel turned towards the user, the content moves up.
  input().Send(INPUT_MOUSE | INPUT_MOUSE_WHEEL, 0, -120);
  ASSERT_TRUE(host().PollUntil(
      [&] {
        return SawTitleWhere(
            host(), [](const std::string& t) { return NumberAfter(t, "right:") > 0; }, from);
      },
      "the right box scrolled down"));
  EXPECT_FALSE(SawTitleWhere(
      host(), [](const std::string& t) { return t.rfind("left:", 0) == 0; }, from))
      << "the box away from the pointer scrolled:\n"
      << host().Recent();
}

// ---- keyboard -----------------------------------------------------------------------------

// One text field at a known place that mirrors its value into the title.
const std::string kFieldPage = Page(
    "<input id=\"f\" style=\"position:absolute;left:20px;top:20px;width:300px;height:30px;"
    "font:16px monospace\" onfocus=\"document.title = 'focus'\" "
    "oninput=\"document.title = '[' + this.value + ']'\">");

class Keyboard : public Input {
 protected:
  // Gives the page the keyboard and puts the caret into the field.
  ::testing::AssertionResult FocusField() {
    const size_t from = host().notices().size();
    input().Send(INPUT_KEY | INPUT_FOCUS_IN, 0, 0);
    input().Click(170, 35);
    return host().WaitForTitle("focus", from);
  }
};

struct TypingCase {
  const char* name;
  friend void PrintTo(const TypingCase& c, std::ostream* os) { *os << c.name; }
  std::function<void(HostInput&)> keys;  // after "hello" was typed
  std::string title;                     // "[" + the field's value + "]"
};

class Typing : public Keyboard, public ::testing::WithParamInterface<TypingCase> {};

TEST_P(Typing, EditsTheFocusedField) {
  ASSERT_TRUE(Open(kFieldPage));
  ASSERT_TRUE(FocusField());
  input().Type("hello");
  ASSERT_TRUE(host().WaitForTitle("[hello]"));
  // From the notice of "[hello]" itself on, for the case that types nothing more.
  size_t from = host().notices().size();
  while (from > 0 && host().notices()[from - 1].text != "[hello]") --from;
  --from;
  HostInput keys = input();
  GetParam().keys(keys);
  ASSERT_TRUE(host().WaitForTitle(GetParam().title, from));
  // Nothing more arrives after the expected value.
  ASSERT_TRUE(IdlePolls(host()));
  EXPECT_EQ(host().Texts(UPDATE_TITLE, from).back(), GetParam().title) << host().Recent();
}

INSTANTIATE_TEST_SUITE_P(
    Keys, Typing,
    ::testing::Values(
        TypingCase{"Letters", [](HostInput&) {}, "[hello]"},
        TypingCase{"Backspace", [](HostInput& in) { in.Stroke(kVkBack, 0x08); }, "[hell]"},
        TypingCase{"LeftArrowThenType",
                   [](HostInput& in) {
                     in.Press(kVkLeft);
                     in.Type("x");
                   },
                   "[hellxo]"},
        TypingCase{"ControlAThenTypeReplaces",
                   [](HostInput& in) {
                     in.Send(INPUT_KEY | INPUT_KEY_DOWN | INPUT_CONTROL, 'A', 'a');
                     in.Send(INPUT_KEY | INPUT_KEY_UP | INPUT_CONTROL, 'A', 'a');
                     in.Type("z");
                   },
                   "[z]"},
        // A layout other than the US one (French AZERTY: the keys of 1 and 2 type & and é): the
        // character the host sends is typed, once, whenever it follows its KEYDOWN.
        TypingCase{"AnotherLayoutsCharacters",
                   [](HostInput& in) {
                     in.Stroke('1', '&');
                     in.Stroke('2', 0xE9);
                   },
                   "[hello&\xC3\xA9]"},
        // Only the low 16 bits of the character count: U+1F600 becomes U+F600.
        TypingCase{"CharacterCutToSixteenBits",
                   [](HostInput& in) { in.Send(INPUT_KEY | INPUT_KEY_CHAR, 0x1F600, 0x1F600); },
                   "[hello\xEF\x98\x80]"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Keyboard, EnterSubmitsTheForm) {
  ASSERT_TRUE(Open(
      Page("<form onsubmit=\"document.title = 'submitted:' + this.elements.f.value; return false\">"
           "<input id=\"f\" name=\"f\" style=\"position:absolute;left:20px;top:20px;width:300px;"
           "height:30px\" onfocus=\"document.title = 'focus'\">"
           "<button type=\"submit\" style=\"position:absolute;left:20px;top:200px\">go</button>"
           "</form>")));
  ASSERT_TRUE(FocusField());
  input().Type("ab");
  const size_t from = host().notices().size();
  input().Stroke(kVkReturn, 0x0D);
  ASSERT_TRUE(host().WaitForTitle("submitted:ab", from));
  // The handler prevented the navigation.
  ASSERT_TRUE(IdlePolls(host()));
  EXPECT_TRUE(host().Texts(UPDATE_URL, from).empty()) << host().Recent();
}

TEST_F(Keyboard, TabMovesFocusToTheNextField) {
  ASSERT_TRUE(Open(Page(
      "<input id=\"f\" style=\"position:absolute;left:20px;top:20px;width:300px;height:30px\" "
      "onfocus=\"document.title = 'focus'\" oninput=\"document.title = '1:' + this.value\">"
      "<input id=\"g\" style=\"position:absolute;left:20px;top:100px;width:300px;height:30px\" "
      "onfocus=\"document.title = 'second focused'\" "
      "oninput=\"document.title = '2:[' + this.value + '] 1:[' + f.value + ']'\">")));
  ASSERT_TRUE(FocusField());
  input().Type("a");
  ASSERT_TRUE(host().WaitForTitle("1:a"));
  const size_t from = host().notices().size();
  input().Stroke(kVkTab, 0x09);
  ASSERT_TRUE(host().WaitForTitle("second focused", from));
  // The Tab typed nothing into the first field; the next letter goes to the second.
  input().Type("b");
  EXPECT_TRUE(host().WaitForTitle("2:[b] 1:[a]", from));
}

// ---- focus --------------------------------------------------------------------------------

TEST_F(Input, FocusNoticeHoldsFromFocusInToFocusOut) {
  ASSERT_TRUE(Open(Page("",
                        "addEventListener('focus', () => document.title = 'page focused');"
                        "addEventListener('blur', () => document.title = 'page blurred');")));
  constexpr size_t kHeld = 300;
  auto last = [&] { return host().results().back(); };

  size_t from = host().notices().size();
  input().Send(INPUT_KEY | INPUT_FOCUS_IN, 0, 0);
  ASSERT_TRUE(host().PollUntil([&] { return last() != -1 && (last() & UPDATE_FOCUSED); },
                               "UPDATE_FOCUSED after focus in"));
  const size_t focused_at = host().calls() - 1;
  ASSERT_TRUE(host().PollUntil([&] { return host().calls() >= focused_at + kHeld; }, "polls"));
  for (size_t i = focused_at; i < host().calls(); ++i) {
    ASSERT_NE(host().results()[i] & UPDATE_FOCUSED, 0)
        << "call #" << i << " (" << DescribeBits(host().results()[i])
        << ") lacks UPDATE_FOCUSED while the page holds the focus";
  }
  EXPECT_TRUE(host().WaitForTitle("page focused", from));

  from = host().notices().size();
  input().Send(INPUT_KEY | INPUT_FOCUS_OUT, 0, 0);
  ASSERT_TRUE(host().PollUntil([&] { return !(last() & UPDATE_FOCUSED); },
                               "a result without UPDATE_FOCUSED after focus out"));
  const size_t blurred_at = host().calls() - 1;
  ASSERT_TRUE(host().PollUntil([&] { return host().calls() >= blurred_at + kHeld; }, "polls"));
  for (size_t i = blurred_at; i < host().calls(); ++i) {
    ASSERT_EQ(host().results()[i] & UPDATE_FOCUSED, 0)
        << "call #" << i << " (" << DescribeBits(host().results()[i])
        << ") carries UPDATE_FOCUSED after focus out";
  }
  EXPECT_TRUE(host().WaitForTitle("page blurred", from));
}

// ---- drop-down list -----------------------------------------------------------------------

// Pixels of the rectangle that still show the page background.
size_t BackgroundPixels(const PixelBuffer& buffer, int left, int top, int right, int bottom) {
  size_t count = 0;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      count += Near(ViewBytes(buffer, 0, x, y), ExpectedBytes(kBackground, 0), 8);
    }
  }
  return count;
}

// Opens a drop-down box at (20, 20) in a view whose rectangle starts at (x, y) of the host's
// screen, checks that its list is painted below it, chooses the third option by clicking where
// it is painted, and checks that the list goes again.
void Input::SelectList(int originX, int originY) {
  ASSERT_TRUE(Open(
      Page(
          "<select id=\"s\" style=\"position:absolute;left:20px;top:20px;width:150px;height:24px\" "
          "onchange=\"document.title = 'value:' + this.value\">"
          "<option value=\"a\">Alpha</option><option value=\"b\">Beta</option>"
          "<option value=\"c\">Gamma</option></select>"),
      originX, originY));
  // Below the element, where the open list goes; only page background before.
  constexpr int kLeft = 22, kRight = 168, kTop = 48, kBottom = 60;
  const size_t area = (kRight - kLeft) * (kBottom - kTop);
  ASSERT_EQ(BackgroundPixels(buffer(), kLeft, kTop, kRight, kBottom), area);

  input().Click(60, 32);
  ASSERT_TRUE(host().PollUntil(
      [&] { return BackgroundPixels(buffer(), kLeft, kTop, kRight, kBottom) < area / 10; },
      "the open list painted below the element"));
  // The list's own colours: white items, one of them maybe highlighted in blue; the green
  // background has no blue at all.
  size_t light = 0;
  for (int y = kTop; y < kBottom; ++y) {
    for (int x = kLeft; x < kRight; ++x) light += ViewBytes(buffer(), 0, x, y)[0] > 150;
  }
  EXPECT_GT(light, area / 2) << "the list area holds neither white nor blue";

  // The list's rows below the element (which ends at y = 44), at one column inside it.
  auto list_row = [&](int y) { return BackgroundPixels(buffer(), 60, y, 61, y + 1) == 0; };
  int list_top = 44;
  while (list_top < kHeight && !list_row(list_top)) ++list_top;
  int list_bottom = list_top;
  while (list_bottom < kHeight && list_row(list_bottom)) ++list_bottom;
  ASSERT_GT(list_bottom - list_top, 30) << "the list is too small for three options";
  // The third of three rows.
  const int gamma_y = list_top + (list_bottom - list_top) * 5 / 6;
  const size_t from = host().notices().size();
  input().Click(60, gamma_y);
  ASSERT_TRUE(host().WaitForTitle("value:c", from));
  EXPECT_TRUE(host().PollUntil(
      [&] {
        return BackgroundPixels(buffer(), kLeft, kTop, kRight, list_bottom) ==
               size_t(kRight - kLeft) * (list_bottom - kTop);
      },
      "the page background back where the list was"));
}

TEST_F(Input, SelectListIsPaintedAtItsPlaceAndChoosesAnOption) {
  SelectList(0, 0);
}

// The list's rectangle is in view coordinates whatever the view's origin.
TEST_F(Input, SelectListStaysAtItsPlaceWhenTheViewDoesNotStartAtTheOrigin) {
  SelectList(40, 30);
}

// ---- cursor -------------------------------------------------------------------------------

TEST_F(Input, CursorFollowsWhatIsUnderThePointer) {
  ASSERT_TRUE(Open(
      Page("<a href=\"#x\" style=\"position:absolute;left:20px;top:20px;width:150px;height:30px;"
           "display:block;background:white\">link</a>"
           "<input style=\"position:absolute;left:20px;top:100px;width:150px;height:30px\">")));
  struct Step {
    const char* over;
    int x, y;
    int cursor;  // engine cursor type + 1
  };
  // Hand = 2, I-beam = 3, pointer = 0; each is reported plus one.
  const Step steps[] = {{"the link", 60, 35, 3},
                        {"the text field", 60, 115, 4},
                        {"the empty page", 300, 250, 1},
                        {"the link again", 61, 36, 3}};
  for (const Step& step : steps) {
    const size_t from = host().calls();
    input().Send(INPUT_MOUSE | INPUT_MOUSE_MOVE, step.x, step.y);
    int seen = 0;
    ASSERT_TRUE(host().PollUntil(
        [&] {
          for (size_t i = from; i < host().calls(); ++i) {
            const int r = host().results()[i];
            if (r != -1 && (r & UPDATE_CURSOR_MASK)) seen = r & UPDATE_CURSOR_MASK;
          }
          return seen == step.cursor;
        },
        std::string("cursor ") + std::to_string(step.cursor) + " over " + step.over +
            " (last reported: " + std::to_string(seen) + ")"));
  }
}

}  // namespace
}  // namespace quillo_test
