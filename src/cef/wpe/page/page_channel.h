// This process's end of the conversation with the web process's extension:
// script contexts created and released (to the render-process hooks), console
// messages and uncaught exceptions, sub-frame navigations (to the request
// handler's OnBeforeBrowse); and, the other way, replacing a sub-frame's
// document and running script in the main frame. UI thread only.
#pragma once

#include <wpe/webkit.h>

#include <string>

#include "wpe/page/script_contexts.h"

namespace quillo::engine {

class BrowserSide;

class PageChannel {
 public:
  // browser owns this channel by value and so outlives it.
  explicit PageChannel(BrowserSide& browser) : m_browser(browser) {}
  PageChannel(const PageChannel&) = delete;
  PageChannel& operator=(const PageChannel&) = delete;

  void Attach(WebKitWebView* view);
  void Detach(WebKitWebView* view);

  // Points the sub-frames showing frameUrl at url.
  void ReplaceSubframe(const std::string& frameUrl, const std::string& url);
  // Runs script in the main frame; its errors are the page's own.
  void RunScript(const std::string& script);
  // The web process ended: every context it reported goes.
  void ReleaseAllContexts();

  // Engine signal (from this room's trampolines): true when the message was
  // one of the extension's.
  bool Receive(WebKitUserMessage* message);

 private:
  // Tells the render-process hooks of a script context that came or went.
  void NotifyContext(bool created, const ScriptContexts::Context& context);

  BrowserSide& m_browser;
  ScriptContexts m_contexts;
};

}  // namespace quillo::engine
