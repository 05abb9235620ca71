#include "wpe/navigation/stuck_page_guard.h"
#include "wpe/process/ui_thread.h"

namespace quillo::engine {

void StuckPageGuard::Arm(const std::u16string& url) {
  QUILLO_REQUIRE_UI_THREAD();
  m_url = url;
  m_timer.Start(kStartGraceMs, [this] {
    const std::u16string expired = m_url;
    m_onExpired(expired);  // may arm the guard again
  });
}

void StuckPageGuard::ExpectCommit(const char* uri) {
  m_expectedUri = uri ? uri : "";
  m_expectedSince = g_get_monotonic_time();
}

bool StuckPageGuard::RefusesNavigation(const char* uri, bool isRedirect) const {
  if (m_expectedUri.empty() || isRedirect || uri == nullptr) return false;
  if (g_get_monotonic_time() - m_expectedSince > gint64{kStartGraceMs} * 1000) return false;
  return m_expectedUri != uri;
}

}  // namespace quillo::engine
