// Dirty rectangles between two frames.
#include "wpe/frame/frame_diff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace quillo::engine {
namespace {

struct Frame {
  Frame(int w, int h, int stride) : w(w), h(h), stride(stride), bytes(size_t(stride) * h, 0) {}
  void Set(int x, int y, uint8_t v) { bytes[size_t(y) * stride + x * 4 + 1] = v; }
  int w, h, stride;
  std::vector<uint8_t> bytes;
};

TEST(FrameDiff, EqualFramesGiveNothing) {
  Frame a(64, 32, 64 * 4), b(64, 32, 64 * 4);
  std::vector<CefRect> rects;
  DiffFrames(a.bytes.data(), b.bytes.data(), 64, 32, 64 * 4, rects);
  EXPECT_TRUE(rects.empty());
}

TEST(FrameDiff, OneRectanglePerRunOfChangedRows) {
  // Padding past the row end must not count as a change.
  Frame a(100, 50, 100 * 4 + 16), b(100, 50, 100 * 4 + 16);
  b.bytes[5 * b.stride + 100 * 4 + 3] = 9;
  for (int y = 10; y < 20; ++y)
    for (int x = 30; x < 40; ++x) b.Set(x, y, 1);
  b.Set(5, 12, 1);   // widens the run on the left
  b.Set(99, 45, 7);  // a second run, one pixel at the right edge
  std::vector<CefRect> rects;
  DiffFrames(a.bytes.data(), b.bytes.data(), 100, 50, b.stride, rects);
  ASSERT_EQ(rects.size(), 2u);
  EXPECT_EQ(rects[0], CefRect(5, 10, 35, 10));
  EXPECT_EQ(rects[1], CefRect(99, 45, 1, 1));
}

TEST(FrameDiff, ChangesInTheLastRowAreKept) {
  Frame a(8, 4, 32), b(8, 4, 32);
  b.Set(0, 3, 1);
  std::vector<CefRect> rects;
  DiffFrames(a.bytes.data(), b.bytes.data(), 8, 4, 32, rects);
  ASSERT_EQ(rects.size(), 1u);
  EXPECT_EQ(rects[0], CefRect(0, 3, 1, 1));
}

// Seeded random frames, each with a few changed pixels and spans of every width (on block
// boundaries and off them, at both edges), against a pixel-by-pixel reading of the contract.
TEST(FrameDiff, RandomChangesGiveTheRectanglesOfAPixelByPixelLook) {
  std::mt19937 random(29);
  for (int trial = 0; trial < 400; ++trial) {
    const int w = 1 + static_cast<int>(random() % 70), h = 1 + static_cast<int>(random() % 12);
    const int stride = w * 4 + static_cast<int>(random() % 3) * 4;
    Frame a(w, h, stride), b(w, h, stride);
    for (uint8_t& byte : a.bytes) byte = static_cast<uint8_t>(random() % 3);
    b.bytes = a.bytes;
    for (int n = static_cast<int>(random() % 5); n > 0; --n) {
      const int y = static_cast<int>(random() % h), x = static_cast<int>(random() % w);
      const int span = 1 + static_cast<int>(random() % (w - x));
      const int channel = static_cast<int>(random() % 4);
      for (int i = x; i < x + span; i += 1 + static_cast<int>(random() % 20))
        b.bytes[size_t(y) * stride + i * 4 + channel] ^= 0x80;
    }
    // Padding differs freely and never counts.
    for (int y = 0; y < h; ++y)
      for (int i = w * 4; i < stride; ++i) b.bytes[size_t(y) * stride + i] = 0xee;

    std::vector<CefRect> expected;
    int top = -1, left = 0, right = 0;
    for (int y = 0; y <= h; ++y) {
      int rowLeft = w, rowRight = 0;
      for (int x = 0; y < h && x < w; ++x)
        if (std::memcmp(&a.bytes[size_t(y) * stride + x * 4], &b.bytes[size_t(y) * stride + x * 4],
                        4) != 0) {
          rowLeft = std::min(rowLeft, x);
          rowRight = x + 1;
        }
      if (rowRight == 0) {
        if (top >= 0) expected.emplace_back(left, top, right - left, y - top);
        top = -1;
      } else if (top < 0) {
        top = y, left = rowLeft, right = rowRight;
      } else {
        left = std::min(left, rowLeft), right = std::max(right, rowRight);
      }
    }
    std::vector<CefRect> rects;
    DiffFrames(a.bytes.data(), b.bytes.data(), w, h, stride, rects);
    ASSERT_EQ(rects, expected) << "trial " << trial << ", " << w << "x" << h;
  }
}

}  // namespace
}  // namespace quillo::engine
