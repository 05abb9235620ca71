// A page that says it is ready, and a view whose web process dies, end to end. The ready test
// serves a page whose web font and image the host answers late, over many pumps, and reads the
// memory at the READY notice: the image's pixels and the web font's wider glyphs are there. The
// crash tests kill the page's web process: the view keeps its last frame, one reload brings the
// page that was shown back, and with auto_reload the view does it by itself, a bounded number of
// times in a row.
#include <signal.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "support/processes.h"
#include "support/views_fixture.h"

namespace quillo_test {
namespace {

// An uncompressed 24-bit BMP of width x height pixels of one colour.
std::string Bmp(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
  const int rowBytes = (width * 3 + 3) & ~3;
  const uint32_t pixelBytes = static_cast<uint32_t>(rowBytes * height);
  std::string out;
  auto u16 = [&](uint32_t v) { out += char(v & 0xFF), out += char((v >> 8) & 0xFF); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  out += "BM";
  u32(54 + pixelBytes), u32(0), u32(54);
  u32(40), u32(static_cast<uint32_t>(width)), u32(static_cast<uint32_t>(height));
  u16(1), u16(24), u32(0), u32(pixelBytes), u32(2835), u32(2835), u32(0), u32(0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) out += char(b), out += char(g), out += char(r);
    out.append(static_cast<size_t>(rowBytes - width * 3), '\0');
  }
  return out;
}

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Count(ViewsHost& host, quillo_view* view, int kind, size_t from = 0) {
  int n = 0;
  const std::vector<ViewNotice>& notices = host.Notices(view);
  for (size_t i = from; i < notices.size(); ++i) n += notices[i].kind == kind;
  return n;
}

// Whether a pixel of the row band [top, bottom) and the column band [left, right) is dark.
bool DarkIn(const ViewMemory& m, int left, int right, int top, int bottom) {
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x)
      if (m.Rgba(x, y)[0] < 100) return true;
  return false;
}

// The web font (a monospaced one: its "i" is more than twice as wide as the fallback's) and the
// image, which the page's load handler asks for, come late: READY waits for both, and the frame
// in memory at READY shows both. A second load (a reload) gives a second READY; nothing else
// does.
TEST_F(ViewsTest, ReadyWaitsForTheSlowFontAndImageAndItsFrameShowsThem) {
  const std::string font = ReadFile("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf");
  if (font.empty()) GTEST_SKIP() << "no DejaVu Sans Mono on this machine";
  ASSERT_EQ(api().quillo_register_scheme("slow"), QUILLO_OK);
  const std::string page =
      "<!doctype html><html><head><title>slow</title><style>"
      "@font-face { font-family: Slow; src: url(font.ttf); font-display: swap; }"
      "html, body { margin: 0; background: #fff; }"
      "#t { position: absolute; left: 0; top: 0; font: 40px Slow, serif; color: #000;"
      " white-space: nowrap; }"
      "#i { position: absolute; left: 0; top: 60px; width: 64px; height: 64px; }"
      "</style></head><body><script>"
      // Added by the load handler: neither the font nor the image holds the load event up.
      "addEventListener('load', () => document.body.insertAdjacentHTML('beforeend',"
      " '<div id=t>iiiiiiiiii</div><img id=i src=pic.bmp>'));"
      "</script></body></html>";
  const std::string picture = Bmp(64, 64, 0, 160, 0);

  ViewMemory& m = NewMemory(320, 140);
  quillo_view* view = host().Create(ViewsHost::ConfigFor(m), "slow://p/index.html");
  ASSERT_TRUE(view);

  // The page at once; the image and the font each after many pumps of their own.
  struct Late {
    uint64_t id = 0;
    int pumpsLeft = 0;
    bool answered = false;
  };
  Late image, webFont;
  size_t read = 0;
  int loads = 0;
  auto serve = [&](bool late) {
    const std::vector<ViewNotice>& notices = host().Notices(view);
    for (; read < notices.size(); ++read) {
      const ViewNotice& n = notices[read];
      if (n.kind != QUILLO_NOTICE_REQUEST) continue;
      if (n.text == "slow://p/index.html") {
        ++loads;
        EXPECT_EQ(
            api().quillo_view_respond(view, n.id, 200, "text/html", page.data(), page.size(), 1),
            QUILLO_OK);
      } else if (n.text == "slow://p/pic.bmp" || n.text == "slow://p/font.ttf") {
        Late& which = n.text == "slow://p/pic.bmp" ? image : webFont;
        which = Late{n.id, late ? (&which == &image ? 60 : 120) : 0, false};
      } else {
        ADD_FAILURE() << "an unexpected request: " << n.text;
        api().quillo_view_respond(view, n.id, 0, nullptr, nullptr, 0, 1);
      }
    }
    for (Late* which : {&image, &webFont}) {
      if (which->id == 0 || which->answered || which->pumpsLeft-- > 0) continue;
      // Nothing may say the page is ready while a part of it is missing.
      EXPECT_EQ(Count(host(), view, QUILLO_NOTICE_READY), loads - 1)
          << "READY before the page's " << (which == &image ? "image" : "font") << " came";
      const std::string& body = which == &image ? picture : font;
      EXPECT_EQ(api().quillo_view_respond(view, which->id, 200,
                                          which == &image ? "image/bmp" : "font/ttf", body.data(),
                                          body.size(), 1),
                QUILLO_OK);
      which->answered = true;
    }
  };
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        serve(true);
        return image.answered && webFont.answered;
      },
      "the page's image and font asked for and answered late"));
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        serve(true);
        return Count(host(), view, QUILLO_NOTICE_READY) == 1;
      },
      "READY"));
  // The memory holds the frame READY names (the host support checks that its FRAME notice
  // came right before it, after the same pump).
  const std::vector<ViewNotice>& notices = host().Notices(view);
  const ViewNotice& ready = notices.back();
  ASSERT_EQ(ready.kind, QUILLO_NOTICE_READY) << Describe(ready);
  EXPECT_EQ(ready.text, "slow://p/index.html");
  EXPECT_GT(ready.id, 0u);
  EXPECT_TRUE(NearRgba(m.Rgba(32, 92), {0, 160, 0, 255}, 8))
      << "the image at READY: " << DescribeRgba(m.Rgba(32, 92));
  // Ten monospaced "i" of 40 px reach past x = 230; the fallback's end before x = 150.
  EXPECT_TRUE(DarkIn(m, 180, 236, 0, 56)) << "the web font is not drawn at READY";
  EXPECT_FALSE(DarkIn(m, 250, 320, 0, 56)) << "text beyond the web font's width";

  // Once per load: pumping on gives no more; a reload arms it again.
  host().PumpFor(std::chrono::milliseconds(500));
  EXPECT_EQ(Count(host(), view, QUILLO_NOTICE_READY), 1);
  const size_t again = host().Notices(view).size();
  image = webFont = Late{};
  ASSERT_EQ(api().quillo_view_reload(view), QUILLO_OK);
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        serve(false);
        return Count(host(), view, QUILLO_NOTICE_READY, again) == 1;
      },
      "READY after the reload"));
  EXPECT_GE(host().Find(view, QUILLO_NOTICE_READY, nullptr, again),
            host().Find(view, QUILLO_NOTICE_LOAD_FINISHED, nullptr, again));
  EXPECT_TRUE(NearRgba(m.Rgba(32, 92), {0, 160, 0, 255}, 8));
  EXPECT_TRUE(DarkIn(m, 180, 236, 0, 56));
  EXPECT_TRUE(host().violations().empty());
}

