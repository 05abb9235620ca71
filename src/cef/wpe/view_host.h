// The browser's WebKitWebView and its life. It is made with the browser's
// settings (languages, character set, file access, background colour) on the
// frame sink's backend, shown and hidden, and asked to close: the page's
// unload handlers run, and a page that neither closes nor vetoes within the
// grace is closed by force. The page's own close and the end of its web
// process are passed to the browser (onClosed, onProcessGone), which takes
// its rooms through them. UI thread only.
#pragma once

#include <wpe/webkit.h>

#include <cstdint>
#include <functional>
#include <string>

#include "cef_browser.h"
#include "wpe/process/one_shot_timer.h"

namespace quillo::engine {

class BrowserSide;
class FrameSink;

class ViewHost {
 public:
  using Ended = std::function<void()>;
  using ProcessEnded = std::function<void(WebKitWebProcessTerminationReason)>;

  // browser owns this host by value and so outlives it. onClosed: the view
  // is to go (the page closed, or the grace ran out); onProcessGone: its web
  // process ended.
  // transparent: the page's background is transparent (CefWindowInfo's
  // transparent_painting_enabled) instead of the settings' colour.
  ViewHost(BrowserSide& browser, const CefBrowserSettings& settings, bool transparent,
           Ended onClosed, ProcessEnded onProcessGone);
  ViewHost(const ViewHost&) = delete;
  ViewHost& operator=(const ViewHost&) = delete;

  // Makes the view on the backend of frames. False when it cannot be made.
  bool Create(FrameSink& frames);
  // Marks the view visible and in a window, and connects the view's life
  // signals and the answers to the page's requests.
  void Attach();
  // Null before Create and after Destroy.
  WebKitWebView* View() const { return m_view; }

  void SetHidden(bool hidden);
  // Asks the page to close; onClosed follows from "close", or from the grace
  // running out.
  void TryClose();
  // The view goes: the close wait ends and the grace timer stops.
  void EndClose();
  // Disconnects the life signals (before the buffers go back).
  void Detach();
  // Drops the view (its backend goes with the last reference).
  void Destroy();

  // Engine signals (from this room's trampolines).
  void Closed() { m_onClosed(); }
  void ProcessGone(WebKitWebProcessTerminationReason reason) { m_onProcessGone(reason); }
  // The User-Agent of the view's next requests (empty: the engine's).
  void SetUserAgent(const std::string& agent);

 private:
  BrowserSide& m_browser;
  const Ended m_onClosed;
  const ProcessEnded m_onProcessGone;
  const std::string m_userAgent;
  const uint32_t m_backgroundColor;
  const bool m_transparent;
  const std::u16string m_acceptLanguages;
  const std::string m_defaultEncoding;
  const bool m_fileAccess;
  const bool m_universalFileAccess;
  WebKitWebView* m_view = nullptr;
  OneShotTimer m_closeTimer;
  bool m_closeTimerFired = false;  // the close grace ran out (then onClosed follows)
};

}  // namespace quillo::engine
