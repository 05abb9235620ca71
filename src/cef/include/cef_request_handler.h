// Request callbacks, called on the UI thread.
#pragma once

#include "cef_browser.h"
#include "cef_callback.h"
#include "cef_request.h"

class CefRequestHandler : public virtual CefBaseRefCounted {
 public:
  typedef cef_return_value_t ReturnValue;
  typedef cef_termination_status_t TerminationStatus;
  typedef cef_window_open_disposition_t WindowOpenDisposition;

  // true cancels the navigation.
  virtual bool OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                              CefRefPtr<CefRequest> request, bool user_gesture, bool is_redirect) {
    (void)browser, (void)frame, (void)request, (void)user_gesture, (void)is_redirect;
    return false;
  }
  // true cancels; false lets the navigation go ahead in this browser.
  virtual bool OnOpenURLFromTab(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                const CefString& target_url,
                                WindowOpenDisposition target_disposition, bool user_gesture) {
    (void)browser, (void)frame, (void)target_url, (void)target_disposition, (void)user_gesture;
    return false;
  }
  // The page's web process ended (the load handler then hears of a failed load, ERR_FAILED).
  virtual void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser, TerminationStatus status) {
    (void)browser, (void)status;
  }
  virtual ReturnValue OnBeforeResourceLoad(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                           CefRefPtr<CefRequest> request,
                                           CefRefPtr<CefRequestCallback> callback) {
    (void)browser, (void)frame, (void)request, (void)callback;
    return RV_CONTINUE;
  }
};