// Kills every web process of the test (one view: its page's, and any kept in reserve).
void KillPage(ViewsHost& host) {
  ASSERT_TRUE(host.PumpUntil([] { return !PageProcesses().empty(); }, "the page's web process"));
  KillChildren("WPEWebProcess");
}

// The page shown when the process dies is the second of the view's history; its last frame
// stays in memory, byte for byte, and one reload brings that page (not the first) back, with no
// frame on the way that is not the page's.
TEST_F(ViewsTest, ACrashedViewKeepsItsLastFrameAndOneReloadBringsThePageBack) {
  ViewMemory& m = NewMemory(160, 100);
  quillo_view* view =
      host().CreateHtml(ViewsHost::ConfigFor(m),
                        "<title>first</title><body style='margin:0;background:rgb(40,90,200)'>");
  ASSERT_TRUE(view);
  ASSERT_TRUE(host().WaitForTitle(view, "first"));
  const size_t second = host().Notices(view).size();
  ASSERT_EQ(api().quillo_view_load_html(
                view,
                "<title>second</title><body style='margin:0;background:rgb(200,60,40)'>"
                "<div style='width:40px;height:40px;background:rgb(20,160,20)'></div>"),
            QUILLO_OK);
  // (The first page's READY may come after the second was asked for: it names the first.)
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_LOAD_FINISHED, nullptr, second));
  const std::string secondUrl = host()
                                    .Notices(view)[static_cast<size_t>(host().Find(
                                        view, QUILLO_NOTICE_LOAD_FINISHED, nullptr, second))]
                                    .text;
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_READY, &secondUrl, second));
  EXPECT_TRUE(NearRgba(m.Rgba(100, 70), {200, 60, 40, 255}));
  const std::vector<uint8_t> before(m.data(), m.data() + m.stride() * m.height());

  const size_t from = host().Notices(view).size();
  KillPage(host());
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_PROCESS_GONE, nullptr, from));
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_LOAD_FAILED, nullptr, from));
  host().PumpFor(std::chrono::milliseconds(1000));
  EXPECT_EQ(Count(host(), view, QUILLO_NOTICE_FRAME, from), 0) << host().Recent(view);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), m.data()))
      << "the memory changed after the web process ended";
  EXPECT_EQ(Count(host(), view, QUILLO_NOTICE_LOAD_STARTED, from), 0) << "reloaded by itself";

  // One call. Every frame from then on shows the second page: its background, never white,
  // black or transparent.
  const size_t reload = host().Notices(view).size();
  ASSERT_EQ(api().quillo_view_reload(view), QUILLO_OK);
  int frames = 0;
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        const int now = Count(host(), view, QUILLO_NOTICE_FRAME, reload);
        if (now > frames) {
          frames = now;
          EXPECT_TRUE(NearRgba(m.Rgba(100, 70), {200, 60, 40, 255}))
              << "frame " << now << " after the reload shows " << DescribeRgba(m.Rgba(100, 70))
              << host().Recent(view);
        }
        return Count(host(), view, QUILLO_NOTICE_READY, reload) == 1;
      },
      "the page back after one reload"));
  EXPECT_GE(host().Find(view, QUILLO_NOTICE_TITLE, nullptr, reload), 0);
  const std::string title = "second";
  EXPECT_GE(host().Find(view, QUILLO_NOTICE_TITLE, &title, reload), 0) << host().Recent(view);
  EXPECT_TRUE(NearRgba(m.Rgba(20, 20), {20, 160, 20, 255}));
  EXPECT_TRUE(host().violations().empty());
}

