// Ends a web process that keeps a new main-frame load from starting: script that never
// returns, or dialogs that nobody answers, opened in a loop. Each load asked for through the
// frame must start within kStartGrace; otherwise the guard's callback runs (the browser then
// terminates the web process and asks for the load again in a fresh one).
//
// Thread: the UI (engine) thread only.
#pragma once

#include <glib.h>

#include <functional>
#include <string>

#include "wpe/process/one_shot_timer.h"

namespace quillo::engine {

class StuckPageGuard {
 public:
  static constexpr guint kStartGraceMs = 5000;
  using Expired = std::function<void(const std::u16string& url)>;

  explicit StuckPageGuard(Expired onExpired) : m_onExpired(std::move(onExpired)) {}
  StuckPageGuard(const StuckPageGuard&) = delete;
  StuckPageGuard& operator=(const StuckPageGuard&) = delete;

  // A load of url was asked for: it must start within the grace (restarts the clock).
  void Arm(const std::u16string& url);
  // The load started, or the view goes.
  void Disarm() { m_timer.Cancel(); }

  // The URI of an asked-for load as the engine reports it (set right after asking), so that
  // until it commits or fails, the page's own navigations cannot take its place (as in a page
  // that navigates itself every millisecond). Redirects pass; the claim lapses after
  // kStartGraceMs (a same-document load never commits).
  void ExpectCommit(const char* uri);
  // Whether uri is the load asked for (a load that started or committed in the meantime may be
  // an older one of the page's).
  bool IsExpected(const char* uri) const { return uri != nullptr && m_expectedUri == uri; }
  void Committed() { m_expectedUri.clear(); }
  // The load last asked for.
  const std::u16string& Url() const { return m_url; }
  bool RefusesNavigation(const char* uri, bool isRedirect) const;

 private:
  Expired m_onExpired;
  OneShotTimer m_timer;
  std::u16string m_url;
  std::string m_expectedUri;
  gint64 m_expectedSince = 0;  // monotonic microseconds
};

}  // namespace quillo::engine
