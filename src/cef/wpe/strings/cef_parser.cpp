#include "cef_parser.h"

#include <glib.h>

#include <string>

CefString CefBase64Encode(const void* data, size_t data_size) {
  if (data == nullptr || data_size == 0) return CefString();
  gchar* encoded = g_base64_encode(static_cast<const guchar*>(data), data_size);
  CefString result{std::string(encoded)};
  g_free(encoded);
  return result;
}

CefString CefURIEncode(const CefString& text, bool use_plus) {
  // GLib leaves RFC 3986's unreserved characters as they are; the encoding here also keeps
  // !*'() (as CEF's does) and, with use_plus, writes spaces as "+" (GLib has no such mode).
  const std::string utf8 = text.ToString();
  gchar* escaped =
      g_uri_escape_bytes(reinterpret_cast<const guint8*>(utf8.data()), utf8.size(), "!*'()");
  std::string out;
  for (const char* p = escaped; *p != '\0'; ++p) {
    if (use_plus && p[0] == '%' && p[1] == '2' && p[2] == '0') {
      out.push_back('+');
      p += 2;
    } else {
      out.push_back(*p);
    }
  }
  g_free(escaped);
  return CefString(out);
}
