#include "client/data_url.h"

#include "cef_parser.h"

namespace quillo {

std::string BuildDataUrl(std::string_view content, std::string_view mime) {
  CefString base64 = CefBase64Encode(content.data(), content.size());
  std::string encoded = CefURIEncode(base64, false).ToString();
  std::string url;
  url.reserve(5 + mime.size() + 8 + encoded.size());
  url.append("data:").append(mime).append(";base64,").append(encoded);
  return url;
}

}  // namespace quillo
