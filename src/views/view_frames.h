// One size of a view's frames: the frame store between the engine thread, which paints into it,
// and the host's thread, which copies its newest whole frame into the host's memory in pump; and
// the size and scale the page is laid out at for it. A resize makes a new one, so a paint of the
// old size never reaches the new memory.
//
// Threads: made on the host's thread and shared (std::shared_ptr, whose count is atomic) with
// the engine thread; the store is used as FrameStore says (Begin, Write, Publish on the engine
// thread; Deliver on the host's); the sizes are fixed at construction.
#pragma once

#include <cmath>
#include <memory>

#include "client/frame_store.h"
#include "views/view_config.h"

namespace quillo::views {

// The CSS size a page is laid out at for size device pixels at scale: rounded up, so that the
// page's paints cover the memory (the engine's buffer is the CSS size times the scale, and a
// part beyond the memory is cut off).
inline int CssSide(int device, double scale) {
  return std::max(1, static_cast<int>(std::ceil(device / scale - 1e-9)));
}

struct ViewFrames {
  // Memory of width x height pixels laid out as the view's settings say, at scale.
  ViewFrames(const Memory& memory, bool rgba, bool bottomUp, double scale)
      : width(memory.width),
        height(memory.height),
        scale(scale),
        cssWidth(CssSide(memory.width, scale)),
        cssHeight(CssSide(memory.height, scale)) {
    ok = store.Configure(FrameStore::Layout{memory.width, memory.height, memory.stride, rgba,
                                            bottomUp});
  }

  const int width;   // device pixels, as the host's memory
  const int height;
  const double scale;
  const int cssWidth;  // the page's layout size
  const int cssHeight;
  bool ok = false;  // the store has its buffers (false: out of memory)
  FrameStore store;
};

}  // namespace quillo::views
