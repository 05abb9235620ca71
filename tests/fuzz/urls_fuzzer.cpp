// HTML source and data URLs: any host text converts without fault, and the
// data URL of HTML source decodes back to exactly its bytes.
#include <glib.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "client/data_url.h"
#include "client/web_client.h"

namespace {

std::string PercentDecode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string html = text.substr(0, text.find('\0'));  // the host's C string ends at NUL
  static CefRefPtr<quillo::CWebClient> client =
      new quillo::CWebClient(CefRect(0, 0, 1, 1), nullptr, nullptr, 0);

  const std::string url = client->ConvertUrl(("quillo_htmlsource:" + html).c_str()).ToString();
  const std::string prefix = "data:text/html;base64,";
  if (url.compare(0, prefix.size(), prefix) != 0) abort();
  const std::string base64 = PercentDecode(url.substr(prefix.size()));
  gsize length = 0;
  guchar* decoded = g_base64_decode(base64.c_str(), &length);
  if (std::string(reinterpret_cast<char*>(decoded), length) != html) abort();
  g_free(decoded);

  // Ordinary URLs pass through (as UTF-8, invalid bytes replaced).
  client->ConvertUrl(html.c_str());
  quillo::BuildDataUrl(text, "text/plain");
  return 0;
}
