// Focus callbacks, called on the UI thread.
#pragma once

#include "cef_browser.h"

class CefFocusHandler : public virtual CefBaseRefCounted {
 public:
  typedef cef_focus_source_t FocusSource;

  virtual void OnTakeFocus(CefRefPtr<CefBrowser> browser, bool next) { (void)browser, (void)next; }
  // false lets the browser take the focus.
  virtual bool OnSetFocus(CefRefPtr<CefBrowser> browser, FocusSource source) {
    (void)browser, (void)source;
    return false;
  }
  virtual void OnGotFocus(CefRefPtr<CefBrowser> browser) { (void)browser; }
};
