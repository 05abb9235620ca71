// The views interface end to end: several views at once, each its own page, memory layout and
// notices; dialogs answered with text. Each case drives a private library copy through
// quillo/views.h with the real engine.
#include <thread>

#include "support/pixels.h"
#include "support/views_fixture.h"

namespace quillo_test {
namespace {

using Rgba = std::array<uint8_t, 4>;

// Whether every pixel of rows [top, bottom) of memory is near colour.
bool RowsAre(const ViewMemory& m, int top, int bottom, const Rgba& colour, int format,
             bool bottomUp, std::string* first = nullptr) {
  for (int y = top; y < bottom; ++y)
    for (int x = 0; x < m.width(); ++x)
      if (!NearRgba(m.Rgba(x, y, format, bottomUp), colour)) {
        if (first)
          *first = "(" + std::to_string(x) + "," + std::to_string(y) + ") is " +
                   DescribeRgba(m.Rgba(x, y, format, bottomUp)) + ", not " + DescribeRgba(colour);
        return false;
      }
  return true;
}

// The notices of one view are in a sound order: a load starts before it finishes, frame
// numbers grow, and every frame's rectangle lies inside the memory.
void ExpectSoundOrder(const std::vector<ViewNotice>& notices, int width, int height) {
  uint64_t lastFrame = 0;
  int started = 0, finished = 0;
  for (const ViewNotice& n : notices) {
    if (n.kind == QUILLO_NOTICE_LOAD_STARTED) ++started;
    if (n.kind == QUILLO_NOTICE_LOAD_FINISHED) {
      ++finished;
      EXPECT_LE(finished, started) << "a load finished before it started: " << Describe(n);
    }
    if (n.kind != QUILLO_NOTICE_FRAME) continue;
    EXPECT_GT(n.id, lastFrame) << Describe(n);
    lastFrame = n.id;
    EXPECT_TRUE(n.rect.x >= 0 && n.rect.y >= 0 && n.rect.width > 0 && n.rect.height > 0 &&
                n.rect.x + n.rect.width <= width && n.rect.y + n.rect.height <= height)
        << Describe(n);
  }
}

// Three views at once, each in its own layout (padded stride and BGRA; RGBA bottom-up; a page
// from a server), each painting its own page and reporting only its own notices; destroying
// one leaves the others running.
TEST_F(ViewsTest, ManyViewsPaintTheirOwnPagesInTheirOwnLayouts) {
  ViewMemory& a = NewMemory(320, 200, 320 * 4 + 36);
  ViewMemory& b = NewMemory(160, 120);
  ViewMemory& c = NewMemory(64, 48);
  for (ViewMemory* m : {&a, &b, &c}) m->Fill(0x21436587);
  server().Serve("/c", HtmlResponse("<title>C</title>" +
                                    SplitPageHtml({0, 0, 255}, {255, 255, 0}).substr(15)));

  quillo_view_config ca = ViewsHost::ConfigFor(a);
  quillo_view* va = host().CreateHtml(
      ca, "<title>A</title>" + SplitPageHtml({255, 0, 0}, {0, 255, 0}).substr(15) +
              "<script>let n = 0; setInterval(() => document.title = 'A ' + ++n, 30)</script>");
  quillo_view_config cb = ViewsHost::ConfigFor(b);
  cb.format = QUILLO_FORMAT_RGBA;
  cb.bottom_up = 1;
  quillo_view* vb =
      host().CreateHtml(cb, "<title>B</title>" + SplitPageHtml({0, 0, 255}, {255, 255, 255}));
  quillo_view* vc = host().Create(ViewsHost::ConfigFor(c), server().Url("/c"));
  ASSERT_TRUE(va && vb && vc);

  const Rgba red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255},
      white{255, 255, 255, 255}, yellow{255, 255, 0, 255};
  auto painted = [&] {
    return RowsAre(a, 0, 100, red, QUILLO_FORMAT_BGRA, false) &&
           RowsAre(a, 100, 200, green, QUILLO_FORMAT_BGRA, false) &&
           RowsAre(b, 0, 60, blue, QUILLO_FORMAT_RGBA, true) &&
           RowsAre(b, 60, 120, white, QUILLO_FORMAT_RGBA, true) &&
           RowsAre(c, 0, 24, blue, QUILLO_FORMAT_BGRA, false) &&
           RowsAre(c, 24, 48, yellow, QUILLO_FORMAT_BGRA, false);
  };
  auto result = host().PumpUntil(painted, "each view's page in its own memory");
  if (!result) {
    std::string why;
    RowsAre(b, 0, 60, blue, QUILLO_FORMAT_RGBA, true, &why);
    result << "\nview B: " << why;
  }
  ASSERT_TRUE(result);
  // Bottom-up: the first row in B's memory is the page's last (white).
  EXPECT_TRUE(NearRgba(b.Rgba(0, 0, QUILLO_FORMAT_RGBA, false), white));
  for (ViewMemory* m : {&a, &b, &c}) {
    std::string where;
    EXPECT_TRUE(m->Intact(&where)) << where;
  }

