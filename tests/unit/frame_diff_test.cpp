// Dirty rectangles between two frames.
#include "wpe/frame/frame_diff.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quillo::engine
