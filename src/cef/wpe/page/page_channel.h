// This process's end of the conversation with the web process's extension:
// script contexts created and released (to the render-process hooks), console
// messages and uncaught exceptions, sub-frame navigations (to the request
// handler's OnBeforeBrowse), the media player's reads of the embedder's
// schemes (to SchemeHandlers); and, the other way, replacing a sub-frame's
// document and running script in the main frame, none of which a web process
// that ends on the way loses. UI thread only.
#pragma once

#include <wpe/webkit.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cef_frame.h"
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
  // Runs script in the main frame; its errors are the page's own. Script the web process had
  // not got past when it ended runs once more, in the next page a fresh process loads; script
  // asked for while no process runs waits for that page too.
  void RunScript(const std::string& script);
  // The web process ended: every context it reported goes, and the script it had not got past
  // waits for the next page.
  void ProcessGone();
  // Answer to a marker: the process got past the script of this id and every earlier one.
  void Confirmed(uint64_t id);
  // Runs script in the main frame and hands its value as JSON (or its exception) to callback.
  void Evaluate(const std::string& script, CefRefPtr<CefEvaluateCallback> callback);

  // Engine signals (from this room's trampolines): true when the message was
  // one of the extension's.
  bool Receive(WebKitUserMessage* message);
  void LoadChanged(WebKitLoadEvent event);

 private:
  struct Script {
    uint64_t id = 0;
    std::string text;
    bool again = false;  // its second run, after a web process ended before it
  };
  // Sends script to the web process, followed by a marker the process answers once past it.
  void Send(Script script);
  // Tells the render-process hooks of a script context that came or went.
  void NotifyContext(bool created, const ScriptContexts::Context& context);

  BrowserSide& m_browser;
  ScriptContexts m_contexts;
  uint64_t m_lastScriptId = 0;
  std::vector<Script> m_unconfirmed;  // sent, oldest first; no marker after it answered yet
  std::vector<Script> m_waiting;      // for the next page of a fresh process, oldest first
  bool m_processGone = false;         // from the end of a web process to the next commit
};

}  // namespace quillo::engine
