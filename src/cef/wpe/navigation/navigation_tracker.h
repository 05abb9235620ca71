// The main frame's navigations: the policy decisions every navigation passes
// (the navigation filter, new windows, downloads), the load events reported to
// the load and request handlers, the history state (the address and title
// notices in a room of their own, AddressAndTitle), sub-frame document failures, and the embedder's
// own loads (with the guard that ends a web process that keeps them from starting). UI thread only;
// it writes the browser's state, which any thread reads.
#pragma once

#include <wpe/webkit.h>

#include <string>

#include "cef_types.h"
#include "wpe/navigation/address_and_title.h"
#include "wpe/navigation/stuck_page_guard.h"
#include "wpe/navigation/top_navigation.h"

namespace quillo::engine {

class BrowserSide;

class NavigationTracker {
 public:
  // browser owns this tracker by value and so outlives it; the handlers of
  // sub-frame resources hold a reference to the browser of their own.
  explicit NavigationTracker(BrowserSide& browser) : m_browser(browser) {}
  NavigationTracker(const NavigationTracker&) = delete;
  NavigationTracker& operator=(const NavigationTracker&) = delete;

  void Attach(WebKitWebView* view);
  void Detach(WebKitWebView* view);

  // The embedder's loads and history moves. again: the same load asked for once more (a
  // fresh web process, or the page cancelled it), which keeps its count of tries.
  void Load(const std::u16string& url, bool again = false);
  void GoBack();
  void GoForward();
  void Reload();
  // Stops the load under way on purpose (also for a refused navigation): it is not asked for
  // again.
  void Stop();
  // The view goes: no stuck process is ended any more.
  void DisarmGuard() { m_stuckGuard.Disarm(); }

  // Engine signals (from this room's trampolines).
  bool DecidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
  // Asks the life-span handler about a page's new window (always refused).
  void AskPopup(WebKitNavigationAction* action);
  void LoadChanged(WebKitWebView* view, WebKitLoadEvent event);
  void LoadFailed(const char* uri, GError* error);
  void ResourceLoadStarted(WebKitWebView* view, WebKitWebResource* resource,
                           WebKitURIRequest* request);
  void UpdateHistoryState();

 private:
  // Main-frame navigation starting (or redirected): OnBeforeBrowse. False
  // when the handler cancelled it.
  bool BeforeBrowse(const char* uri, bool redirect);
  // Terminates the web process that keeps the load of url from starting, and
  // asks for it again in a fresh one.
  void EndStuckProcess(const std::u16string& url);

  BrowserSide& m_browser;
  // Ends a web process that keeps an asked-for load from starting.
  StuckPageGuard m_stuckGuard{[this](const std::u16string& url) { EndStuckProcess(url); }};
  HostLoads m_hostLoads;  // the embedder's loads not yet started
  AddressAndTitle m_addressAndTitle{m_browser};
  bool m_failed = false;  // the current main-frame load has failed
  // Times the page cancelled the embedder's current load before it committed.
  int m_loadCancels = 0;
  int64 m_lastSubframeId = 1;
  // The last navigation the policy check let through.
  struct {
    std::string url;
    int transition = TT_EXPLICIT;
    bool userGesture = false;
  } m_lastNavigation;
};

}  // namespace quillo::engine
