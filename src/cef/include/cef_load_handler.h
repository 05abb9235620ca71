// Load callbacks, called on the UI thread.
#pragma once

#include "cef_browser.h"

class CefLoadHandler : public virtual CefBaseRefCounted {
 public:
  typedef cef_errorcode_t ErrorCode;
  typedef cef_transition_type_t TransitionType;

  virtual void OnLoadingStateChange(CefRefPtr<CefBrowser> browser, bool isLoading, bool canGoBack,
                                    bool canGoForward) {
    (void)browser, (void)isLoading, (void)canGoBack, (void)canGoForward;
  }
  virtual void OnLoadStart(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                           TransitionType transition_type) {
    (void)browser, (void)frame, (void)transition_type;
  }
  virtual void OnLoadEnd(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                         int httpStatusCode) {
    (void)browser, (void)frame, (void)httpStatusCode;
  }
  virtual void OnLoadError(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                           ErrorCode errorCode, const CefString& errorText,
                           const CefString& failedUrl) {
    (void)browser, (void)frame, (void)errorCode, (void)errorText, (void)failedUrl;
  }
  // Added by this layer: the main frame's page is ready to be captured. Its load has finished,
  // its web fonts are in, its images are loaded and decoded, and the frame that shows them has
  // been painted (OnPaint was called for it, or for nothing when it changed nothing). Once per
  // document of the main frame, after its OnLoadEnd; a page that never gets there (a font or
  // image that never comes, a hidden browser) never calls it. url: the ready document's address
  // (the frame's may already name a load asked for since).
  virtual void OnPageReady(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                           const CefString& url) {
    (void)browser, (void)frame, (void)url;
  }
};
