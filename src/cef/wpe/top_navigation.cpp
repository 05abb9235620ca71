#include "cef/wpe/top_navigation.h"

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

}  // namespace quillo::engine
