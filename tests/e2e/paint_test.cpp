// Pixels in the host's memory: byte and row order of each layout, and nothing written outside
// the view.
#include "support/e2e_fixture.h"

namespace quillo_test {
namespace {

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kWhite{255, 255, 255};

// Counts the pixels of the whole view that do not hold the colour `expected(x, y)`, and
// describes the first few.
template <typename Expected>
size_t Mismatches(const PixelBuffer& buffer, int options, Expected expected, std::string* first) {
  size_t count = 0;
  for (int y = 0; y < buffer.height(); ++y) {
    for (int x = 0; x < buffer.width(); ++x) {
      const Rgb colour = expected(x, y);
      const Bytes4 actual = ViewBytes(buffer, options, x, y);
      if (!Near(actual, ExpectedBytes(colour, options))) {
        if (count++ < 5) {
          *first += "  view (" + std::to_string(x) + "," + std::to_string(y) + "): expected " +
                    Describe(colour) + ", got " + Describe(actual) + "\n";
        }
      }
    }
  }
  return count;
}

struct LayoutCase {
  const char* name;
  friend void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }
  int options;
  int x, y;  // the view rectangle's origin, which does not move the pixels
  // The bytes of every pixel in the first and in the second half of the memory rows, written
  // out per layout rather than derived from the options.
  Bytes4 first_half, second_half;
};

class Layout : public E2ETest, public ::testing::WithParamInterface<LayoutCase> {};

// Top half red, bottom half blue, in a 160 x 120 view.
TEST_P(Layout, TopRedBottomBlueLandsInTheRightBytes) {
  const LayoutCase& c = GetParam();
  constexpr int kWidth = 160, kHeight = 120;
  PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
  Load(buffer, kHtmlSource + SplitPageHtml(kRed, kBlue), c.options, "en-US", c.x, c.y);

  auto layout_matches = [&] {
    for (int row : {0, kHeight / 2 - 1, kHeight / 2, kHeight - 1}) {
      const Bytes4& expected = row < kHeight / 2 ? c.first_half : c.second_half;
      for (int x : {0, kWidth / 2, kWidth - 1}) {
        if (!Near(buffer.RawAt(x, row), expected)) return false;
      }
    }
    return true;
  };
  auto result = host().PollUntil(layout_matches, "the page in the expected layout");
  if (!result) {
    result << "memory row 0: " << Describe(buffer.RawAt(0, 0)) << " expected "
           << Describe(c.first_half) << "; memory row " << kHeight - 1 << ": "
           << Describe(buffer.RawAt(0, kHeight - 1)) << " expected " << Describe(c.second_half);
  }
  ASSERT_TRUE(result);

  size_t wrong = 0;
  std::string first;
  for (int row = 0; row < kHeight; ++row) {
    for (int x = 0; x < kWidth; ++x) {
      const Bytes4 actual = buffer.RawAt(x, row);
      if (!Near(actual, row < kHeight / 2 ? c.first_half : c.second_half) && wrong++ < 5) {
        first += "  memory row " + std::to_string(row) + " x " + std::to_string(x) + ": " +
                 Describe(actual) + "\n";
      }
    }
  }
  EXPECT_EQ(wrong, 0u) << "pixels of the wrong colour, first ones:\n" << first;
  std::string where;
  EXPECT_TRUE(buffer.GuardsIntact(&where)) << "written outside the host's memory: " << where;
}

INSTANTIATE_TEST_SUITE_P(
    Options, Layout,
    ::testing::Values(
        // B, G, R, A; top row first.
        LayoutCase{"Default", 0, 0, 0, {0, 0, 255, 255}, {255, 0, 0, 255}},
        // R, G, B, A; top row first.
        LayoutCase{"SwapRedBlue", PAINT_SWAP_RED_BLUE, 0, 0, {255, 0, 0, 255}, {0, 0, 255, 255}},
        // B, G, R, A; bottom row first.
        LayoutCase{"BottomUp", PAINT_BOTTOM_UP, 0, 0, {255, 0, 0, 255}, {0, 0, 255, 255}},
        // R, G, B, A; bottom row first.
        LayoutCase{"SwapRedBlueBottomUp",
                   PAINT_SWAP_RED_BLUE | PAINT_BOTTOM_UP,
                   0,
                   0,
                   {0, 0, 255, 255},
                   {255, 0, 0, 255}},
        LayoutCase{"ViewOrigin", 0, 30, 20, {0, 0, 255, 255}, {255, 0, 0, 255}},
        // Bits without a meaning for the pixels leave the default layout.
        LayoutCase{"OtherBits", 0x4 | 0x10 | 0x100, 0, 0, {0, 0, 255, 255}, {255, 0, 0, 255}}),
    [](const auto& info) { return std::string(info.param.name); });

class Clip : public E2ETest, public ::testing::WithParamInterface<int> {};

// A green box that starts 30 px left of the right edge and 20 px above the bottom edge and
// reaches far past both, in a view of odd size.
TEST_P(Clip, OverhangingElementIsCutAtTheViewEdges) {
  const int options = GetParam();
  constexpr int kWidth = 157, kHeight = 93;
  constexpr int kLeft = kWidth - 30, kTop = kHeight - 20;
  PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
  const std::string html =
      "<!DOCTYPE html><html style=\"margin:0;overflow:hidden\"><body style=\"margin:0;"
      "overflow:hidden;background:" +
      CssColour(kWhite) + "\"><div style=\"position:absolute;left:" + std::to_string(kLeft) +
      "px;top:" + std::to_string(kTop) +
      "px;width:400px;height:300px;background:" + CssColour(kGreen) + "\"></div></body></html>";
  Load(buffer, kHtmlSource + html, options);

  auto expected = [&](int x, int y) { return x >= kLeft && y >= kTop ? kGreen : kWhite; };
  ASSERT_TRUE(WaitForView(buffer, options,
                          {{0, 0, kWhite},
                           {kWidth - 1, 0, kWhite},
                           {kLeft - 1, kHeight - 1, kWhite},
                           {kLeft, kTop, kGreen},
                           {kWidth - 1, kHeight - 1, kGreen},
                           {0, kHeight - 1, kWhite}},
                          "the box at the bottom right"));
  std::string first;
  EXPECT_EQ(Mismatches(buffer, options, expected, &first), 0u) << first;
  std::string where;
  EXPECT_TRUE(buffer.GuardsIntact(&where)) << "written outside the host's memory: " << where;
}

INSTANTIATE_TEST_SUITE_P(Options, Clip, ::testing::Values(0, PAINT_SWAP_RED_BLUE | PAINT_BOTTOM_UP),
                         [](const auto& info) {
                           return info.param == 0 ? std::string("Default")
                                                  : std::string("SwapRedBlueBottomUp");
                         });

}  // namespace
}  // namespace quillo_test
