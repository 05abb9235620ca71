// The one way in for the host's input: keys, pointer buttons and moves, the
// wheel and the focus all enter the page here. Each entry offers the input to
// the open <select> list first, which takes all of it while it is open (as a
// platform's popup grabs its input); the rest is mapped to the engine's events
// and dispatched to the view's backend. Also here: the cursor the page asks
// for, and the script that selects text while the mouse is dragged. UI thread
// only.
#pragma once

#include <wpe/webkit.h>

#include <cstdint>
#include <deque>
#include <functional>

#include "cef_browser.h"
#include "wpe/input/key_mapper.h"
#include "wpe/process/one_shot_timer.h"

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
  // Runs input (an input method's, which must not overtake the keys) in the keys' order: now,
  // or after the button releases and the keys that wait for them.
  void InKeyOrder(std::function<void()> input);
  // Holds the keys and the input methods' input sent from now on until ReopenKeys: an input
  // method's text that waits for the page to catch up must not be overtaken by what follows it.
  void HoldKeys();
  void ReopenKeys();
  // clickCount: the press's place in a quick series (CEF's): the release of the second press
  // gives the page a "dblclick" as well, once the page reports it has handled that release
  // (the engine counts no clicks itself, and a script would overtake the release).
  void Click(const CefMouseEvent& event, CefBrowserHost::MouseButtonType type, bool mouseUp,
             int clickCount);
  void Move(const CefMouseEvent& event);
  void Wheel(const CefMouseEvent& event, int deltaX, int deltaY);
  void Focus(bool focus);
  // Whether the page has shown a frame since its web process started: until it has, a wheel
  // event and the input after it wait.
  void FrameShown(bool shown);

  // Engine signals (from this room's trampolines): the cursor the page asks for; a release of
  // button (MouseEvent.button) at (x, y) in CSS pixels that the page (its main frame when top)
  // has handled.
  void UpdateCursor(WebKitHitTestResult* hit);
  void Released(int button, double x, double y, bool top);

 private:
  wpe_view_backend* Backend() const;
  void DispatchKey(const KeyAction& action);
  void DispatchPointer(wpe_input_pointer_event& event);
  void DispatchDoubleClick(int button, double x, double y);
  void KeyNow(const CefKeyEvent& event);
  // Holds input back until the releases sent before it are reported.
  void Hold(std::function<void()> input);
  // Gives up on the releases awaited after kReleaseReportMs.
  void WaitForReleases();
  // Queues input behind a wheel event that waits for the first frame; false when none waits.
  bool Defer(std::function<void()> input);
  // The keys held back for releases, in order, now that none is awaited.
  void ReleaseHeldKeys();

  BrowserSide& m_browser;
  PopupController& m_popup;
  KeyMapper m_keys;
  int m_cursor = -1;  // last cursor type told to the render handler
  // Releases sent to the page that it has not reported yet, oldest first.
  struct Release {
    int button;  // MouseEvent.button
    int clickCount;
    int64_t timeMs;
  };
  static constexpr int64_t kReleaseReportMs = 2000;  // a report later than this never comes
  std::deque<Release> m_releases;
  // Keys (and input methods' input) sent while releases were awaited, in order.
  std::deque<std::function<void()>> m_heldKeys;
  bool m_keysHeld = false;  // HoldKeys until ReopenKeys: keys wait as for releases
  bool m_frameShown = false;
  std::deque<std::function<void()>> m_beforeFrame;  // a wheel before the first frame, and after
  OneShotTimer m_releaseWait;                       // gives up on releases never reported
};

}  // namespace quillo::engine
