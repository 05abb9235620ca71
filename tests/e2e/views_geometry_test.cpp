// A view's geometry end to end: resizing without a reload (and never writing the memory handed
// over before), transparent pages with premultiplied pixels, and device scale.
#include <random>

#include "support/views_fixture.h"

namespace quillo_test {
namespace {

using Rgba = std::array<uint8_t, 4>;

// A page whose viewport has a 4-pixel red frame on green, that reports its viewport, scale,
// scroll position, the id it drew when it loaded and its field's text in the title whenever the
// viewport changes (and when asked by a click).
const char kFramedPage[] =
    "<!DOCTYPE html><html><head><style>"
    "html,body{margin:0;background:#00ff00;height:3000px}::-webkit-scrollbar{display:none}"
    "#edge{position:fixed;inset:0;border:4px solid #ff0000;pointer-events:none}"
    "#field{margin:20px}"
    "</style></head><body><div id=edge></div><input id=field>"
    "<script>"
    "const id = Math.random().toString(36).slice(2, 8);"
    "const report = () => document.title = [innerWidth, innerHeight, devicePixelRatio, scrollY,"
    "  id, field.value].join(' ');"
    "onresize = report; onscroll = report; onclick = report; field.oninput = report; report();"
    "</script></body></html>";

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t space = text.find(' ', start);
    parts.push_back(text.substr(start, space - start));
    if (space == std::string::npos) return parts;
    start = space + 1;
  }
}

// Whether memory shows the framed page at its size: red at the four edges, green inside.
bool ShowsFrame(const ViewMemory& m, std::string* why) {
  const Rgba red{255, 0, 0, 255}, green{0, 255, 0, 255};
  const int w = m.width(), h = m.height();
  const std::pair<int, int> edges[] = {{0, 0},     {w - 1, 0},     {0, h - 1}, {w - 1, h - 1},
                                       {w / 2, 1}, {w / 2, h - 2}, {1, h / 2}, {w - 2, h / 2}};
  for (auto [x, y] : edges)
    if (!NearRgba(m.Rgba(x, y), red)) {
      *why = "edge (" + std::to_string(x) + "," + std::to_string(y) + ") is " +
             DescribeRgba(m.Rgba(x, y));
      return false;
    }
  for (auto [x, y] : {std::pair{w / 2, h / 2}, std::pair{8, h - 8}, std::pair{w - 8, h - 8}})
    if (!NearRgba(m.Rgba(x, y), green)) {
      *why = "inside (" + std::to_string(x) + "," + std::to_string(y) + ") is " +
             DescribeRgba(m.Rgba(x, y));
      return false;
    }
  return true;
}

