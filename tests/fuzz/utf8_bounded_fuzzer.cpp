// Texts cut into the fixed buffers the host reads: never past the buffer,
// always NUL-terminated, a prefix of the input, and valid UTF-8 whenever the
// input was.
#include <glib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/utf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t capacity = data[0] % 64;  // small buffers reach every cut
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<char> buffer(capacity + 8, '\x7E');
  const size_t n = quillo::platform::CopyUtf8Bounded(buffer.data(), capacity, text);
  for (size_t i = capacity; i < buffer.size(); ++i)
    if (buffer[i] != '\x7E') abort();  // wrote past the buffer
  if (capacity == 0) return 0;
  if (n > capacity - 1 || buffer[n] != '\0') abort();
  if (std::memcmp(buffer.data(), text.data(), n) != 0) abort();
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr) &&
      !g_utf8_validate(buffer.data(), static_cast<gssize>(n), nullptr))
    abort();
  // The conversions never fail either.
  quillo::platform::Utf16ToUtf8(quillo::platform::Utf8ToUtf16(text));
  return 0;
}
