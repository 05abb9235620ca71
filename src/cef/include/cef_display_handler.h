// Display callbacks, called on the UI thread.
#pragma once

#include <vector>

#include "cef_browser.h"

class CefDisplayHandler : public virtual CefBaseRefCounted {
 public:
  virtual void OnAddressChange(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                               const CefString& url) {
    (void)browser, (void)frame, (void)url;
  }
  virtual void OnTitleChange(CefRefPtr<CefBrowser> browser, const CefString& title) {
    (void)browser, (void)title;
  }
  virtual void OnFaviconURLChange(CefRefPtr<CefBrowser> browser,
                                  const std::vector<CefString>& icon_urls) {
    (void)browser, (void)icon_urls;
  }
  virtual void OnFullscreenModeChange(CefRefPtr<CefBrowser> browser, bool fullscreen) {
    (void)browser, (void)fullscreen;
  }
  virtual bool OnTooltip(CefRefPtr<CefBrowser> browser, CefString& text) {
    (void)browser, (void)text;
    return false;
  }
  virtual void OnStatusMessage(CefRefPtr<CefBrowser> browser, const CefString& value) {
    (void)browser, (void)value;
  }
  // Added by this layer: the browser started (audible) or stopped playing sound. Called on the UI
  // thread, each change once, in order.
  virtual void OnAudioStateChange(CefRefPtr<CefBrowser> browser, bool audible) {
    (void)browser, (void)audible;
  }
  // false: the engine also writes the message to its own console output.
  virtual bool OnConsoleMessage(CefRefPtr<CefBrowser> browser, const CefString& message,
                                const CefString& source, int line) {
    (void)browser, (void)message, (void)source, (void)line;
    return false;
  }
};
