// One size of a view's frames: the frame store between the engine thread, which paints into it,
// and the host's thread, which copies its newest whole frame into the host's memory in pump; and
// the size and scale the page is laid out at for it. A resize makes a new one, so a paint of the
// old size never reaches the new memory.
//
// Threads: made on the host's thread and shared (std::shared_ptr, whose count is atomic) with
// the engine thread; the store is used as FrameStore says (Begin, Write, Publish on the engine
// thread; Deliver on the host's); the sizes are fixed at construction.
#pragma once

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "client/frame_store.h"
#include "views/view_config.h"

namespace quillo::views {

// The engine's buffer side for a CSS side at scale (the engine layer's paint contract: the
// product in single precision, rounded down).
inline int BufferSide(int css, double scale) {
  return static_cast<int>(static_cast<float>(css) * static_cast<float>(scale));
}

// The CSS size a page is laid out at for a side of device pixels at scale: the smallest whose
// buffers cover the memory (a part beyond it is cut off).
inline int CssSide(int device, double scale) {
  int css = std::max(1, static_cast<int>(std::ceil(device / scale - 1e-6)));
  while (BufferSide(css, scale) < device) ++css;
  return css;
}

// Whether memory at scale is laid out at a CSS size of at most QUILLO_MAX_SIDE a side.
inline bool CssSizeFits(const Memory& memory, double scale, std::string* why) {
  if (CssSide(memory.width, scale) <= QUILLO_MAX_SIDE &&
      CssSide(memory.height, scale) <= QUILLO_MAX_SIDE)
    return true;
  *why = "the page would be laid out wider or taller than " + std::to_string(QUILLO_MAX_SIDE) +
         " CSS pixels at this device scale";
  return false;
}

struct ViewFrames {
  // Memory of width x height pixels laid out as the view's settings say, at scale.
  ViewFrames(const Memory& memory, bool rgba, bool bottomUp, double scale)
      : width(memory.width),
        height(memory.height),
        scale(scale),
        cssWidth(CssSide(memory.width, scale)),
        cssHeight(CssSide(memory.height, scale)) {
    ok = store.Configure(
        FrameStore::Layout{memory.width, memory.height, memory.stride, rgba, bottomUp});
  }

  const int width;  // device pixels, as the host's memory
  const int height;
  const double scale;
  const int cssWidth;  // the page's layout size
  const int cssHeight;
  bool ok = false;  // the store has its buffers (false: out of memory)
  // Whether a view paint of width x height belongs to this size and scale.
  bool Fits(int paintWidth, int paintHeight) const {
    return paintWidth == BufferSide(cssWidth, scale) && paintHeight == BufferSide(cssHeight, scale);
  }
  FrameStore store;
};

}  // namespace quillo::views
