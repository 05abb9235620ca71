// Downloads: every download of the web context goes to the browser that
// started it, whose download handler decides where it is saved; nothing asks
// the user. UI thread only.
#pragma once

#include <wpe/webkit.h>

namespace quillo::engine {

// Connects the web context's download signal.
void WatchDownloads(WebKitWebContext* context);

}  // namespace quillo::engine
