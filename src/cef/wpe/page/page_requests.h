// What the view answers when a page asks for something a windowless browser
// without dialogs cannot show: HTTP authentication, file choosers,
// permissions (geolocation, notifications, media devices, ...) and
// fullscreen. Each request is answered at once, so no page waits for an
// answer that never comes, and each answer is logged.
//
// Threads: UI thread only, like every WebKit call.
#pragma once

#include <wpe/webkit.h>

namespace quillo::engine {

// Connects the request handlers to the view, turns the engine's fullscreen
// off in its settings (see the .cpp) and media too when the engine's media
// plugins are missing. The handlers hold no state and no pointer to the browser, so they
// may stay connected for as long as the view lives.
void ConnectPageRequests(WebKitWebView* view);

}  // namespace quillo::engine
