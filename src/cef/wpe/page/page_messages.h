// The page-to-host messages of one browser (CefBrowserSettings::page_message_function): each
// main document gets a global function of that name that posts a string through a script
// message handler and returns a promise; each post reaches the client's CefPageMessageHandler
// with an id of the browser's own, and ReplyToPageMessage settles that promise by running a
// reply function in the page (this engine's message handlers cannot answer a post themselves).
// A document tells its posts apart from another's by a token of its own, so an answer meant
// for a page that has gone settles nothing in the next. UI thread only.
#pragma once

#include <wpe/webkit.h>

#include <cstdint>
#include <map>
#include <string>

namespace quillo::engine {

class BrowserSide;

class PageMessages {
 public:
  // browser owns this room by value and so outlives it. function: the page's function name
  // (empty: no function, the room does nothing).
  PageMessages(BrowserSide& browser, std::string function);
  PageMessages(const PageMessages&) = delete;
  PageMessages& operator=(const PageMessages&) = delete;

  void Attach(WebKitWebView* view);
  void Detach(WebKitWebView* view);

  // Settles message id's promise: resolved with text, or rejected with an Error of text.
  void Reply(int64_t id, bool success, const std::string& text);

  // Engine signal (from this room's trampoline): a post, [token, sequence, text].
  void Posted(WebKitJavascriptResult* post);

 private:
  // The most posts that wait for an answer; past it the oldest is forgotten (its promise then
  // never settles).
  static constexpr size_t kMaxWaiting = 10000;

  struct Waiting {
    std::string token;  // the posting document's
    double sequence;    // the post's number within that document
  };

  BrowserSide& m_browser;
  const std::string m_function;
  const std::string m_replyFunction;  // hidden on the page's window, with a name of its own
  int64_t m_lastId = 0;
  std::map<int64_t, Waiting> m_waiting;  // by id, oldest first
};

// text as a JSON string literal (quotes, backslashes and control characters escaped).
std::string JsonString(const std::string& text);

}  // namespace quillo::engine
