#include "cef_string.h"

#include "platform/utf.h"

void CefString::FromString(std::string_view utf8) {
  str_ = quillo::platform::Utf8ToUtf16(utf8);
}

void CefString::FromWString(std::wstring_view wide) {
  // wchar_t is UTF-32 here.
  str_.clear();
  str_.reserve(wide.size());
  for (wchar_t wc : wide) {
    auto cp = static_cast<char32_t>(wc);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      str_.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      str_.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      str_.push_back(static_cast<char16_t>(cp));
    }
  }
}

std::string CefString::ToString() const {
  return quillo::platform::Utf16ToUtf8(str_);
}

std::wstring CefString::ToWString() const {
  std::wstring out;
  out.reserve(str_.size());
  for (size_t i = 0; i < str_.size(); ++i) {
    char32_t cp = str_[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < str_.size() && str_[i + 1] >= 0xDC00 &&
        str_[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (str_[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    out.push_back(static_cast<wchar_t>(cp));
  }
  return out;
}
