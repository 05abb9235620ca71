// Input to a view end to end: the pointer's moves, the three buttons with click counts (a double
// click reaches the page as "dblclick"), the wheel on both axes, keys with text in UTF-8 (beyond
// the Basic Multilingual Plane too), modifiers including Meta, and the focus; each compared with
// what the page's own event handlers saw.
#include "support/views_fixture.h"

namespace quillo_test {
namespace {

// Logs every event it gets into its title (cleared by F9, which is not logged).
const char kEventPage[] =
    "<!DOCTYPE html><html><body style='margin:0;height:100vh'>"
    "<input id=field style='position:absolute;left:200px;top:10px;width:100px'>"
    "<script>"
    "let log = [];"
    "const add = s => { log.push(s); document.title = log.join(' '); };"
    "const mods = e => (e.shiftKey ? '+S' : '') + (e.ctrlKey ? '+C' : '') +"
    "  (e.altKey ? '+A' : '') + (e.metaKey ? '+M' : '');"
    "for (const t of ['mousedown', 'mouseup', 'click', 'dblclick', 'contextmenu'])"
    "  addEventListener(t, e => {"
    "    if (t === 'contextmenu') e.preventDefault();"
    "    add(`${t}:${e.button}:${e.detail}:${e.clientX},${e.clientY}${mods(e)}`);"
    "  });"
    "addEventListener('mousemove', e => "
    "add(`move:${e.clientX},${e.clientY}:${e.buttons}${mods(e)}`));"
    "addEventListener('wheel', e => add(`wheel:${e.deltaX},${e.deltaY}${mods(e)}`));"
    "addEventListener('keydown', e => {"
    "  if (e.key === 'F9') { log = []; document.title = 'clear'; return; }"
    "  add(`keydown:${e.key}${mods(e)}`);"
    "});"
    "addEventListener('keyup', e => { if (e.key !== 'F9') add(`keyup:${e.key}${mods(e)}`); });"
    "field.addEventListener('input', () => add(`input:${field.value}`));"
    "document.title = 'ready';"
    "</script></body></html>";

constexpr int kF9 = 0x78;

TEST_F(ViewsTest, InputReachesThePageAsTheHostSentIt) {
  ViewMemory& m = NewMemory(400, 200);
  quillo_view* view = host().CreateHtml(ViewsHost::ConfigFor(m), kEventPage);
  ASSERT_TRUE(view);
  ASSERT_TRUE(host().WaitForTitle(view, "ready"));
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_FRAME));
  ASSERT_EQ(api().quillo_view_set_focus(view, 1), QUILLO_OK);
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_FOCUS));
  EXPECT_EQ(host().Notices(view)[host().Find(view, QUILLO_NOTICE_FOCUS)].code, 1);

  struct Phase {
    const char* what;
    std::function<void()> send;
    std::string expected;
  };
  const int left = QUILLO_BUTTON_LEFT, middle = QUILLO_BUTTON_MIDDLE, right = QUILLO_BUTTON_RIGHT;
  auto button = [&](int b, int down, int x, int y, int count, unsigned mods = 0) {
    ASSERT_EQ(api().quillo_view_mouse_button(view, b, down, x, y, count, mods), QUILLO_OK);
  };
  auto key = [&](int action, int code, unsigned mods, const char* text) {
    ASSERT_EQ(api().quillo_view_key(view, action, code, mods, text), QUILLO_OK);
  };
  const Phase phases[] = {
      {"a move, then a drag with the left button",
       [&] {
         api().quillo_view_mouse_move(view, 30, 40, 0);
         button(left, 1, 30, 40, 1);
         api().quillo_view_mouse_move(view, 35, 41, QUILLO_MOD_SHIFT);
         button(left, 0, 35, 41, 1);
       },
       "move:30,40:0 mousedown:0:1:30,40 move:35,41:1+S mouseup:0:1:35,41 click:0:1:35,41"},
      {"a double click",
       [&] {
         button(left, 1, 50, 60, 1);
         button(left, 0, 50, 60, 1);
         button(left, 1, 50, 60, 2);
         button(left, 0, 50, 60, 2);
       },
       "mousedown:0:1:50,60 mouseup:0:1:50,60 click:0:1:50,60 mousedown:0:1:50,60 "
       "mouseup:0:1:50,60 click:0:1:50,60 dblclick:0:2:50,60"},
      {"the middle and right buttons, with Control and Meta",
       [&] {
         button(middle, 1, 70, 80, 1, QUILLO_MOD_CONTROL);
         button(middle, 0, 70, 80, 1, QUILLO_MOD_CONTROL);
         button(right, 1, 90, 100, 1, QUILLO_MOD_META);
         button(right, 0, 90, 100, 1, QUILLO_MOD_META);
       },
       "mousedown:1:1:70,80+C mouseup:1:1:70,80+C click:1:1:70,80+C mousedown:2:1:90,100+M "
       "contextmenu:2:0:90,100+M mouseup:2:1:90,100+M"},
      // (This engine gives wheel events no modifiers.)
      {"the wheel on both axes",
       [&] { ASSERT_EQ(api().quillo_view_mouse_wheel(view, 10, 10, -25, 40, 0), QUILLO_OK); },
       "wheel:-25,40"},
      {"keys with and without text, Meta among the modifiers",
       [&] {
         key(QUILLO_KEY_DOWN, 'Q', QUILLO_MOD_SHIFT, "Q");
         key(QUILLO_KEY_UP, 'Q', QUILLO_MOD_SHIFT, nullptr);
         key(QUILLO_KEY_DOWN, 0x25, 0, nullptr);  // left arrow
         key(QUILLO_KEY_UP, 0x25, 0, nullptr);
         key(QUILLO_KEY_DOWN, 'S', QUILLO_MOD_META, nullptr);
         key(QUILLO_KEY_UP, 'S', QUILLO_MOD_META, nullptr);
       },
       "keydown:Q+S keyup:Q+S keydown:ArrowLeft keyup:ArrowLeft keydown:s+M keyup:s+M"},
      {"text typed into a field: a key's text, text alone, and a character beyond U+FFFF",
       [&] {
         button(left, 1, 220, 20, 1);
         button(left, 0, 220, 20, 1);
         key(QUILLO_KEY_DOWN, 'E', 0, "\xC3\xA9");  // é from the E key of a French layout
         key(QUILLO_KEY_UP, 'E', 0, nullptr);
         key(QUILLO_KEY_DOWN, 0, 0, "\xF0\x9F\x98\x80");  // 😀, as an input method commits it
       },
       "mousedown:0:1:220,20 mouseup:0:1:220,20 click:0:1:220,20 keydown:\xC3\xA9 "
       "input:\xC3\xA9 keyup:\xC3\xA9 keydown:\xF0\x9F\x98\x80 input:\xC3\xA9\xF0\x9F\x98\x80 "
       "keyup:\xF0\x9F\x98\x80"},
  };
  for (const Phase& phase : phases) {
    SCOPED_TRACE(phase.what);
    size_t from = host().Notices(view).size();
    key(QUILLO_KEY_DOWN, kF9, 0, nullptr);
    key(QUILLO_KEY_UP, kF9, 0, nullptr);
    ASSERT_TRUE(host().WaitForTitle(view, "clear", from));
    from = host().Notices(view).size();
    phase.send();
    std::string last;
    auto result = host().PumpUntil(
        [&] {
          for (size_t i = from; i < host().Notices(view).size(); ++i)
            if (host().Notices(view)[i].kind == QUILLO_NOTICE_TITLE)
              last = host().Notices(view)[i].text;
          return last == phase.expected;
        },
        phase.what, std::chrono::milliseconds(10000));
    EXPECT_TRUE(result) << "the page saw: " << last << "\nexpected:     " << phase.expected;
  }

  const size_t from = host().Notices(view).size();
  ASSERT_EQ(api().quillo_view_set_focus(view, 0), QUILLO_OK);
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_FOCUS, nullptr, from));
  EXPECT_EQ(host().Notices(view)[host().Find(view, QUILLO_NOTICE_FOCUS, nullptr, from)].code, 0);
}

}  // namespace
}  // namespace quillo_test

