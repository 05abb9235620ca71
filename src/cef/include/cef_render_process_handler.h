// Render-process callbacks. On this platform the page runs in the engine's
// web process; what it reports reaches these methods on the UI thread.
#pragma once

#include "cef_browser.h"
#include "cef_load_handler.h"
#include "cef_request.h"
#include "cef_v8.h"
#include "cef_values.h"

class CefRenderProcessHandler : public virtual CefBaseRefCounted {
 public:
  typedef cef_navigation_type_t NavigationType;
  typedef cef_process_id_t CefProcessId;

  virtual void OnRenderThreadCreated(CefRefPtr<CefListValue> extra_info) { (void)extra_info; }
  virtual void OnWebKitInitialized() {}
  virtual void OnBrowserCreated(CefRefPtr<CefBrowser> browser) { (void)browser; }
  virtual void OnBrowserDestroyed(CefRefPtr<CefBrowser> browser) { (void)browser; }
  virtual CefRefPtr<CefLoadHandler> GetLoadHandler() { return nullptr; }
  // true cancels the navigation. Called for main-frame and sub-frame
  // navigations and for redirects.
  virtual bool OnBeforeNavigation(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                  CefRefPtr<CefRequest> request, NavigationType navigation_type,
                                  bool is_redirect) {
    (void)browser, (void)frame, (void)request, (void)navigation_type, (void)is_redirect;
    return false;
  }
  virtual void OnContextCreated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                CefRefPtr<CefV8Context> context) {
    (void)browser, (void)frame, (void)context;
  }
  virtual void OnContextReleased(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                 CefRefPtr<CefV8Context> context) {
    (void)browser, (void)frame, (void)context;
  }
  virtual void OnUncaughtException(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                   CefRefPtr<CefV8Context> context,
                                   CefRefPtr<CefV8Exception> exception,
                                   CefRefPtr<CefV8StackTrace> stackTrace) {
    (void)browser, (void)frame, (void)context, (void)exception, (void)stackTrace;
  }
  virtual void OnFocusedNodeChanged(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                    CefRefPtr<CefDOMNode> node) {
    (void)browser, (void)frame, (void)node;
  }
  virtual bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                        CefRefPtr<CefProcessMessage> message) {
    (void)browser, (void)source_process, (void)message;
    return false;
  }
};
