// The page's address and title as the display handler hears of them: every
// change of the view's URI and title, and for a page that names no title, its
// address once it has loaded (asked of the page itself, since the engine hands
// its title over later than the load's end). UI thread only.
#pragma once

#include <wpe/webkit.h>

namespace quillo::engine {

class BrowserSide;

class AddressAndTitle {
 public:
  // browser owns the navigation tracker that owns this room, and so outlives it.
  explicit AddressAndTitle(BrowserSide& browser) : m_browser(browser) {}
  AddressAndTitle(const AddressAndTitle&) = delete;
  AddressAndTitle& operator=(const AddressAndTitle&) = delete;

  void Attach(WebKitWebView* view);
  void Detach(WebKitWebView* view);

  // Engine signals (from this room's trampolines).
  void UriChanged();
  void TitleChanged();
  // A main-frame load finished without failing: reports the page's address as its title if it
  // still has none once everything the web process sent before has arrived.
  void ReportAddressIfUntitled();

 private:
  BrowserSide& m_browser;
};

}  // namespace quillo::engine
