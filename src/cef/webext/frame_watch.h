// A frame object watched for its end. The extension learns of a frame each time the frame's
// window object is cleared, once per document the frame shows, but watches the frame object
// only once for its whole life: a watch per document would pile up on a main frame that shows
// thousands of documents in a long-lived web process.
//
// Web process main thread only.
#pragma once

#include <glib-object.h>

#include <cstddef>
#include <cstdint>

namespace quillo::webext {

// Called once, as `frame` is finalised, with the data and id of the first WatchFrame for it.
using FrameGone = void (*)(void* data, uint64_t id);

// Watches frame (any GObject) until it goes: gone(data, id) is called then. A frame watched
// already keeps its first watch; false then.
bool WatchFrame(GObject* frame, uint64_t id, FrameGone gone, void* data);

// Watches of frames still alive, in this process.
size_t WatchedFrames();

}  // namespace quillo::webext