// Resizing lays the page out again without a reload: its script state, scroll position and
// typed text stay; the new memory (with a stride of its own) shows the page at the new size, and
// the memory before is never written again. Then a storm of twenty resizes: every frame after the
// last one has the last size.
TEST_F(ViewsTest, ResizeKeepsThePageAndLeavesTheOldMemoryAlone) {
  ViewMemory& first = NewMemory(200, 150);
  quillo_view* view = host().CreateHtml(ViewsHost::ConfigFor(first), kFramedPage);
  ASSERT_TRUE(view);
  std::string why;
  ASSERT_TRUE(host().PumpUntil([&] { return ShowsFrame(first, &why); }, "the framed page")) << why;
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_LOAD_FINISHED));
  // State to keep: text in the field, the page scrolled.
  api().quillo_view_set_focus(view, 1);
  api().quillo_view_mouse_button(view, QUILLO_BUTTON_LEFT, 1, 40, 30, 1, 0);
  api().quillo_view_mouse_button(view, QUILLO_BUTTON_LEFT, 0, 40, 30, 1, 0);
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_FOCUS));
  api().quillo_view_key(view, QUILLO_KEY_DOWN, 'K', 0, "k");
  api().quillo_view_key(view, QUILLO_KEY_UP, 'K', 0, nullptr);
  size_t from = host().Notices(view).size();
  auto lastTitle = [&] {
    std::string title;
    for (const ViewNotice& n : host().Notices(view))
      if (n.kind == QUILLO_NOTICE_TITLE) title = n.text;
    return title;
  };
  // Typing scrolls the field into view, so the page is scrolled once the text is in.
  ASSERT_TRUE(host().PumpUntil([&] { return Split(lastTitle()).back() == "k"; }, "the text typed"));
  api().quillo_view_mouse_wheel(view, 100, 100, 0, 300, 0);
  auto stateKept = [&] {
    const auto p = Split(lastTitle());
    return p.size() == 6 && p[3] == "300" && p[5] == "k";
  };
  ASSERT_TRUE(host().PumpUntil(stateKept, "the text typed and the page scrolled")) << lastTitle();
  const std::string before = lastTitle();
  const std::string id = Split(before)[4];
  const int loads = static_cast<int>(
      std::count_if(host().Notices(view).begin(), host().Notices(view).end(),
                    [](const ViewNotice& n) { return n.kind == QUILLO_NOTICE_LOAD_STARTED; }));

  ViewMemory& second = NewMemory(320, 240, 320 * 4 + 64);
  second.Fill(0x01020304);
  from = host().Notices(view).size();
  ASSERT_EQ(api().quillo_view_resize(view, 320, 240, second.data(), second.stride()), QUILLO_OK);
  first.Fill(0x55667788);
  const std::string after = "320 240 1 300 " + id + " k";
  ASSERT_TRUE(host().WaitForTitle(view, after, from));
  ASSERT_TRUE(host().PumpUntil([&] { return ShowsFrame(second, &why); }, "the page at 320x240"))
      << why;
  EXPECT_TRUE(second.Intact(&why)) << why;
  for (int y = 0; y < first.height(); ++y)
    for (int x = 0; x < first.width(); ++x)
      ASSERT_EQ(first.Rgba(x, y, QUILLO_FORMAT_RGBA), (Rgba{0x88, 0x77, 0x66, 0x55}))
          << "the memory before the resize was written at (" << x << "," << y << ")";
  // Frames after the resize are of the new size; their numbers go on from the ones before.
  uint64_t lastFrame = 0;
  for (size_t i = 0; i < host().Notices(view).size(); ++i) {
    const ViewNotice& n = host().Notices(view)[i];
    if (n.kind != QUILLO_NOTICE_FRAME) continue;
    EXPECT_GT(n.id, lastFrame);
    lastFrame = n.id;
    if (i >= from) {
      EXPECT_LE(n.rect.x + n.rect.width, 320) << Describe(n);
    }
  }
  const int loadsAfter = static_cast<int>(
      std::count_if(host().Notices(view).begin(), host().Notices(view).end(),
                    [](const ViewNotice& n) { return n.kind == QUILLO_NOTICE_LOAD_STARTED; }));
  EXPECT_EQ(loadsAfter, loads) << "a resize reloaded the page";

  // Twenty resizes in a row, each into memory of its own, without pumping between them.
  std::mt19937 random(22);
  std::deque<ViewMemory> storm;
  for (int i = 0; i < 20; ++i) {
    const int w = 60 + static_cast<int>(random() % 400), h = 60 + static_cast<int>(random() % 300);
    storm.emplace_back(w, h);
    ASSERT_EQ(api().quillo_view_resize(view, w, h, storm.back().data(), 0), QUILLO_OK);
  }
  const ViewMemory& last = storm.back();
  from = host().Notices(view).size();
  const std::string stormTitle =
      std::to_string(last.width()) + " " + std::to_string(last.height()) + " 1 300 " + id + " k";
  ASSERT_TRUE(host().WaitForTitle(view, stormTitle, from));
  ASSERT_TRUE(host().PumpUntil([&] { return ShowsFrame(last, &why); }, "the last size")) << why;
  for (size_t i = from; i < host().Notices(view).size(); ++i) {
    const ViewNotice& n = host().Notices(view)[i];
    if (n.kind != QUILLO_NOTICE_FRAME) continue;
    EXPECT_TRUE(n.rect.x + n.rect.width <= last.width() &&
                n.rect.y + n.rect.height <= last.height())
        << Describe(n);
  }
  // The memories of the storm but the last were never written.
  for (size_t i = 0; i + 1 < storm.size(); ++i)
    EXPECT_EQ(storm[i].At(storm[i].width() / 2, storm[i].height() / 2),
              (std::array<uint8_t, 4>{0xA5, 0xA5, 0xA5, 0xA5}))
        << "memory " << i << " of the storm was written";
}

