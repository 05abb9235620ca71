#include "wpe/navigation/top_navigation.h"

#include <glib.h>

#include "cef_types.h"

namespace quillo::engine {

bool RefusedTopLevelDataUrl(const std::string& url, int transition, bool hostStarted) {
  if (hostStarted || g_ascii_strncasecmp(url.c_str(), "data:", 5) != 0) return false;
  // Moves through the history and reloads only show again what was shown.
  if (transition & TT_FORWARD_BACK_FLAG) return false;
  if ((transition & TT_SOURCE_MASK) == TT_RELOAD) return false;
  return true;
}

void HostLoads::Asked(const std::string& url) {
  if (m_waiting.size() == kMaxWaiting) m_waiting.pop_front();
  m_waiting.push_back(url);
}

bool HostLoads::Starting(const std::string& url) {
  for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
    if (*it != url) continue;
    m_waiting.erase(m_waiting.begin(), it + 1);
    return true;
  }
  return false;
}

}  // namespace quillo::engine