  ASSERT_TRUE(host().WaitForTitle(vb, "B"));
  ASSERT_TRUE(host().WaitForTitle(vc, "C"));
  ASSERT_TRUE(host().WaitForTitle(va, "A 3"));
  for (auto [view, memory] : {std::pair{va, &a}, std::pair{vb, &b}, std::pair{vc, &c}}) {
    const auto& notices = host().Notices(view);
    ExpectSoundOrder(notices, memory->width(), memory->height());
    EXPECT_GE(host().Find(view, QUILLO_NOTICE_LOAD_FINISHED), 0) << host().Recent(view);
    // The first frame is the whole page.
    const int frame = host().Find(view, QUILLO_NOTICE_FRAME);
    ASSERT_GE(frame, 0);
    const quillo_rect& r = notices[frame].rect;
    EXPECT_TRUE(r.x == 0 && r.y == 0 && r.width == memory->width() && r.height == memory->height())
        << Describe(notices[frame]);
    // Only its own titles.
    for (const ViewNotice& n : notices) {
      if (n.kind != QUILLO_NOTICE_TITLE) continue;
      EXPECT_EQ(n.text[0], view == va ? 'A' : view == vb ? 'B' : 'C') << Describe(n);
    }
  }
  const std::string cUrl = server().Url("/c");
  EXPECT_GE(host().Find(vc, QUILLO_NOTICE_URL, &cUrl), 0) << host().Recent(vc);
  const int finishedAt = host().Find(vc, QUILLO_NOTICE_LOAD_FINISHED);
  EXPECT_EQ(host().Notices(vc)[finishedAt].code, 200);
  // A's title ticks in order, each reported once. (The engine itself may merge two title
  // changes that come in one turn of a busy page's loop, so ticks may be skipped.)
  int lastTick = 0;
  for (const ViewNotice& n : host().Notices(va)) {
    if (n.kind != QUILLO_NOTICE_TITLE || n.text == "A") continue;
    const int tick = std::stoi(n.text.substr(2));
    EXPECT_GT(tick, lastTick) << "title ticks out of order or reported twice";
    lastTick = tick;
  }

  // B goes; A and C go on, and B's memory is never written again.
  ASSERT_EQ(host().Destroy(vb), QUILLO_OK);
  b.Fill(0x11223344);
  const size_t before = host().Notices(va).size();
  ASSERT_TRUE(host().WaitForTitle(va, "A " + std::to_string(lastTick + 5), before));
  EXPECT_TRUE(RowsAre(b, 0, 120, {0x44, 0x33, 0x22, 0x11}, QUILLO_FORMAT_RGBA, false))
      << "a destroyed view's memory was written";
  quillo_notice n = quillo_notice_init();
  EXPECT_EQ(api().quillo_view_next_notice(vb, &n), QUILLO_ERROR_BAD_HANDLE);
  EXPECT_EQ(api().quillo_view_destroy(vb), QUILLO_ERROR_BAD_HANDLE);
  EXPECT_TRUE(RowsAre(c, 0, 24, blue, QUILLO_FORMAT_BGRA, false));
}

// alert, confirm and prompt, each answered by the host: OK, Cancel, and OK with a text of its
// own; a dialog is answered once, and only a dialog the host was told of.
TEST_F(ViewsTest, DialogsAreAnsweredWithAcceptAndPromptText) {
  ViewMemory& m = NewMemory(200, 100);
  quillo_view* view = host().CreateHtml(ViewsHost::ConfigFor(m),
                                        "<script>onload = () => setTimeout(() => {"
                                        "  const a = alert('first');"
                                        "  const c = confirm('second?');"
                                        "  const p = prompt('third?', 'default');"
                                        "  const q = prompt('fourth?', 'kept');"
                                        "  document.title = [a, c, p, q].map(String).join('|');"
                                        "}, 0)</script>");
  ASSERT_TRUE(view);

  struct Answer {
    int type;
    std::string message, defaultText;
    int accept;
    const char* text;
  };
  const Answer answers[] = {
      {QUILLO_DIALOG_ALERT, "first", "", 1, nullptr},
      {QUILLO_DIALOG_CONFIRM, "second?", "", 0, nullptr},
      {QUILLO_DIALOG_PROMPT, "third?", "default", 1, "h\xC3\xB6st \xE2\x9C\x93"},
      {QUILLO_DIALOG_PROMPT, "fourth?", "kept", 0, "ignored"}};
  size_t from = 0;
  for (const Answer& answer : answers) {
    ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_DIALOG, nullptr, from));
    const int at = host().Find(view, QUILLO_NOTICE_DIALOG, nullptr, from);
    const ViewNotice dialog = host().Notices(view)[at];
    from = at + 1;
    EXPECT_EQ(dialog.code, answer.type) << Describe(dialog);
    EXPECT_EQ(dialog.text, answer.message);
    EXPECT_EQ(dialog.detail, answer.defaultText);
    EXPECT_EQ(api().quillo_view_answer_dialog(view, dialog.id + 1000, 1, nullptr),
              QUILLO_ERROR_NOT_FOUND);
    ASSERT_EQ(api().quillo_view_answer_dialog(view, dialog.id, answer.accept, answer.text),
              QUILLO_OK);
    EXPECT_EQ(api().quillo_view_answer_dialog(view, dialog.id, 1, nullptr), QUILLO_ERROR_NOT_FOUND);
  }
  EXPECT_TRUE(host().WaitForTitle(view, "undefined|false|h\xC3\xB6st \xE2\x9C\x93|null"));
}

}  // namespace
}  // namespace quillo_test
