// The clipboard of the browser's pages. This engine keeps one clipboard for the process (libwpe's
// pasteboard, in this process, shared by every browser): its pages' copies and cuts write it and
// their pastes read it, with no system's clipboard behind it.
//
//  - Copies and cuts reach the client's CefClipboardHandler. The engine tells no one of a write,
//    so a script of the layer's own world marks each trusted copy or cut: its start (the
//    pasteboard gets a marker type) and its end (after the engine's write); then the pasteboard
//    is read (no marker: the page wrote it). When the page's own copy handler set the data, the
//    data is the handler's (this engine keeps only the last type a handler set). Either way the
//    pasteboard then holds the text and HTML under the engine's names and the web's.
//  - Pastes: this engine hands a page's paste the pasteboard's text in the wrong encoding
//    (bytes beyond ASCII as Latin-1), and only under the names the web uses ("text/plain"),
//    which its own copies do not write. The layer's script takes every trusted paste before the
//    page sees it, reads the text right, and pastes it the way PasteText does: a "paste" event
//    of its own with "text/plain" and "text/html", then, unless the page cancels it, the text
//    inserted.
//
// Threads: the UI thread only.
#pragma once

#include <wpe/webkit.h>

#include <string>

namespace quillo::engine {

class BrowserSide;

class ClipboardBridge {
 public:
  // browser owns this room by value and outlives it.
  explicit ClipboardBridge(BrowserSide& browser) : m_browser(browser) {}
  ClipboardBridge(const ClipboardBridge&) = delete;
  ClipboardBridge& operator=(const ClipboardBridge&) = delete;

  void Attach(WebKitWebView* view);
  void Detach(WebKitWebView* view);

  // CefFrame's Copy, Cut and Paste: the engine's editing commands, as the user's keys.
  void Copy();
  void Cut();
  void Paste();
  // CefFrame::PasteText (UTF-8 text and html; html may be empty).
  void PasteText(const std::string& text, const std::string& html);

  // Engine signal: a report of the layer's copy script (an array: "begin", id; or "end", id,
  // kind, prevented, whether the page's data came, text, html).
  void Reported(JSCValue* report);

 private:
  BrowserSide& m_browser;
};

}  // namespace quillo::engine
