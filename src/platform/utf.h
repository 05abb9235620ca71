// UTF-8 / UTF-16 conversion and bounded UTF-8 copies.
//
// Every function is pure and thread-safe. Invalid input never fails: an
// invalid UTF-8 sequence or a lone surrogate becomes U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillo::platform {

// Decodes UTF-8, replacing each invalid sequence with U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Encodes UTF-16, replacing each lone surrogate with U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// Copies src into dst[capacity] as a NUL-terminated string. A text that does
// not fit is cut at the last UTF-8 character boundary that leaves room for the
// terminator. Returns the number of bytes copied (terminator excluded).
// capacity 0 writes nothing.
size_t CopyUtf8Bounded(char* dst, size_t capacity, std::string_view src);

// Whether utf8 is well-formed UTF-8 (no invalid, overlong or surrogate sequences).
bool IsValidUtf8(std::string_view utf8);

// Length of the longest prefix of utf16 that fits in max_units code units
// without splitting a surrogate pair.
size_t Utf16CutLength(std::u16string_view utf16, size_t max_units);

}  // namespace quillo::platform
