#include "platform/utf.h"

#include <cstdint>

namespace quillo::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at s[i]; advances i past the sequence, or by one
// byte when the sequence is invalid (returning U+FFFD).
char32_t DecodeOne(std::string_view s, size_t& i) {
  const auto b0 = static_cast<uint8_t>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra;
  char32_t cp;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    extra = 1, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    extra = 2, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    extra = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  size_t j = i + 1;
  for (int k = 0; k < extra; ++k, ++j) {
    if (j >= s.size() || (static_cast<uint8_t>(s[j]) & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (static_cast<uint8_t>(s[j]) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i = j;
  return cp;
}

// Byte length of the UTF-8 sequence that starts with lead byte b, or 0 for a
// continuation byte.
size_t SequenceLength(uint8_t b) {
  if (b < 0x80) return 1;
  if ((b & 0xC0) == 0x80) return 0;
  if ((b & 0xE0) == 0xC0) return 2;
  if ((b & 0xF0) == 0xE0) return 3;
  if ((b & 0xF8) == 0xF0) return 4;
  return 1;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp = DecodeOne(utf8, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

size_t CopyUtf8Bounded(char* dst, size_t capacity, std::string_view src) {
  if (dst == nullptr || capacity == 0) return 0;
  size_t n = src.size();
  if (n > capacity - 1) {
    n = capacity - 1;
    // Step back over a sequence that the cut would split: find the lead byte
    // of the last character before the cut and drop it if incomplete.
    size_t lead = n;
    while (lead > 0 && SequenceLength(static_cast<uint8_t>(src[lead - 1])) == 0 && n - lead < 3)
      --lead;
    if (lead > 0) {
      size_t len = SequenceLength(static_cast<uint8_t>(src[lead - 1]));
      if (len > 1 && (lead - 1) + len > n) n = lead - 1;
    }
  }
  for (size_t i = 0; i < n; ++i) dst[i] = src[i];
  dst[n] = '\0';
  return n;
}

bool IsValidUtf8(std::string_view utf8) {
  size_t i = 0;
  while (i < utf8.size()) {
    const size_t at = i;
    // An invalid sequence decodes to U+FFFD one byte long; U+FFFD itself takes three.
    if (DecodeOne(utf8, i) == kReplacement && i - at != 3) return false;
  }
  return true;
}

size_t Utf16CutLength(std::u16string_view utf16, size_t max_units) {
  if (utf16.size() <= max_units) return utf16.size();
  size_t n = max_units;
  // Do not end on the high half of a surrogate pair.
  if (n > 0 && utf16[n - 1] >= 0xD800 && utf16[n - 1] <= 0xDBFF) --n;
  return n;
}

}  // namespace quillo::platform
