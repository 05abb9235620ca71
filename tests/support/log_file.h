// Reading the library's UTF-16LE log file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillo_test {

// The whole file, or nothing when it cannot be opened.
std::optional<std::vector<uint8_t>> ReadFileBytes(const std::filesystem::path& path);

// Little-endian 16-bit code units; a trailing odd byte is dropped.
std::vector<char16_t> CodeUnits(const std::vector<uint8_t>& bytes);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf8FromUtf16(const std::u16string& text);

// The file's lines as UTF-8, split at CR LF. Text after the last CR LF (a line still being
// written) is left out. An unreadable file gives no lines.
std::vector<std::string> ReadLogLines(const std::filesystem::path& path);
// Prints the last `count` lines of the log at path, for a failed test's output.
void PrintLogTail(const std::filesystem::path& path, size_t count = 80);

// How many lines equal `line` exactly.
size_t CountLines(const std::vector<std::string>& lines, const std::string& line);

// The index of the first line that equals `line`, if any.
std::optional<size_t> FindLine(const std::vector<std::string>& lines, const std::string& line);

// How many lines contain `part`. Lines that two threads logged at the same moment may share
// one line of the file, so a line that must be present is best looked for this way.
size_t CountLinesContaining(const std::vector<std::string>& lines, const std::string& part);

// The index of the first line at or after `from` that contains `part`, if any.
std::optional<size_t> FindLineContaining(const std::vector<std::string>& lines,
                                         const std::string& part, size_t from = 0);

// Whether any line contains `part`.
bool AnyLineContains(const std::vector<std::string>& lines, const std::string& part);

}  // namespace quillo_test
