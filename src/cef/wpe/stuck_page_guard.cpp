#include "cef/wpe/stuck_page_guard.h"

namespace quillo::engine {

void StuckPageGuard::Arm(const std::u16string& url, GMainContext* context) {
  Disarm();
  m_url = url;
  m_timer = g_timeout_source_new(kStartGraceMs);
  g_source_set_callback(m_timer, &StuckPageGuard::OnTimeout, this, nullptr);
  g_source_attach(m_timer, context);
}

void StuckPageGuard::Disarm() {
  if (m_timer == nullptr) return;
  g_source_destroy(m_timer);
  g_source_unref(m_timer);
  m_timer = nullptr;
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

gboolean StuckPageGuard::OnTimeout(gpointer self) {
  auto* guard = static_cast<StuckPageGuard*>(self);
  g_source_unref(guard->m_timer);
  guard->m_timer = nullptr;
  const std::u16string url = guard->m_url;
  guard->m_onExpired(url);  // may arm the guard again
  return G_SOURCE_REMOVE;
}

}  // namespace quillo::engine
