// Browser life-span callbacks, called on the UI thread.
#pragma once

#include "cef_browser.h"

class CefClient;

class CefLifeSpanHandler : public virtual CefBaseRefCounted {
 public:
  typedef cef_window_open_disposition_t WindowOpenDisposition;

  // A page asks for a new window; true refuses it.
  virtual bool OnBeforePopup(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                             const CefString& target_url, const CefString& target_frame_name,
                             WindowOpenDisposition target_disposition, bool user_gesture,
                             const CefPopupFeatures& popupFeatures, CefWindowInfo& windowInfo,
                             CefRefPtr<CefClient>& client, CefBrowserSettings& settings,
                             bool* no_javascript_access) {
    (void)browser, (void)frame, (void)target_url, (void)target_frame_name;
    (void)target_disposition, (void)user_gesture, (void)popupFeatures, (void)windowInfo;
    (void)client, (void)settings, (void)no_javascript_access;
    return false;
  }
  virtual void OnAfterCreated(CefRefPtr<CefBrowser> browser) { (void)browser; }
  virtual bool DoClose(CefRefPtr<CefBrowser> browser) {
    (void)browser;
    return false;
  }
  virtual void OnBeforeClose(CefRefPtr<CefBrowser> browser) { (void)browser; }
};
