// What a room of a browser may use of the browser that owns it: the narrow
// side of BrowserImpl, as CEF hands its platform delegates a narrow host.
// A room gets this, not the facade, so that it reaches only the view, the
// client's handlers, the main frame, the shared state and a post to the UI
// thread, and so that a room can be built on its own around a fake side.
//
// Threads: as said at each member. The browser that implements it outlives
// every room it hands it to (the rooms are its members).
#pragma once

#include <wpe/webkit.h>

#include <atomic>
#include <functional>

#include "cef_browser.h"
#include "cef_client.h"

namespace quillo::engine {

class FrameImpl;

// Key of the view's object data that points at its browser's BrowserSide.
inline constexpr char kBrowserSideKey[] = "quillo-browser";

// What the CEF queries read: written on the UI thread (by the navigation
// tracker, and when the view or its process goes), read anywhere.
struct BrowserState {
  std::atomic<bool> canGoBack{false};
  std::atomic<bool> canGoForward{false};
  std::atomic<bool> isLoading{false};
  std::atomic<bool> hasDocument{false};
};

class BrowserSide {
 public:
  // The browser as its handlers are told of it. Any thread; a room that
  // must keep the browser alive beyond itself holds a CefRefPtr to it.
  virtual CefBrowser* Browser() = 0;
  // The client whose handlers the rooms call; the same for the browser's
  // whole life. Any thread.
  virtual CefClient& Client() = 0;
  // The main frame, for the same life. Any thread.
  virtual FrameImpl& MainFrame() = 0;
  // The state the browser's queries read. Written on the UI thread.
  virtual BrowserState& State() = 0;
  // The view: null before it is made and after it goes. UI thread.
  virtual WebKitWebView* View() const = 0;
  // Whether the view has gone (it does not come back). UI thread.
  virtual bool ViewGone() const = 0;
  // Runs task on the UI thread at a later message-loop work, unless the
  // view has gone by then. Any thread.
  virtual void Post(std::function<void()> task) = 0;

 protected:
  ~BrowserSide() = default;
};

}  // namespace quillo::engine
