// Ends a web process that keeps a new main-frame load from starting or, once started, from
// committing: script that never returns, or dialogs that nobody answers, opened in a loop. Each
// load asked for through the frame must start within kStartGraceMs; otherwise the guard's
// expiry runs (the browser then terminates the web process, and the load is asked for again in
// a fresh one). A load that has started but not committed within kCommitWatchMs is not stuck
// as long as its process answers the guard's check within kAnswerGraceMs (a slow server keeps
// the commit waiting while the page goes on); one whose process does not answer is.
//
// Thread: the UI (engine) thread only.
#pragma once

#include <glib.h>

#include <cstdint>
#include <functional>
#include <string>

#include "wpe/process/one_shot_timer.h"

namespace quillo::engine {

class StuckPageGuard {
 public:
  static constexpr guint kStartGraceMs = 5000;
  static constexpr guint kCommitWatchMs = 5000;
  static constexpr guint kAnswerGraceMs = 5000;
  using Expired = std::function<void(const std::u16string& url)>;
  // Asks the web process something it answers only when its main thread is free, and calls
  // answered then (not at all when no answer comes).
  using Check = std::function<void(std::function<void()> answered)>;

  StuckPageGuard(Expired onExpired, Check check)
      : m_onExpired(std::move(onExpired)), m_check(std::move(check)) {}
  StuckPageGuard(const StuckPageGuard&) = delete;
  StuckPageGuard& operator=(const StuckPageGuard&) = delete;

  // A load of url was asked for: it must start within the grace (restarts the clock).
  void Arm(const std::u16string& url);
  // The load asked for started: from now on its commit is watched.
  void Started();
  // A main-frame document committed: once the load asked for has started, that is its commit
  // (or its redirect target's), and nothing is watched any more.
  void CommitSeen() {
    if (m_watch == Watch::kCommit || m_watch == Watch::kAnswer) Disarm();
  }
  // The view goes: nothing is watched any more.
  void Disarm();

  // The URI of an asked-for load as the engine reports it (set right after asking), so that
  // until it commits or fails, the page's own navigations cannot take its place (as in a page
  // that navigates itself every millisecond). Redirects pass; the claim lapses after
  // kStartGraceMs (a same-document load never commits).
  void ExpectCommit(const char* uri);
  // Whether uri is the load asked for (a load that started or committed in the meantime may be
  // an older one of the page's).
  bool IsExpected(const char* uri) const { return uri != nullptr && m_expectedUri == uri; }
  // The load asked for has committed, failed or given way to a later request: its claim ends
  // and it is watched no more.
  void Committed();
  // The load last asked for.
  const std::u16string& Url() const { return m_url; }
  bool RefusesNavigation(const char* uri, bool isRedirect) const;

 private:
  enum class Watch { kNone, kStart, kCommit, kAnswer };
  void WatchCommit();

  Expired m_onExpired;
  Check m_check;
  OneShotTimer m_timer;
  Watch m_watch = Watch::kNone;
  uint64_t m_checks = 0;  // tells the answer to the current check from an older one's
  std::u16string m_url;
  std::string m_expectedUri;
  gint64 m_expectedSince = 0;  // monotonic microseconds
};

}  // namespace quillo::engine
