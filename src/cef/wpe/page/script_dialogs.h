// The page's script dialogs (alert, confirm, prompt, before-unload): each is
// handed to the JS dialog handler with a callback that answers it, or
// answered at once when no handler keeps it, or (but before-unload) when the
// embedder has asked for another page that has not committed yet. Dialogs still open when the view
// or its web process goes are cancelled, so no page waits for an answer that
// never comes. UI thread only (callbacks may be answered from any thread; the
// answer is applied on the UI thread).
#pragma once

#include <wpe/webkit.h>

#include <functional>
#include <utility>
#include <vector>

#include "wpe/page/js_dialog_callback.h"

namespace quillo::engine {

class BrowserSide;

class ScriptDialogs {
 public:
  // browser owns this room by value and so outlives it. pageLeaving tells whether the
  // embedder has asked for another page that has not committed yet.
  ScriptDialogs(BrowserSide& browser, std::function<bool()> pageLeaving)
      : m_browser(browser), m_pageLeaving(std::move(pageLeaving)) {}
  ScriptDialogs(const ScriptDialogs&) = delete;
  ScriptDialogs& operator=(const ScriptDialogs&) = delete;

  void Attach(WebKitWebView* view);
  void Detach(WebKitWebView* view);
  // Answers every open dialog as cancelled.
  void CancelAll();

  // Engine signal (from this room's trampolines).
  void Open(WebKitWebView* view, WebKitScriptDialog* dialog);

 private:
  BrowserSide& m_browser;
  const std::function<bool()> m_pageLeaving;
  std::vector<CefRefPtr<JSDialogCallbackImpl>> m_open;  // answered ones are dropped on the next
};

}  // namespace quillo::engine