namespace quillo_test {
namespace {

// A wheel event sent before the page has shown its first frame (here: a view created hidden,
// which paints nothing) reaches the page once it does, and so does the input after it; the
// engine on its own drops such a wheel event and takes no input after it.
TEST_F(ViewsTest, AWheelBeforeTheFirstFrameWaitsForIt) {
  ViewMemory& m = NewMemory(300, 150);
  quillo_view_config config = ViewsHost::ConfigFor(m);
  config.hidden = 1;
  quillo_view* view = host().CreateHtml(config, kEventPage);
  ASSERT_TRUE(view);
  ASSERT_TRUE(host().WaitForTitle(view, "ready"));
  ASSERT_EQ(api().quillo_view_set_focus(view, 1), QUILLO_OK);
  ASSERT_EQ(api().quillo_view_mouse_wheel(view, 20, 20, 0, 30, 0), QUILLO_OK);
  ASSERT_EQ(api().quillo_view_key(view, QUILLO_KEY_DOWN, 0x25, 0, nullptr), QUILLO_OK);
  ASSERT_EQ(api().quillo_view_key(view, QUILLO_KEY_UP, 0x25, 0, nullptr), QUILLO_OK);
  host().PumpFor(std::chrono::milliseconds(300));
  EXPECT_EQ(host().FrameCount(view), 0) << "a hidden view painted";
  ASSERT_EQ(api().quillo_view_set_hidden(view, 0), QUILLO_OK);
  // (The engine keeps the order within the pointer's events and within the keys, not between
  // a wheel and a key.)
  std::string title;
  auto result = host().PumpUntil(
      [&] {
        for (const ViewNotice& n : host().Notices(view))
          if (n.kind == QUILLO_NOTICE_TITLE) title = n.text;
        return title == "wheel:0,30 keydown:ArrowLeft keyup:ArrowLeft" ||
               title == "keydown:ArrowLeft wheel:0,30 keyup:ArrowLeft" ||
               title == "keydown:ArrowLeft keyup:ArrowLeft wheel:0,30";
      },
      "the wheel and the keys");
  EXPECT_TRUE(result) << "the page saw: " << title;
  EXPECT_GT(host().FrameCount(view), 0);
}

}  // namespace
}  // namespace quillo_test
