#include "support/log_file.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace quillo_test {

std::optional<std::vector<uint8_t>> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<char16_t> CodeUnits(const std::vector<uint8_t>& bytes) {
  std::vector<char16_t> units;
  units.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  return units;
}

namespace {

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string Utf8FromUtf16(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::vector<std::string> ReadLogLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  auto bytes = ReadFileBytes(path);
  if (!bytes) return lines;
  const std::vector<char16_t> units = CodeUnits(*bytes);
  std::u16string current;
  for (size_t i = 0; i < units.size(); ++i) {
    if (units[i] == u'\r' && i + 1 < units.size() && units[i + 1] == u'\n') {
      lines.push_back(Utf8FromUtf16(current));
      current.clear();
      ++i;
    } else {
      current += units[i];
    }
  }
  return lines;
}

size_t CountLines(const std::vector<std::string>& lines, const std::string& line) {
  size_t count = 0;
  for (const auto& l : lines) count += (l == line);
  return count;
}

std::optional<size_t> FindLine(const std::vector<std::string>& lines, const std::string& line) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == line) return i;
  }
  return std::nullopt;
}

size_t CountLinesContaining(const std::vector<std::string>& lines, const std::string& part) {
  size_t count = 0;
  for (const auto& l : lines) count += l.find(part) != std::string::npos;
  return count;
}

std::optional<size_t> FindLineContaining(const std::vector<std::string>& lines,
                                         const std::string& part, size_t from) {
  for (size_t i = from; i < lines.size(); ++i) {
    if (lines[i].find(part) != std::string::npos) return i;
  }
  return std::nullopt;
}

bool AnyLineContains(const std::vector<std::string>& lines, const std::string& part) {
  for (const auto& l : lines) {
    if (l.find(part) != std::string::npos) return true;
  }
  return false;
}

void PrintLogTail(const std::filesystem::path& path, size_t count) {
  const auto lines = ReadLogLines(path);
  const size_t first = lines.size() > count ? lines.size() - count : 0;
  std::printf("---- last %zu of %zu lines of %s ----\n", lines.size() - first, lines.size(),
              path.c_str());
  for (size_t i = first; i < lines.size(); ++i) std::printf("%s\n", lines[i].c_str());
}

}  // namespace quillo_test
