// CefString: a UTF-16 string, converting from and to UTF-8 and wide text.
// Invalid UTF-8 or lone surrogates become U+FFFD. A value type: not shared
// between threads while one writes it.
#pragma once

#include <string>
#include <string_view>

class CefString {
 public:
  CefString() = default;
  CefString(const char16_t* s) : str_(s ? s : u"") {}
  CefString(const std::u16string& s) : str_(s) {}
  CefString(std::u16string&& s) : str_(std::move(s)) {}
  CefString(const char* utf8) { FromString(utf8 ? std::string_view(utf8) : std::string_view()); }
  CefString(const std::string& utf8) { FromString(utf8); }
  CefString(const wchar_t* wide) {
    FromWString(wide ? std::wstring_view(wide) : std::wstring_view());
  }
  CefString(const std::wstring& wide) { FromWString(wide); }

  void FromString(std::string_view utf8);
  void FromWString(std::wstring_view wide);
  void FromString16(std::u16string_view utf16) { str_.assign(utf16); }

  std::string ToString() const;  // UTF-8
  std::wstring ToWString() const;
  const std::u16string& ToString16() const { return str_; }

  const char16_t* c_str() const { return str_.c_str(); }
  size_t length() const { return str_.length(); }
  size_t size() const { return str_.size(); }
  bool empty() const { return str_.empty(); }
  void clear() { str_.clear(); }

  bool operator==(const CefString& other) const { return str_ == other.str_; }
  bool operator!=(const CefString& other) const { return str_ != other.str_; }
  bool operator<(const CefString& other) const { return str_ < other.str_; }

 private:
  std::u16string str_;
};
