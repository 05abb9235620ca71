#include "cef_parser.h"

#include <cstdint>
#include <string>

CefString CefBase64Encode(const void* data, size_t data_size) {
  static const char kTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto* in = static_cast<const uint8_t*>(data);
  std::u16string out;
  if (in == nullptr) data_size = 0;
  out.reserve((data_size + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < data_size; i += 3) {
    uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    out.push_back(kTable[v >> 18]);
    out.push_back(kTable[(v >> 12) & 63]);
    out.push_back(kTable[(v >> 6) & 63]);
    out.push_back(kTable[v & 63]);
  }
  if (i < data_size) {
    uint32_t v = uint32_t{in[i]} << 16;
    if (i + 1 < data_size) v |= uint32_t{in[i + 1]} << 8;
    out.push_back(kTable[v >> 18]);
    out.push_back(kTable[(v >> 12) & 63]);
    out.push_back(i + 1 < data_size ? kTable[(v >> 6) & 63] : u'=');
    out.push_back(u'=');
  }
  return CefString(std::move(out));
}

CefString CefURIEncode(const CefString& text, bool use_plus) {
  static const char kHex[] = "0123456789ABCDEF";
  const std::string utf8 = text.ToString();
  std::u16string out;
  out.reserve(utf8.size());
  for (unsigned char c : utf8) {
    bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.' || c == '~' || c == '!' || c == '*' ||
                      c == '\'' || c == '(' || c == ')';
    if (unreserved) {
      out.push_back(c);
    } else if (c == ' ' && use_plus) {
      out.push_back(u'+');
    } else {
      out.push_back(u'%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return CefString(std::move(out));
}
