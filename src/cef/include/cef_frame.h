// CefFrame: a frame of a browser. LoadURL and ExecuteJavaScript may be called
// on any thread (they run on the engine's UI thread at its next message-loop
// work); the queries answer from state the UI thread keeps current.
#pragma once

#include "cef_base.h"
#include "cef_types.h"

class CefBrowser;

class CefFrame : public virtual CefBaseRefCounted {
 public:
  virtual bool IsValid() = 0;
  virtual void LoadURL(const CefString& url) = 0;
  virtual void ExecuteJavaScript(const CefString& code, const CefString& script_url,
                                 int start_line) = 0;
  virtual bool IsMain() = 0;
  virtual bool IsFocused() = 0;
  virtual CefString GetName() = 0;
  virtual int64 GetIdentifier() = 0;
  virtual CefRefPtr<CefFrame> GetParent() = 0;
  virtual CefString GetURL() = 0;
  virtual CefRefPtr<CefBrowser> GetBrowser() = 0;
};
