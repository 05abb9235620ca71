// Whether the engine's media player can run: the web process plays media
// with GStreamer and dies when the elements its player builds on are missing,
// so views turn media off instead when they are not installed.
//
// Threads: StartMediaPluginCheck and MediaPluginsPresent on the UI thread; the
// check itself runs once, on a thread of its own, so that the engine's start
// and the first view do not wait for GStreamer's plugin registry.
#pragma once

namespace quillo::engine {

// Starts the check in the background; later calls do nothing.
void StartMediaPluginCheck();
// True when GStreamer and every element the engine's player needs are
// installed; waits for the check (starting it if needed). The check logs
// which elements are missing.
bool MediaPluginsPresent();

}  // namespace quillo::engine
