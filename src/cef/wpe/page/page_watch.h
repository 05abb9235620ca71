// What the main frame's document says of itself, through a script of the layer's own world: that
// it is ready to be captured (loaded, its web fonts in, its images loaded and decoded, and the
// frame showing them painted), which the load handler hears once per document (OnPageReady);
// and which editable element has the keyboard focus, which the render handler hears as it
// changes (OnFocusedEditableChanged).
//
// The script waits two animation frames after the fonts and images are in before it says so:
// the engine runs an animation frame only after the view has taken the frame before it (the
// frame sink's paint, then its frame complete), so the frame that shows them has been painted
// by the time the message comes.
//
// Threads: the UI thread only.
#pragma once

#include <wpe/webkit.h>

#include <functional>
#include <string>

#include "cef_render_handler.h"

namespace quillo::engine {

class BrowserSide;

class PageWatch {
 public:
  // browser owns this room by value and outlives it.
  explicit PageWatch(BrowserSide& browser) : m_browser(browser) {}
  PageWatch(const PageWatch&) = delete;
  PageWatch& operator=(const PageWatch&) = delete;

  // Called when a document of the main frame has loaded and painted the frame that shows it
  // loaded (two animation frames after its load event).
  void OnPainted(std::function<void()> painted) { m_onPainted = std::move(painted); }

  void Attach(WebKitWebView* view);
  void Detach(WebKitWebView* view);

  // The web process ended: its document, and the focus in it, are gone.
  void ProcessGone();

  // Engine signals (from this room's trampolines).
  void LoadChanged(WebKitLoadEvent event);
  // A report of the script: ["painted"], ["ready", the document's URL], or ["editable", focused,
  // type, inputmode, x, y, width, height, text, caret].
  void Reported(JSCValue* report);

 private:
  void MaybeReady();
  void Editable(const CefEditableInfo& info);
  // Tells the render handler that the focused editable element lost the focus, if one has it.
  void LoseEditable();

  BrowserSide& m_browser;
  // The main frame's current document.
  bool m_loaded = false;      // its load has finished
  bool m_readyHeard = false;  // its script said it is ready
  bool m_readyTold = false;   // the load handler heard of it
  std::string m_readyUrl;     // the document's address, as its script said
  std::function<void()> m_onPainted;
  CefEditableInfo m_editable;  // the element with the focus, as told last (focused: it has)
};

}  // namespace quillo::engine
