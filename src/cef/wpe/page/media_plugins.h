// Whether the engine's media player can run: the web process plays media
// with GStreamer and dies when the elements its player builds on are missing,
// so views turn media off instead when they are not installed.
//
// Threads: UI thread (the answer is computed once, on the first call).
#pragma once

namespace quillo::engine {

// True when GStreamer and every element the engine's player needs are
// installed. The first call that finds one missing logs which.
bool MediaPluginsPresent();

}  // namespace quillo::engine
