#include "support/pixels.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "quillo.h"

namespace quillo_test {

std::string Describe(const Bytes4& b) {
  char text[40];
  std::snprintf(text, sizeof text, "[%u %u %u %u]", b[0], b[1], b[2], b[3]);
  return text;
}

std::string Describe(const Rgb& c) {
  char text[40];
  std::snprintf(text, sizeof text, "rgb(%d,%d,%d)", c.r, c.g, c.b);
  return text;
}

std::string CssColour(const Rgb& c) {
  return Describe(c);
}

bool Near(const Bytes4& actual, const Bytes4& expected, int tolerance) {
  for (int i = 0; i < 4; ++i) {
    if (std::abs(int(actual[i]) - int(expected[i])) > tolerance) return false;
  }
  return true;
}

PixelBuffer::PixelBuffer(int width, int height)
    : width_(width),
      height_(height),
      storage_(kGuardBytes * 2 + static_cast<size_t>(width) * height * 4, kGuardByte) {
  FillUnpainted();
}

void PixelBuffer::FillUnpainted() {
  uint8_t* p = data();
  for (size_t i = 0; i < size(); i += 4) std::memcpy(p + i, kUnpainted.data(), 4);
}

bool PixelBuffer::AllUnpainted() const {
  return PaintedPixels() == 0;
}

size_t PixelBuffer::PaintedPixels() const {
  size_t count = 0;
  const uint8_t* p = data();
  for (size_t i = 0; i < size(); i += 4) count += std::memcmp(p + i, kUnpainted.data(), 4) != 0;
  return count;
}

bool PixelBuffer::GuardsIntact(std::string* where) const {
  const uint8_t* base = storage_.data();
  for (size_t i = 0; i < kGuardBytes; ++i) {
    if (base[i] != kGuardByte) {
      if (where) *where = "byte " + std::to_string(long(i) - long(kGuardBytes)) + " before start";
      return false;
    }
  }
  const uint8_t* tail = data() + size();
  for (size_t i = 0; i < kGuardBytes; ++i) {
    if (tail[i] != kGuardByte) {
      if (where) *where = "byte " + std::to_string(i) + " past the end";
      return false;
    }
  }
  return true;
}

Bytes4 PixelBuffer::RawAt(int x, int row) const {
  Bytes4 out;
  std::memcpy(out.data(), data() + (static_cast<size_t>(row) * width_ + x) * 4, 4);
  return out;
}

Bytes4 ExpectedBytes(const Rgb& c, int options) {
  if (options & PAINT_SWAP_RED_BLUE) {
    return {uint8_t(c.r), uint8_t(c.g), uint8_t(c.b), 255};
  }
  return {uint8_t(c.b), uint8_t(c.g), uint8_t(c.r), 255};
}

int MemoryRow(int y, int height, int options) {
  return (options & PAINT_BOTTOM_UP) ? height - 1 - y : y;
}

Bytes4 ViewBytes(const PixelBuffer& buffer, int options, int x, int y) {
  return buffer.RawAt(x, MemoryRow(y, buffer.height(), options));
}

bool ProbesMatch(const PixelBuffer& buffer, int options, const std::vector<ViewProbe>& probes,
                 int tolerance) {
  for (const auto& p : probes) {
    if (!Near(ViewBytes(buffer, options, p.x, p.y), ExpectedBytes(p.colour, options), tolerance)) {
      return false;
    }
  }
  return true;
}

std::string DescribeProbes(const PixelBuffer& buffer, int options,
                           const std::vector<ViewProbe>& probes) {
  std::string text;
  for (const auto& p : probes) {
    text += "  view (" + std::to_string(p.x) + "," + std::to_string(p.y) + ") memory row " +
            std::to_string(MemoryRow(p.y, buffer.height(), options)) + ": expected " +
            Describe(ExpectedBytes(p.colour, options)) + " (" + Describe(p.colour) + "), got " +
            Describe(ViewBytes(buffer, options, p.x, p.y)) + "\n";
  }
  return text;
}

std::string SplitPageHtml(const Rgb& top, const Rgb& bottom, const std::string& extra_body,
                          int split) {
  return "<!DOCTYPE html><html style=\"margin:0;overflow:hidden\"><head><style>"
         "body{margin:0;overflow:hidden;background:" +
         CssColour(bottom) +
         "}"
         "#top{position:fixed;left:0;top:0;width:100%;height:" +
         std::to_string(split) + "%;background:" + CssColour(top) +
         "}"
         "</style></head><body><div id=\"top\"></div>" +
         extra_body + "</body></html>";
}

}  // namespace quillo_test
