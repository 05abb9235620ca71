#include "wpe/frame/frame_diff.h"

#include <cstring>

namespace quillo::engine {
namespace {

struct Span {
  int left;
  int right;  // exclusive
};

constexpr int kBlock = 16;  // pixels compared at once while looking for a row's first change

// The changed pixels of one row, or an empty span. Each end is found a block at a time, then a
// pixel at a time within the block that differs: a text page's margins are wide.
Span RowChange(const uint8_t* a, const uint8_t* b, int width) {
  const size_t bytes = static_cast<size_t>(width) * 4;
  if (std::memcmp(a, b, bytes) == 0) return {0, 0};
  int left = 0;
  while (left + kBlock <= width && std::memcmp(a + left * 4, b + left * 4, kBlock * 4) == 0)
    left += kBlock;
  while (left < width && std::memcmp(a + left * 4, b + left * 4, 4) == 0) ++left;
  int right = width;
  while (right - kBlock >= left &&
         std::memcmp(a + (right - kBlock) * 4, b + (right - kBlock) * 4, kBlock * 4) == 0)
    right -= kBlock;
  while (right > left && std::memcmp(a + (right - 1) * 4, b + (right - 1) * 4, 4) == 0) --right;
  return {left, right};
}

}  // namespace

void DiffFrames(const uint8_t* prev, const uint8_t* cur, int width, int height, int stride,
                std::vector<CefRect>& rects) {
  if (prev == nullptr || cur == nullptr || width <= 0 || height <= 0) return;
  int bandTop = -1;
  Span band{0, 0};
  auto flush = [&](int bottom) {
    if (bandTop >= 0)
      rects.emplace_back(band.left, bandTop, band.right - band.left, bottom - bandTop);
    bandTop = -1;
  };
  for (int y = 0; y < height; ++y) {
    const size_t offset = static_cast<size_t>(y) * static_cast<size_t>(stride);
    Span row = RowChange(prev + offset, cur + offset, width);
    if (row.right <= row.left) {
      flush(y);
      continue;
    }
    if (bandTop < 0) {
      bandTop = y;
      band = row;
    } else {
      if (row.left < band.left) band.left = row.left;
      if (row.right > band.right) band.right = row.right;
    }
  }
  flush(height);
}

}  // namespace quillo::engine
