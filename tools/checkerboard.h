// The checkerboard the tools show behind a transparent page, and premultiplied pixels laid
// over it, so that what the page leaves transparent is plain to see.
#ifndef QUILLO_TOOLS_CHECKERBOARD_H
#define QUILLO_TOOLS_CHECKERBOARD_H

#include <cstdint>

namespace quillo_tools {

// Squares of this many pixels, light in the top-left corner.
constexpr int kCheckerSquare = 16;
constexpr uint8_t kCheckerLight = 0xCC;
constexpr uint8_t kCheckerDark = 0x88;

inline uint8_t CheckerboardGray(int x, int y) {
  return ((x / kCheckerSquare + y / kCheckerSquare) % 2) == 0 ? kCheckerLight : kCheckerDark;
}

// One channel of a premultiplied pixel with alpha `alpha` laid over a gray background:
// channel + background * (255 - alpha) / 255, rounded.
inline uint8_t OverBackground(uint8_t channel, uint8_t alpha, uint8_t background) {
  const unsigned value = channel + (background * (255u - alpha) + 127u) / 255u;
  return static_cast<uint8_t>(value > 255u ? 255u : value);
}

}  // namespace quillo_tools

#endif  // QUILLO_TOOLS_CHECKERBOARD_H
