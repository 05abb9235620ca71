// Composition input (an input method's pre-edit text, commits and cancels) for the browser's
// view, through the engine's input-method context (ImeContext): the layer plays the input
// method, and the engine turns what it says into the page's composition events. Also here: the
// caret's rectangle the engine reports, passed to the render handler for a host's candidate
// window; and InputEvent.isComposing, which this engine build lacks, given to every page.
//
// The engine takes a composition only while an editable element has the keyboard focus of the
// focused view; an operation that comes before that (just after the click that focuses a field)
// waits for it, up to kFocusWaitMs, keeping the operations' order, and is then dropped with a
// log line.
//
// The engine carries each composition step to the page in its queue of key events, one at a
// time, but types a commit without a composition (an editing command) at once: such a commit
// would overtake the steps and keys still queued (a cancelled pre-edit text would stay, a key
// typed before it would land after it). So that commit waits until the page has reported the
// key events sent before it (InputRouter::AfterKeysSeen), and what comes after it waits with it.
// UI thread only.
#pragma once

#include <wpe/webkit.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "cef_browser.h"
#include "wpe/input/ime_context.h"
#include "wpe/process/one_shot_timer.h"

namespace quillo::engine {

class BrowserSide;
class InputRouter;

class CompositionInput : private ImeObserver {
 public:
  static constexpr guint kFocusWaitMs = 1000;

  // browser owns this room and input by value and outlives both.
  CompositionInput(BrowserSide& browser, InputRouter& input) : m_browser(browser), m_input(input) {}
  ~CompositionInput();
  CompositionInput(const CompositionInput&) = delete;
  CompositionInput& operator=(const CompositionInput&) = delete;

  // Sets the layer's input-method context on the view, and adds isComposing to the pages.
  void Attach(WebKitWebView* view);
  void Detach(WebKitWebView* view);

  // CefBrowserHost's Ime* calls, in the order of the host's input (see the header there).
  void SetComposition(const std::u16string& text,
                      const std::vector<CefCompositionUnderline>& underlines,
                      const CefRange& selection);
  void Commit(const std::u16string& text);
  void Finish();
  void Cancel();

 private:
  // ImeObserver
  void ImeFocusChanged(bool focusedIn) override;
  void ImeCaretMoved(int x, int y, int width, int height) override;
  void ImeReset() override;

  // Runs op now when an editable element has the focus (and nothing waits before it), else
  // queues it until one has.
  void WhenFocused(std::function<void()> op);
  void Emit(const char* signal);
  void EndComposition();
  // Types text without a composition once the page has the key events sent before it.
  void InsertText(std::string utf8);
  // Runs the operations waiting, in order, while nothing holds them.
  void RunWaiting();
  void StartFocusWait();

  BrowserSide& m_browser;
  InputRouter& m_input;
  WebKitInputMethodContext* m_context = nullptr;  // from Attach to Detach, a reference of ours
  bool m_focusedIn = false;  // an editable element of the focused view has the keyboard
  bool m_composing = false;  // a composition is in progress (started and not ended)
  std::u16string m_preedit;  // its text
  uint32_t m_cursor = 0;     // its caret, UTF-16 code units
  std::deque<std::function<void()>> m_waiting;  // operations waiting for the focus, in order
  OneShotTimer m_focusWait;                     // gives up on them
  bool m_inserting = false;  // a commit without a composition waits for the key reports
};

}  // namespace quillo::engine
