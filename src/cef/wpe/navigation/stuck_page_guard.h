// Ends a web process that keeps a new main-frame load from starting or, once started, from
// committing: script that never returns, or dialogs that nobody answers, opened in a loop. Each
// load asked for through the frame must start within the start grace (5 s); otherwise the
// guard's expiry runs (the browser then terminates the web process, and the load is asked for
// again in a fresh one). A load that has started but not committed within the commit watch
// (5 s) is not stuck as long as its process answers the guard's check within the answer grace
// (5 s: a slow server keeps the commit waiting while the page goes on); one whose process does
// not answer is. A load asked for in a process with no page (the first, or the first after the
// process ended) is only claimed: nothing there can keep it from starting, and a fresh process
// on a loaded machine may take longer than the grace to start.
//
// A load asked for again after the guard ended its process (the same URL, no commit between)
// gets twice the graces of the try before, up to kMaxBackOff times: on a machine so loaded that
// a fresh web process needs longer than the grace to start, the load then still comes, instead
// of every fresh process being ended in turn.
//
// Thread: the UI (engine) thread only.
#pragma once

#include <glib.h>

#include <cstdint>
#include <functional>
#include <string>

#include "wpe/process/one_shot_timer.h"

namespace quillo::engine {

// How long the guard waits at each step (a test gives shorter ones).
struct StuckPageTimings {
  guint startGraceMs = 5000;
  guint commitWatchMs = 5000;
  guint answerGraceMs = 5000;
};

class StuckPageGuard {
 public:
  using Timings = StuckPageTimings;
  using Expired = std::function<void(const std::u16string& url)>;
  // Asks the web process something it answers only when its main thread is free, and calls
  // answered then (not at all when no answer comes).
  using Check = std::function<void(std::function<void()> answered)>;

  StuckPageGuard(Expired onExpired, Check check, Timings timings = Timings())
      : m_onExpired(std::move(onExpired)), m_check(std::move(check)), m_timings(timings) {}
  StuckPageGuard(const StuckPageGuard&) = delete;
  StuckPageGuard& operator=(const StuckPageGuard&) = delete;

  // A load of url was asked for: it must start within the grace (restarts the clock).
  void Arm(const std::u16string& url);
  // A load of url was asked for in a process with no page, which nothing can keep from
  // starting: it is the load asked for (Url), but unwatched.
  void Claim(const std::u16string& url);
  // The load asked for started: from now on its commit is watched.
  void Started();
  // A main-frame document committed: once the load asked for has started, that is its commit
  // (or its redirect target's), which ends its claim and the watch. Before, it is an earlier
  // navigation's, which arrived late (the view already names the load asked for then).
  void CommitSeen() {
    if (m_watch == Watch::kCommit || m_watch == Watch::kAnswer || m_watch == Watch::kClaimedStarted)
      Committed();
  }
  // The view goes: nothing is watched any more.
  void Disarm();

  // The URI of an asked-for load as the engine reports it (set right after asking), so that
  // until it commits or fails, the page's own navigations cannot take its place (as in a page
  // that navigates itself every millisecond). Redirects pass; the claim lapses after the start
  // grace (a same-document load never commits).
  void ExpectCommit(const char* uri);
  // Whether uri is the load asked for (a load that started or committed in the meantime may be
  // an older one of the page's).
  bool IsExpected(const char* uri) const { return uri != nullptr && m_expectedUri == uri; }
  // The load asked for has committed, failed or given way to a later request: its claim ends
  // and it is watched no more.
  void Committed();
  // The load last asked for.
  const std::u16string& Url() const { return m_url; }
  // The graces' multiple for the load asked for now: 1, doubled by each expiry of the same load.
  guint BackOff() const { return 1u << m_expiries; }
  static constexpr int kMaxExpiryDoublings = 3;  // at most 8 times the graces
  bool RefusesNavigation(const char* uri, bool isRedirect) const;

 private:
  // kClaimed and kClaimedStarted: a claimed load before and after its start, with no timer.
  enum class Watch { kNone, kStart, kCommit, kAnswer, kClaimed, kClaimedStarted };
  void WatchStart();
  void WatchCommit();
  // Asks the page's process whether it is alive: an answer watches on, none within the answer
  // grace expires.
  void AskProcess();
  void Expire();

  Expired m_onExpired;
  Check m_check;
  const Timings m_timings;
  OneShotTimer m_timer;
  Watch m_watch = Watch::kNone;
  uint64_t m_checks = 0;  // tells the answer to the current check from an older one's
  std::u16string m_url;
  int m_expiries = 0;  // expiries of m_url's loads since it last committed (capped)
  std::string m_expectedUri;
  gint64 m_expectedSince = 0;  // monotonic microseconds
};

}  // namespace quillo::engine