// A transparent view keeps the page's transparent parts transparent, premultiplied: 50 % white is
// (128, 128, 128, 128), nothing is (0, 0, 0, 0), opaque red is opaque; also after a reload. An
// opaque view paints the same page on white.
TEST_F(ViewsTest, TransparentPagesKeepTheirAlphaPremultiplied) {
  const char kPage[] =
      "<!DOCTYPE html><html style='background:transparent'><body style='margin:0'>"
      "<div style='height:50px;background:rgba(255,255,255,0.5)'></div>"
      "<div style='width:40px;height:40px;background:#ff0000'></div>"
      "<div id=mark style='width:10px;height:10px'></div>"
      "<script>mark.style.background = `hsl(${Math.random() * 360}, 100%, 50%)`;"
      "document.title = 'drawn'</script></body></html>";
  ViewMemory& clear = NewMemory(120, 120);
  ViewMemory& opaque = NewMemory(120, 120);
  quillo_view_config config = ViewsHost::ConfigFor(clear);
  config.transparent = 1;
  quillo_view* glass = host().CreateHtml(config, kPage);
  quillo_view* solid = host().CreateHtml(ViewsHost::ConfigFor(opaque), kPage);
  ASSERT_TRUE(glass && solid);
  const Rgba half{128, 128, 128, 128}, none{0, 0, 0, 0}, red{255, 0, 0, 255},
      white{255, 255, 255, 255};
  auto glassRight = [&] {
    return NearRgba(clear.Rgba(60, 20), half, 2) && NearRgba(clear.Rgba(20, 70), red) &&
           NearRgba(clear.Rgba(80, 100), none, 0);
  };
  auto result = host().PumpUntil(
      [&] {
        return glassRight() && NearRgba(opaque.Rgba(60, 20), white) &&
               NearRgba(opaque.Rgba(80, 100), white) && NearRgba(opaque.Rgba(20, 70), red);
      },
      "the page on glass and on white");
  if (!result)
    result << "\ntransparent: half " << DescribeRgba(clear.Rgba(60, 20)) << ", red "
           << DescribeRgba(clear.Rgba(20, 70)) << ", empty " << DescribeRgba(clear.Rgba(80, 100))
           << "\nopaque: half " << DescribeRgba(opaque.Rgba(60, 20)) << ", empty "
           << DescribeRgba(opaque.Rgba(80, 100));
  ASSERT_TRUE(result);

  // After a reload (whose mark has another colour, so the page paints anew), still
  // transparent: a background that turned opaque would differ and be copied.
  ASSERT_TRUE(host().WaitFor(glass, QUILLO_NOTICE_LOAD_FINISHED));
  const size_t from = host().Notices(glass).size();
  ASSERT_EQ(api().quillo_view_reload(glass), QUILLO_OK);
  ASSERT_TRUE(host().WaitFor(glass, QUILLO_NOTICE_LOAD_FINISHED, nullptr, from));
  ASSERT_TRUE(host().WaitFor(glass, QUILLO_NOTICE_FRAME, nullptr, from));
  host().PumpFor(std::chrono::milliseconds(200));
  EXPECT_TRUE(glassRight()) << DescribeRgba(clear.Rgba(60, 20)) << " "
                            << DescribeRgba(clear.Rgba(80, 100));
}

// Device scale: the page's devicePixelRatio is the host's, the memory is in device pixels (a
// 1-CSS-pixel line is two device pixels wide at 2x), input positions are device pixels, and a
// new scale lays the same memory out again.
TEST_F(ViewsTest, DeviceScaleDrawsSharpAndTakesDevicePixels) {
  ViewMemory& m = NewMemory(400, 300);
  quillo_view_config config = ViewsHost::ConfigFor(m);
  config.device_scale = 2;
  quillo_view* view = host().CreateHtml(
      config,
      "<!DOCTYPE html><body style='margin:0;background:#fff'>"
      "<div style='position:fixed;left:50px;top:0;width:1px;height:100%;background:#000'></div>"
      "<script>const report = e => document.title = [innerWidth, innerHeight, devicePixelRatio,"
      " e ? e.clientX + ',' + e.clientY : '-'].join(' ');"
      "onresize = () => report(); onmousedown = report; report()</script></body>");
  ASSERT_TRUE(view);
  ASSERT_TRUE(host().WaitForTitle(view, "200 150 2 -"));
  const Rgba black{0, 0, 0, 255}, white{255, 255, 255, 255};
  auto result = host().PumpUntil(
      [&] {
        return NearRgba(m.Rgba(100, 150), black, 8) && NearRgba(m.Rgba(101, 150), black, 8) &&
               NearRgba(m.Rgba(99, 150), white, 8) && NearRgba(m.Rgba(102, 150), white, 8);
      },
      "a line two device pixels wide at x = 100");
  if (!result)
    for (int x = 98; x <= 103; ++x) result << "\nx " << x << ": " << DescribeRgba(m.Rgba(x, 150));
  ASSERT_TRUE(result);

  const size_t from = host().Notices(view).size();
  api().quillo_view_mouse_button(view, QUILLO_BUTTON_LEFT, 1, 200, 100, 1, 0);
  api().quillo_view_mouse_button(view, QUILLO_BUTTON_LEFT, 0, 200, 100, 1, 0);
  ASSERT_TRUE(host().WaitForTitle(view, "200 150 2 100,50", from));

  ASSERT_EQ(api().quillo_view_set_device_scale(view, 1), QUILLO_OK);
  ASSERT_TRUE(host().WaitForTitle(view, "400 300 1 -", from));
  EXPECT_TRUE(host().PumpUntil(
      [&] { return NearRgba(m.Rgba(50, 150), black, 8) && NearRgba(m.Rgba(51, 150), white, 8); },
      "a line one pixel wide at x = 50 at 1x"));
  EXPECT_EQ(api().quillo_view_set_device_scale(view, 0.1), QUILLO_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(api().quillo_view_set_device_scale(view, 9), QUILLO_ERROR_BAD_ARGUMENT);
}

}  // namespace
}  // namespace quillo_test
