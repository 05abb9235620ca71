#include "wpe/navigation/display_title.h"

namespace quillo::engine {

std::string DisplayTitleForUrl(const std::string& url) {
  static const std::string kFile = "file://";
  static const std::string kHttp = "http://";
  if (url.compare(0, kFile.size(), kFile) == 0) {
    // The name after the last slash, before any query or fragment.
    const size_t end = url.find_first_of("?#");
    const size_t slash = url.rfind('/', end == std::string::npos ? std::string::npos : end - 1);
    return url.substr(slash + 1, end == std::string::npos ? std::string::npos : end - slash - 1);
  }
  if (url.compare(0, kHttp.size(), kHttp) != 0) return url;
  std::string rest = url.substr(kHttp.size());
  // Credentials are never shown.
  const size_t hostEnd = rest.find_first_of("/?#");
  const size_t at = rest.rfind('@', hostEnd == std::string::npos ? std::string::npos : hostEnd);
  if (at != std::string::npos && (hostEnd == std::string::npos || at < hostEnd)) {
    rest.erase(0, at + 1);
  }
  // A bare host loses its trailing slash.
  const size_t slash = rest.find('/');
  if (slash != std::string::npos && slash + 1 == rest.size()) rest.pop_back();
  return rest;
}

}  // namespace quillo::engine
