#include "support/data_url.h"

#include <cstdint>

namespace quillo_test {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::optional<std::string> PercentDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

std::optional<std::string> Base64Decode(const std::string& text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < text.size(); i += 4) {
    int v[4];
    int padding = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=' && i + 4 == text.size() && k >= 2) {
        v[k] = 0;
        ++padding;
        continue;
      }
      if (padding > 0) return std::nullopt;  // data after padding
      v[k] = Base64Value(c);
      if (v[k] < 0) return std::nullopt;
    }
    const uint32_t word = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    out += static_cast<char>((word >> 16) & 0xFF);
    if (padding < 2) out += static_cast<char>((word >> 8) & 0xFF);
    if (padding < 1) out += static_cast<char>(word & 0xFF);
  }
  return out;
}

}  // namespace

std::optional<std::string> DecodeBase64DataUrl(const std::string& url, const std::string& type) {
  const std::string prefix = "data:" + type + ";base64,";
  if (url.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  const auto base64 = PercentDecode(url.substr(prefix.size()));
  if (!base64) return std::nullopt;
  return Base64Decode(*base64);
}

bool IsValidUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    int extra;
    uint32_t point;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      point = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      point = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      point = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = (point << 6) | (next & 0x3F);
    }
    if ((extra == 2 && point < 0x800) || (extra == 3 && point < 0x10000)) return false;
    if (point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

std::string ErrorPageHtml(const std::string& url, const std::string& name, int code,
                          const std::string& text) {
  std::string page =
      "<html><head><title>Page failed to load</title></head><body bgcolor=\"white\">"
      "<h3>Page failed to load.</h3>URL: <a href=\"" +
      url + "\">" + url + "</a><br/><br/>Error: " + name + " (" + std::to_string(code) + ")";
  if (!text.empty()) page += "<br/><br/>" + text;
  return page + "</body></html>";
}

}  // namespace quillo_test
