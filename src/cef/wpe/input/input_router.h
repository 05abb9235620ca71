// The one way in for the host's input: keys, pointer buttons and moves, the
// wheel and the focus all enter the page here. Each entry offers the input to
// the open <select> list first, which takes all of it while it is open (as a
// platform's popup grabs its input); the rest is mapped to the engine's events
// and dispatched to the view's backend. Also here: the cursor the page asks
// for, and the script that selects text while the mouse is dragged. UI thread
// only.
#pragma once

#include <wpe/webkit.h>

#include "cef_browser.h"
#include "wpe/input/key_mapper.h"

struct wpe_input_pointer_event;
struct wpe_view_backend;

namespace quillo::engine {

class BrowserSide;
class PopupController;

class InputRouter {
 public:
  // browser owns both this router and popup by value; both outlive it.
  InputRouter(BrowserSide& browser, PopupController& popup) : m_browser(browser), m_popup(popup) {}
  InputRouter(const InputRouter&) = delete;
  InputRouter& operator=(const InputRouter&) = delete;

  // Adds the drag-selection script and follows the cursor the page asks for.
  void Attach(WebKitWebView* view);
  void Detach(WebKitWebView* view);

  void Key(const CefKeyEvent& event);
  void Click(const CefMouseEvent& event, CefBrowserHost::MouseButtonType type, bool mouseUp);
  void Move(const CefMouseEvent& event);
  void Wheel(const CefMouseEvent& event, int deltaX, int deltaY);
  void Focus(bool focus);

  // Engine signal (from this room's trampolines).
  void UpdateCursor(WebKitHitTestResult* hit);

 private:
  wpe_view_backend* Backend() const;
  void DispatchKey(const KeyAction& action);
  void DispatchPointer(wpe_input_pointer_event& event);

  BrowserSide& m_browser;
  PopupController& m_popup;
  KeyMapper m_keys;
  int m_cursor = -1;  // last cursor type told to the render handler
};

}  // namespace quillo::engine
