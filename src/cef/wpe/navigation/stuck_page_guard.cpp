#include "wpe/navigation/stuck_page_guard.h"
#include "wpe/process/ui_thread.h"

namespace quillo::engine {

void StuckPageGuard::Arm(const std::u16string& url) {
  QUILLO_REQUIRE_UI_THREAD();
  if (url != m_url) m_expiries = 0;
  m_url = url;
  WatchStart();
}

void StuckPageGuard::Claim(const std::u16string& url) {
  QUILLO_REQUIRE_UI_THREAD();
  if (url != m_url) m_expiries = 0;
  m_url = url;
  m_timer.Cancel();
  m_watch = Watch::kClaimed;
}

void StuckPageGuard::WatchStart() {
  m_watch = Watch::kStart;
  m_timer.Start(m_timings.startGraceMs * BackOff(), [this] { Expire(); });
}

void StuckPageGuard::AskProcess() {
  m_watch = Watch::kAnswer;
  const uint64_t check = ++m_checks;
  m_timer.Start(m_timings.answerGraceMs * BackOff(), [this] { Expire(); });
  m_check([this, check] {
    // The process is alive and its page goes on: the load is slow, not stuck.
    if (m_watch == Watch::kAnswer && check == m_checks) WatchCommit();
  });
}

void StuckPageGuard::Expire() {
  m_watch = Watch::kNone;
  if (m_expiries < kMaxExpiryDoublings) ++m_expiries;
  const std::u16string expired = m_url;
  m_onExpired(expired);  // may arm the guard again
}

void StuckPageGuard::Started() {
  if (m_watch == Watch::kStart) WatchCommit();
  if (m_watch == Watch::kClaimed) m_watch = Watch::kClaimedStarted;
}

void StuckPageGuard::WatchCommit() {
  m_watch = Watch::kCommit;
  m_timer.Start(m_timings.commitWatchMs * BackOff(), [this] { AskProcess(); });
}

void StuckPageGuard::Disarm() {
  m_watch = Watch::kNone;
  m_timer.Cancel();
}

void StuckPageGuard::ExpectCommit(const char* uri) {
  m_expectedUri = uri ? uri : "";
  m_expectedSince = g_get_monotonic_time();
}

void StuckPageGuard::Committed() {
  m_expectedUri.clear();
  m_expiries = 0;
  Disarm();
}

bool StuckPageGuard::RefusesNavigation(const char* uri, bool isRedirect) const {
  if (m_expectedUri.empty() || isRedirect || uri == nullptr) return false;
  if (g_get_monotonic_time() - m_expectedSince > gint64{m_timings.startGraceMs} * 1000)
    return false;
  return m_expectedUri != uri;
}

}  // namespace quillo::engine
