// Log lines with host text of any length and content: formatted within the
// line buffer, terminated, never ending on half a surrogate pair.
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "diagnostics/debug_log.h"

namespace {

size_t Format(char16_t* out, size_t capacity, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  size_t n = quillo::FormatLogLine(out, capacity, format, args);
  va_end(args);
  return n;
}

bool WellFormed(const std::u16string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] >= 0xD800 && s[i] <= 0xDBFF) {
      if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // A capacity, a number, then UTF-16 units of the text argument.
  const size_t capacity = 1 + (data[0] | (data[1] << 8)) % (quillo::kLogLineCapacity + 8);
  const int number = static_cast<int8_t>(data[2]) * 1000003;
  std::u16string text;
  for (size_t i = 3; i + 1 < size; i += 2)
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  for (char16_t& c : text)
    if (c == 0) c = u' ';
  std::u16string out(capacity + 8, u'\x7E');
  const size_t n = Format(out.data(), capacity, u"CWebClient::OnTitleChange [%s] [%d] 0x%08x [%s]",
                          text.c_str(), number, static_cast<unsigned>(number), text.c_str());
  for (size_t i = capacity; i < out.size(); ++i)
    if (out[i] != u'\x7E') abort();
  if (n > capacity - 1 || out[n] != u'\0') abort();
  // With well-formed text, a cut never leaves half a pair at the end.
  if (WellFormed(text) && n > 0 && out[n - 1] >= 0xD800 && out[n - 1] <= 0xDBFF) abort();
  return 0;
}
