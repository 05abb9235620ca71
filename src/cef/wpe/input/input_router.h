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
  // or after the button releases and the keys that wait for them. A text key still waiting for
  // its CHAR is pressed first.
  void InKeyOrder(std::function<void()> input);
  // Runs an editing command (a copy, cut or paste, which the engine carries outside its queue of
  // key events) in the keys' order and once the page has reported the key events sent before it
  // (AfterKeysSeen): it acts on what those keys typed and selected.
  void AfterKeys(std::function<void()> command);
  // Counts a key event that the engine carries to the page in its queue of key events, one at a
  // time (each composition step travels as one); the page reports each it has handled ("keydown"
  // or "keyup").
  void KeySent() { ++m_keysSent; }
  // Runs then once the page has reported every key event counted so far (now, when it has), and
  // holds the keys and input methods' input sent meanwhile until then has run: for input the
  // engine carries outside its key queue (an editing command), which would overtake them. A
  // report that has not come in kKeyReportMs never comes (the page went, or had no element to
  // take the key). One at a time: everything after it waits for it.
  void AfterKeysSeen(std::function<void()> then);
  // clickCount: the press's place in a quick series (CEF's): the release of the second press
  // gives the page a "dblclick" as well, once the page reports it has handled that release
  // (the engine counts no clicks itself, and a script would overtake the release).
  void Click(const CefMouseEvent& event, CefBrowserHost::MouseButtonType type, bool mouseUp,
             int clickCount);
  void Move(const CefMouseEvent& event);
  void Wheel(const CefMouseEvent& event, int deltaX, int deltaY);
  // Runs input (touch, which the engine drops before the first frame as it drops the wheel) once
  // the page has shown its first frame, in order with the wheel events that wait for it.
  void WhenShown(std::function<void()> input);
  void Focus(bool focus);
  // Whether the page has shown a frame since its web process started: until it has, a wheel
  // event and the input after it wait. false: the web process has gone (and the key events on
  // their way with it).
  void FrameShown(bool shown);

  // Engine signals (from this room's trampolines): the cursor the page asks for; a release of
  // button (MouseEvent.button) at (x, y) in CSS pixels that the page (its main frame when top)
  // has handled.
  void UpdateCursor(WebKitHitTestResult* hit);
  void Released(int button, double x, double y, bool top);
  void KeySeen();

 private:
  wpe_view_backend* Backend() const;
  void DispatchKey(const KeyAction& action);
  void DispatchPointer(wpe_input_pointer_event& event);
  void DispatchDoubleClick(int button, double x, double y);
  void KeyNow(const CefKeyEvent& event);
  // Presses the text key that waits for its CHAR, if one does.
  void FlushPendingKey();
  // Holds input back until the releases sent before it are reported.
  void Hold(std::function<void()> input);
  // Runs what waited for the key reports, then the keys held behind it.
  void KeysCaughtUp();
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
  bool m_keysHeld = false;  // from AfterKeysSeen until its then has run: keys wait as for releases
  // Key events sent into the engine's key queue, and those the page has reported (a report
  // beyond those sent is not counted).
  static constexpr guint kKeyReportMs = 1000;
  uint64_t m_keysSent = 0;
  uint64_t m_keysSeen = 0;
  std::function<void()> m_afterKeys;  // waits for the reports (AfterKeysSeen)
  OneShotTimer m_keyReportWait;       // gives up on them
  bool m_frameShown = false;
  std::deque<std::function<void()>> m_beforeFrame;  // a wheel before the first frame, and after
  OneShotTimer m_releaseWait;                       // gives up on releases never reported
  static constexpr guint kCharWaitMs = 30;          // a text key's wait for its CHAR
  OneShotTimer m_charWait;
};

}  // namespace quillo::engine
