// CefFrame: a frame of a browser. LoadURL and ExecuteJavaScript may be called
// on any thread (they run on the engine's UI thread at its next message-loop
// work); the queries answer from state the UI thread keeps current.
#pragma once

#include "cef_base.h"
#include "cef_types.h"

class CefBrowser;

// Added by this layer: the result of a script that EvaluateJavaScript ran. (CEF gives
// ExecuteJavaScript no result; its embedders send one back in a process message.)
class CefEvaluateCallback : public virtual CefBaseRefCounted {
 public:
  // UI thread, once. success: result is the script's value as JSON text, empty for undefined
  // and for what has no JSON form (a function, a promise, a node); otherwise result is the
  // exception's message.
  virtual void OnResult(bool success, const CefString& result) = 0;
};

class CefFrame : public virtual CefBaseRefCounted {
 public:
  virtual bool IsValid() = 0;
  virtual void LoadURL(const CefString& url) = 0;
  virtual void ExecuteJavaScript(const CefString& code, const CefString& script_url,
                                 int start_line) = 0;
  // Added by this layer: runs code as ExecuteJavaScript does and hands its value (or its
  // exception) to callback. Main frame only; another frame answers with a failure.
  virtual void EvaluateJavaScript(const CefString& code,
                                  CefRefPtr<CefEvaluateCallback> callback) = 0;
  virtual bool IsMain() = 0;
  virtual bool IsFocused() = 0;
  virtual CefString GetName() = 0;
  virtual int64 GetIdentifier() = 0;
  virtual CefRefPtr<CefFrame> GetParent() = 0;
  virtual CefString GetURL() = 0;
  virtual CefRefPtr<CefBrowser> GetBrowser() = 0;

  // ---- The clipboard. This engine keeps one clipboard for the process (no system's): a copy or
  // cut in any browser's page fills it (and the client's CefClipboardHandler hears of it), a
  // paste in any page reads it. Main frame only: the commands act on the page's focused frame.
  //
  // Copy and cut the page's selection, as the user's Ctrl+C and Ctrl+X do (the page gets its
  // "copy" or "cut" event first).
  virtual void Copy() = 0;
  virtual void Cut() = 0;
  // Pastes the clipboard into the focused element, as the user's Ctrl+V does.
  virtual void Paste() = 0;
  // Added by this layer: pastes text (and html, when not empty, for elements that take rich
  // text) into the focused element as a paste of the user's would, without the clipboard: the
  // element gets a "paste" event whose clipboardData holds "text/plain" (and "text/html"), then,
  // unless the page cancels it, the text is inserted (beforeinput and input, "insertText"). The
  // event is the layer's own (isTrusted is false): this engine's own paste hands pages text
  // beyond ASCII in the wrong encoding. Paste, and the user's Ctrl+V, go the same way.
  virtual void PasteText(const CefString& text, const CefString& html) = 0;
};
