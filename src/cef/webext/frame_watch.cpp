#include "webext/frame_watch.h"

namespace quillo::webext {
namespace {

constexpr char kWatchKey[] = "quillo-frame-watch";

// The frame's data: released with the frame.
struct Watch {
  uint64_t id;
  FrameGone gone;
  void* data;
};

size_t g_watched = 0;  // main thread

void Release(gpointer watch) {
  auto* ended = static_cast<Watch*>(watch);
  --g_watched;
  ended->gone(ended->data, ended->id);
  delete ended;
}

}  // namespace

bool WatchFrame(GObject* frame, uint64_t id, FrameGone gone, void* data) {
  if (frame == nullptr || gone == nullptr || g_object_get_data(frame, kWatchKey) != nullptr)
    return false;
  ++g_watched;
  g_object_set_data_full(frame, kWatchKey, new Watch{id, gone, data}, Release);
  return true;
}

size_t WatchedFrames() {
  return g_watched;
}

}  // namespace quillo::webext
