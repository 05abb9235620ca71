// Touch: the fingers on the view, as a touch screen's driver reports them, one point's change at
// a time. The points down are kept here, so that each event the engine gets lists all of them
// (the engine builds a TouchEvent's touches from the event alone) with the one that changed
// marked; the engine then fires touchstart, touchmove and touchend at the page.
//
// What this engine build leaves out, a script of the layer's own world adds from the page's
// trusted touch events: the pointer events of a touch (pointerType "touch", as a browser fires
// them beside the touch events; this engine fires pointer events for the mouse only), and
// "touchcancel" (the engine's input has no cancel: a cancelled point is let go of here without a
// release, and the script fires touchcancel, pointercancel and the pointer's boundary events at
// the point's target).
//
// Threads: the UI thread only.
#pragma once

#include <wpe/webkit.h>

#include <map>

#include "cef_types.h"

struct wpe_view_backend;

namespace quillo::engine {

class BrowserSide;

class TouchInput {
 public:
  // The most points down at once (further presses are dropped with a log line).
  static constexpr size_t kMaxPoints = 16;

  // browser owns this room by value and outlives it.
  explicit TouchInput(BrowserSide& browser) : m_browser(browser) {}
  TouchInput(const TouchInput&) = delete;
  TouchInput& operator=(const TouchInput&) = delete;

  // Adds the layer's touch script to every frame of the view's pages.
  void Attach(WebKitWebView* view);
  void Detach(WebKitWebView* view);

  // CefBrowserHost::SendTouchEvent, once the page has shown a frame.
  void Send(const CefTouchEvent& event);
  // The web process ended: the points down went with its page.
  void ProcessGone() { m_down.clear(); }

 private:
  struct Point {
    int x;
    int y;
  };
  void Dispatch(int changedId, int type, uint32_t modifiers);

  BrowserSide& m_browser;
  std::map<int, Point> m_down;  // the points down, by id (at most kMaxPoints)
};

}  // namespace quillo::engine
