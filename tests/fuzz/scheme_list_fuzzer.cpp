// The refused-prefix list: any text the host sends is split soundly, and a
// URL is refused exactly when it begins with one of the non-empty entries
// (or with "mailto:").
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "application/web_application.h"
#include "wpe/room/request_impl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Input: the scheme text, a NUL byte, the URL.
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\0');
  std::string schemes(input.substr(0, split));
  std::string url(split == std::string_view::npos ? "" : input.substr(split + 1));

  static CefRefPtr<quillo::CWebApplication> app = new quillo::CWebApplication({});
  app->ReserveInvalidRedirectUrlSchemes(schemes.c_str());

  // The request carries the URL as UTF-16; compare with its UTF-8 form.
  CefRefPtr<CefRequest> request =
      new quillo::engine::RequestImpl(CefString(url), CefString("GET"), TT_LINK);
  const std::string seen = request->GetURL().ToString();
  bool expected = false;
  size_t start = 0;
  while (start <= schemes.size()) {
    size_t end = schemes.find(';', start);
    if (end == std::string::npos) end = schemes.size();
    if (end > start && seen.compare(0, end - start, schemes, start, end - start) == 0)
      expected = true;
    start = end + 1;
  }
  if (seen.compare(0, 7, "mailto:") == 0) expected = true;
  const bool refused = app->OnBeforeNavigation(nullptr, nullptr, request, NAVIGATION_OTHER, false);
  if (refused != expected) abort();
  return 0;
}
