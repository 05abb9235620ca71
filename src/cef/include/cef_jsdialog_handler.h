// Script-dialog callbacks, called on the UI thread.
#pragma once

#include "cef_browser.h"
#include "cef_callback.h"

class CefJSDialogHandler : public virtual CefBaseRefCounted {
 public:
  typedef cef_jsdialog_type_t JSDialogType;

  // true: the application shows the dialog and answers through callback.
  virtual bool OnJSDialog(CefRefPtr<CefBrowser> browser, const CefString& origin_url,
                          JSDialogType dialog_type, const CefString& message_text,
                          const CefString& default_prompt_text,
                          CefRefPtr<CefJSDialogCallback> callback, bool& suppress_message) {
    (void)browser, (void)origin_url, (void)dialog_type, (void)message_text;
    (void)default_prompt_text, (void)callback, (void)suppress_message;
    return false;
  }
  virtual bool OnBeforeUnloadDialog(CefRefPtr<CefBrowser> browser, const CefString& message_text,
                                    bool is_reload, CefRefPtr<CefJSDialogCallback> callback) {
    (void)browser, (void)message_text, (void)is_reload, (void)callback;
    return false;
  }
  virtual void OnResetDialogState(CefRefPtr<CefBrowser> browser) { (void)browser; }
  virtual void OnDialogClosed(CefRefPtr<CefBrowser> browser) { (void)browser; }
};
