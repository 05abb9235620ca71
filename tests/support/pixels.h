// Host pixel memory for tests: view-sized memory with guard regions before and after it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quillo_test {

struct Rgb {
  int r, g, b;
};

// Four bytes in memory order, as the library stored them.
using Bytes4 = std::array<uint8_t, 4>;

std::string Describe(const Bytes4& bytes);
std::string Describe(const Rgb& colour);
std::string CssColour(const Rgb& colour);

// Whether every byte is within `tolerance` of the expected one.
bool Near(const Bytes4& actual, const Bytes4& expected, int tolerance = 3);

class PixelBuffer {
 public:
  static constexpr size_t kGuardBytes = 64 * 1024;
  static constexpr uint8_t kGuardByte = 0xA5;
  // The fill a test uses to see which pixels were written: 4 bytes no page paints.
  static constexpr Bytes4 kUnpainted = {0x13, 0x57, 0x9B, 0x21};

  PixelBuffer(int width, int height);

  int width() const { return width_; }
  int height() const { return height_; }
  // The pointer handed to LoadWeb.
  uint8_t* data() { return storage_.data() + kGuardBytes; }
  const uint8_t* data() const { return storage_.data() + kGuardBytes; }
  size_t size() const { return static_cast<size_t>(width_) * height_ * 4; }

  // Fills the view memory with kUnpainted (the guards are left alone).
  void FillUnpainted();
  // Whether no byte of the view memory differs from kUnpainted.
  bool AllUnpainted() const;
  // How many pixels differ from kUnpainted.
  size_t PaintedPixels() const;
  // Whether the regions before and after the view memory still hold their pattern; *where tells
  // the first changed offset relative to data() otherwise.
  bool GuardsIntact(std::string* where = nullptr) const;

  // The 4 bytes at column x of memory row `row` (row 0 is the first row in memory).
  Bytes4 RawAt(int x, int row) const;

 private:
  int width_, height_;
  std::vector<uint8_t> storage_;
};

// The 4 bytes that view pixel colour `c` (opaque) has in memory under the given options.
Bytes4 ExpectedBytes(const Rgb& c, int options);

// The memory row that holds view row y under the given options.
int MemoryRow(int y, int height, int options);

// View pixel (x, y), read back under the given options.
Bytes4 ViewBytes(const PixelBuffer& buffer, int options, int x, int y);

// A point of the view and the colour expected there.
struct ViewProbe {
  int x, y;
  Rgb colour;
};

// Whether each probe holds its colour under the given options.
bool ProbesMatch(const PixelBuffer& buffer, int options, const std::vector<ViewProbe>& probes,
                 int tolerance = 3);
// Expected and actual value at each probe, for failure messages.
std::string DescribeProbes(const PixelBuffer& buffer, int options,
                           const std::vector<ViewProbe>& probes);

// HTML whose top `split` percent is `top` and the rest `bottom`, no margins or scroll bars.
std::string SplitPageHtml(const Rgb& top, const Rgb& bottom, const std::string& extra_body = "",
                          int split = 50);

}  // namespace quillo_test