// config.auto_reload 2: each death is answered by a reload after a wait that doubles, until the
// third death in a row, which stops it; the host's own reload and ten seconds up start the
// count anew. Bad values of the field are refused, and a host of the first config version
// (whose struct ends before the field) never gets reloads.
TEST_F(ViewsTest, AutoReloadIsBoundedAndStartsAnewOnceThePageStaysUp) {
  ViewMemory& m = NewMemory(100, 60);
  quillo_view_config config = ViewsHost::ConfigFor(m);
  quillo_view* refused = nullptr;
  for (int bad : {-1, QUILLO_MAX_AUTO_RELOADS + 1}) {
    config.auto_reload = bad;
    EXPECT_EQ(api().quillo_view_create_html(&config, "x", &refused), QUILLO_ERROR_BAD_CONFIG);
  }
  config.auto_reload = 2;
  const std::string page = "<title>up</title><body style='background:rgb(10,120,30)'>";
  quillo_view* view = host().CreateHtml(config, page);
  ASSERT_TRUE(view);
  const std::string up = "up";
  ASSERT_TRUE(host().WaitForTitle(view, up));
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_READY));

  // Dies, is reloaded by itself (attempt, wait) and loads again.
  auto dieAndCome = [&](int attempt, uint64_t wait) {
    const size_t from = host().Notices(view).size();
    KillPage(host());
    ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_AUTO_RELOAD, nullptr, from));
    const int at = host().Find(view, QUILLO_NOTICE_AUTO_RELOAD, nullptr, from);
    const ViewNotice& n = host().Notices(view)[static_cast<size_t>(at)];
    EXPECT_EQ(n.code, attempt);
    EXPECT_EQ(n.id, wait);
    EXPECT_GT(at, host().Find(view, QUILLO_NOTICE_PROCESS_GONE, nullptr, from));
    ASSERT_TRUE(host().WaitForTitle(view, up, static_cast<size_t>(at)));
    ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_READY, nullptr, static_cast<size_t>(at)));
    EXPECT_EQ(Count(host(), view, QUILLO_NOTICE_LOAD_STARTED, from), 1);
  };
  dieAndCome(1, 500);
  dieAndCome(2, 1000);
  const size_t third = host().Notices(view).size();
  KillPage(host());
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_AUTO_RELOAD_STOPPED, nullptr, third));
  EXPECT_EQ(host()
                .Notices(view)[static_cast<size_t>(
                    host().Find(view, QUILLO_NOTICE_AUTO_RELOAD_STOPPED, nullptr, third))]
                .code,
            2);
  host().PumpFor(std::chrono::milliseconds(2500));
  EXPECT_EQ(Count(host(), view, QUILLO_NOTICE_AUTO_RELOAD, third), 0);
  EXPECT_EQ(Count(host(), view, QUILLO_NOTICE_LOAD_STARTED, third), 0) << "reloaded past the limit";
  EXPECT_TRUE(NearRgba(m.Rgba(50, 30), {10, 120, 30, 255})) << "the last frame went";

  // The host brings it back; up for ten seconds, the count starts anew.
  const size_t back = host().Notices(view).size();
  ASSERT_EQ(api().quillo_view_reload(view), QUILLO_OK);
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_READY, nullptr, back));
  host().PumpFor(std::chrono::milliseconds(10500));
  dieAndCome(1, 500);

  // A host of the first config version: the bytes past its struct are not read.
  ViewMemory& old = NewMemory(40, 40);
  quillo_view_config first = ViewsHost::ConfigFor(old);
  first.size = offsetof(quillo_view_config, auto_reload);
  first.auto_reload = -7;
  quillo_view* oldView = nullptr;
  EXPECT_EQ(api().quillo_view_create_html(&first, "<title>old</title>", &oldView), QUILLO_OK);
  if (oldView) {
    EXPECT_EQ(api().quillo_view_destroy(oldView), QUILLO_OK);
  }
  EXPECT_TRUE(host().violations().empty());
}

}  // namespace
}  // namespace quillo_test
