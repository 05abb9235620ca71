// The main frame's navigations: the policy decisions every navigation passes
// (the navigation filter, new windows, downloads), the load events reported to
// the load and request handlers, the history state (the address and title
// notices in a room of their own, AddressAndTitle), sub-frame document failures, and the embedder's
// own loads (with the guard that ends a web process that keeps them from starting). UI thread only;
// it writes the browser's state, which any thread reads.
#pragma once

#include <wpe/webkit.h>

#include <cstdint>
#include <functional>
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

  ~NavigationTracker() { m_inFlight.Clear(); }

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

  // The web process ended. MarkCrash comes first: from then on AskedSinceCrash tells whether a
  // main-frame load or history move has been asked for since (the crash's own error page gives
  // way to one). RedoAfterCrash then asks again (up to kMaxRedos times in a row) for the load
  // or history move that had not committed when the process ended; true when it did. A later
  // load or move asked for before the one asked again goes, takes its place.
  void MarkCrash() {
    m_navigationsAtCrash = m_navigationsAsked;
    m_endedBeforeCommit = true;
  }
  // Whether a web process ended and no main-frame document has committed since: a fresh process
  // that ends too (one the engine took over from the process killed, or one that could not
  // start) continues that end, and the load it was to show can be asked for again.
  bool EndedBeforeCommit() const { return m_endedBeforeCommit; }
  bool CanRedo() const { return !m_inFlight.Empty() && m_inFlight.redos < kMaxRedos; }
  // Whether the embedder has asked for a load or history move that has not committed yet (the
  // page shown is being left).
  bool Leaving() const { return !m_inFlight.Empty(); }
  bool AskedSinceCrash() const { return m_navigationsAsked != m_navigationsAtCrash; }
  bool RedoAfterCrash();

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
  // Terminates the web process that keeps the load of url from starting or committing, and
  // asks for it again in a fresh one.
  void EndStuckProcess(const std::u16string& url);
  // Evaluates a trivial script in the page; answered runs when the process gets to it.
  void AskProcess(std::function<void()> answered);

  // The embedder's last main-frame load (url) or history move (item, a reference held) that has
  // not committed yet; redos: the tries it has had after crashes before this one. engineUri is the
  // view's URI right after asking, which its start reports; a commit or failure counts only once it
  // has started (one of an earlier navigation may still arrive after it was asked for).
  struct InFlight {
    std::u16string url;
    WebKitBackForwardListItem* item = nullptr;
    int redos = 0;
    std::string engineUri;
    bool started = false;

    bool Empty() const { return url.empty() && item == nullptr; }
    void Clear();
    void SetLoad(const std::u16string& target);
    void SetMove(WebKitBackForwardListItem* target);
  };
  // A history move to target, recorded so that a crash before it commits does not lose it.
  void MoveTo(WebKitBackForwardListItem* target);

  BrowserSide& m_browser;
  InFlight m_inFlight;
  // Main-frame loads and history moves asked for so far, and at the last crash.
  uint64_t m_navigationsAsked = 0;
  uint64_t m_navigationsAtCrash = 0;
  bool m_endedBeforeCommit = false;  // from a web process's end until a main-frame commit
  static constexpr int kMaxRedos = 3;
  // Ends a web process that keeps an asked-for load from starting.
  StuckPageGuard m_stuckGuard{
      [this](const std::u16string& url) { EndStuckProcess(url); },
      [this](std::function<void()> answered) { AskProcess(std::move(answered)); }};
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
