// LoadWeb on a live browser, and LoadWeb after the browser was closed.
#include <chrono>
#include <thread>

#include "support/e2e_fixture.h"

namespace quillo_test {
namespace {

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kYellow{255, 255, 0};

// A small square in the top-left corner that changes colour on every animation frame, so the
// page keeps painting for as long as it is open.
const std::string kAnimation =
    "<div id=\"tick\" style=\"position:fixed;left:0;top:0;width:4px;height:4px\"></div><script>"
    "let n = 0; (function step() { n = (n + 40) % 256;"
    "document.getElementById('tick').style.background = 'rgb(' + n + ',0,0)';"
    "requestAnimationFrame(step); })();</script>";

// Probes of a page split into `top` and `bottom` at half height, away from the top-left corner.
std::vector<ViewProbe> SplitProbes(int width, int height, const Rgb& top, const Rgb& bottom) {
  return {{width - 1, 0, top},
          {width / 2, height / 2 - 1, top},
          {0, height / 2, bottom},
          {width - 1, height - 1, bottom}};
}

class Reload : public E2ETest {};

TEST_F(Reload, LoadWebOnLiveBrowserOnlyLoadsTheUrl) {
  HttpServer& http = server();
  http.Serve("/first", HtmlResponse(SplitPageHtml(kRed, kBlue)));
  http.Serve("/second", HtmlResponse(SplitPageHtml(kGreen, kYellow)));

  constexpr int kWidth = 120, kHeight = 80;
  PixelBuffer& first = NewBuffer(kWidth, kHeight);
  Load(first, http.Url("/first"), 0, "en-US");
  ASSERT_TRUE(WaitForView(first, 0, SplitProbes(kWidth, kHeight, kRed, kBlue), "the first page"));

  PixelBuffer& other = NewBuffer(64, 48);
  lib().LoadWeb(5, 7, other.width(), other.height(), other.data(), http.Url("/second").c_str(),
                PAINT_SWAP_RED_BLUE | PAINT_BOTTOM_UP, "de-DE");
  // Same memory, same size, same layout as before.
  ASSERT_TRUE(WaitForView(first, 0, SplitProbes(kWidth, kHeight, kGreen, kYellow),
                          "the second page in the first memory"));
  EXPECT_TRUE(other.AllUnpainted()) << other.PaintedPixels() << " pixels of the new memory written";
  std::string where;
  EXPECT_TRUE(other.GuardsIntact(&where)) << where;
  EXPECT_TRUE(first.GuardsIntact(&where)) << where;

  const auto requests = http.RequestsFor("/second");
  ASSERT_FALSE(requests.empty());
  const std::string language = requests.back().Header("Accept-Language").value_or("");
  EXPECT_TRUE(StartsWithIgnoringCase(language, "en-US"))
      << "Accept-Language of the second page: \"" << language << "\"";
}

struct CloseCase {
  const char* name;
  friend void PrintTo(const CloseCase& c, std::ostream* os) { *os << c.name; }
  unsigned char how;  // the byte given to UnloadWeb; anything but 1 only closes the page
};

class ReloadAfterClose : public E2ETest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(ReloadAfterClose, NewBrowserTakesAllNewArguments) {
  lib().SetDebugEnable(true);  // the close is seen in the log
  HttpServer& http = server();
  http.Serve("/first", HtmlResponse(SplitPageHtml(kRed, kBlue, kAnimation)));
  http.Serve("/second", HtmlResponse(SplitPageHtml(kGreen, kYellow)));

  PixelBuffer& first = NewBuffer(120, 80);
  Load(first, http.Url("/first"), 0, "en-US");
  ASSERT_TRUE(WaitForView(first, 0, SplitProbes(120, 80, kRed, kBlue), "the first page"));

  // Without UpdateWeb calls no engine work is posted; let the work already posted finish so
  // that no paint is under way when the close begins.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const size_t closes_before = ClosesDone();
  lib().UnloadWebByte(GetParam().how);
  first.FillUnpainted();
  ASSERT_TRUE(WaitForClose(closes_before));

  constexpr int kWidth = 90, kHeight = 60;
  constexpr int kOptions = PAINT_SWAP_RED_BLUE | PAINT_BOTTOM_UP;
  PixelBuffer& second = NewBuffer(kWidth, kHeight);
  Load(second, http.Url("/second"), kOptions, "de-DE", 3, 4);
  ASSERT_TRUE(WaitForView(second, kOptions, SplitProbes(kWidth, kHeight, kGreen, kYellow),
                          "the second page in the new memory and layout"));

  // Laid out at the new size: the split is at the new half height, on every row.
  size_t wrong = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const Rgb expected = y < kHeight / 2 ? kGreen : kYellow;
      wrong += !Near(ViewBytes(second, kOptions, x, y), ExpectedBytes(expected, kOptions));
    }
  }
  EXPECT_EQ(wrong, 0u) << "pixels of the new page not where a " << kWidth << " x " << kHeight
                       << " layout puts them";
  EXPECT_TRUE(first.AllUnpainted())
      << first.PaintedPixels() << " pixels of the old memory written after the close began";
  std::string where;
  EXPECT_TRUE(first.GuardsIntact(&where)) << where;
  EXPECT_TRUE(second.GuardsIntact(&where)) << where;

  const auto requests = http.RequestsFor("/second");
  ASSERT_FALSE(requests.empty());
  const std::string language = requests.back().Header("Accept-Language").value_or("");
  EXPECT_TRUE(StartsWithIgnoringCase(language, "de-DE"))
      << "Accept-Language of the reopened page: \"" << language << "\"";
}

// A page whose before-unload handler never returns does not hold up the close, and a later
// LoadWeb opens the next page.
TEST_F(Reload, CloseOfAPageStuckInBeforeUnloadEndsAndTheNextPageOpens) {
  lib().SetDebugEnable(true);  // the close is seen in the log
  PixelBuffer& first = NewBuffer(120, 80);
  Load(first, kHtmlSource + SplitPageHtml(kRed, kBlue) +
                  "<script>addEventListener('beforeunload', () => { for (;;) {} });</script>");
  ASSERT_TRUE(WaitForView(first, 0, SplitProbes(120, 80, kRed, kBlue), "the stuck page"));
  ASSERT_TRUE(CloseBrowser());

  PixelBuffer& second = NewBuffer(120, 80);
  Load(second, kHtmlSource + SplitPageHtml(kGreen, kYellow));
  ASSERT_TRUE(WaitForView(second, 0, SplitProbes(120, 80, kGreen, kYellow), "the next page"));
}

INSTANTIATE_TEST_SUITE_P(Close, ReloadAfterClose,
                         ::testing::Values(CloseCase{"Zero", 0}, CloseCase{"Two", 2}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillo_test
