#include "diagnostics/debug_log.h"

#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/utf.h"

namespace quillo {
namespace {

platform::LogFile g_logFile;

// Why the log file could not be made, said once on standard error, before the first line that
// goes there alone (the log may be switched on only later). Written once, on the host's
// thread, before the pointer is published.
char16_t g_fileProblemText[kLogLineCapacity];
std::atomic<const char16_t*> g_fileProblem{nullptr};
std::atomic<bool> g_fileProblemSaid{false};

// Appends into a fixed buffer, dropping what does not fit.
class LineWriter {
 public:
  LineWriter(char16_t* out, size_t capacity) : out_(out), limit_(capacity ? capacity - 1 : 0) {}

  void Put(char16_t c) {
    if (!full_ && len_ < limit_) out_[len_++] = c;
  }
  void Put(std::u16string_view s) {
    if (full_) return;
    size_t n = platform::Utf16CutLength(s, limit_ - len_);
    for (size_t i = 0; i < n; ++i) out_[len_++] = s[i];
    full_ = n < s.size();  // once something was cut, nothing after it is written
  }
  size_t Finish() {
    out_[len_] = u'\0';
    return len_;
  }

 private:
  char16_t* out_;
  size_t limit_;
  size_t len_ = 0;
  bool full_ = false;
};

// Renders an unsigned number in the given base; returns its digits.
std::u16string_view Digits(uint32_t value, unsigned base, bool upper, char16_t (&buf)[16]) {
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  size_t i = sizeof(buf) / sizeof(buf[0]);
  do {
    buf[--i] = static_cast<char16_t>(set[value % base]);
    value /= base;
  } while (value != 0);
  return std::u16string_view(buf + i, sizeof(buf) / sizeof(buf[0]) - i);
}

void Pad(LineWriter& w, std::u16string_view sign, std::u16string_view body, int width, bool zero,
         bool left) {
  int fill = width - static_cast<int>(sign.size() + body.size());
  if (left) {
    w.Put(sign), w.Put(body);
    for (; fill > 0; --fill) w.Put(u' ');
    return;
  }
  if (zero) {
    w.Put(sign);
    for (; fill > 0; --fill) w.Put(u'0');
  } else {
    for (; fill > 0; --fill) w.Put(u' ');
    w.Put(sign);
  }
  w.Put(body);
}

}  // namespace

namespace {

// Formats the note on the log file's problem and publishes it.
void FormatProblem(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  FormatLogLine(g_fileProblemText, kLogLineCapacity, format, args);
  va_end(args);
  g_fileProblem.store(g_fileProblemText);
}

}  // namespace

size_t FormatLogLine(char16_t* out, size_t capacity, const char16_t* format, va_list args) {
  if (out == nullptr || capacity == 0) return 0;
  LineWriter w(out, capacity);
  if (format == nullptr) return w.Finish();
  for (const char16_t* p = format; *p != u'\0'; ++p) {
    if (*p != u'%') {
      w.Put(*p);
      continue;
    }
    ++p;
    bool zero = false, left = false;
    for (; *p == u'0' || *p == u'-'; ++p) (*p == u'0' ? zero : left) = true;
    int width = 0;
    for (; *p >= u'0' && *p <= u'9'; ++p) width = width * 10 + (*p - u'0');
    if (width > 64) width = 64;
    char16_t digits[16];
    switch (*p) {
      case u'd':
      case u'i': {
        int v = va_arg(args, int);
        uint32_t mag = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
        Pad(w, v < 0 ? u"-" : u"", Digits(mag, 10, false, digits), width, zero, left);
        break;
      }
      case u'u':
        Pad(w, u"", Digits(va_arg(args, unsigned), 10, false, digits), width, zero, left);
        break;
      case u'x':
      case u'X':
        Pad(w, u"", Digits(va_arg(args, unsigned), 16, *p == u'X', digits), width, zero, left);
        break;
      case u'c': {
        char16_t c = static_cast<char16_t>(va_arg(args, int));
        Pad(w, u"", std::u16string_view(&c, 1), width, false, left);
        break;
      }
      case u's': {
        const char16_t* s = va_arg(args, const char16_t*);
        Pad(w, u"", s ? std::u16string_view(s) : std::u16string_view(u"(null)"), width, false,
            left);
        break;
      }
      case u'%':
        w.Put(u'%');
        break;
      case u'\0':
        return w.Finish();
      default:  // unknown conversion: shown as written, no argument taken
        w.Put(u'%'), w.Put(*p);
        break;
    }
  }
  return w.Finish();
}

void DebugLog(const char16_t* format, ...) {
  char16_t line[kLogLineCapacity];
  va_list args;
  va_start(args, format);
  size_t n = FormatLogLine(line, kLogLineCapacity, format, args);
  va_end(args);
  std::u16string_view text(line, n);
  const bool toFile = g_logFile.IsOpen();
  if (const char16_t* problem = g_fileProblem.load();
      !toFile && problem != nullptr && !g_fileProblemSaid.exchange(true)) {
    platform::DebuggerOutput(problem);
    platform::DebuggerOutput(u"\r\n");
  }
  platform::DebuggerOutput(text);
  platform::DebuggerOutput(u"\r\n");
  if (!toFile) return;
  // The file is UTF-16LE; on this little-endian target the units are written as they are.
  static_assert(std::endian::native == std::endian::little);
  g_logFile.Write(line, n * sizeof(char16_t));
  g_logFile.Write(u"\r\n", 2 * sizeof(char16_t));
}

void CreateLogFile(const char16_t* path) {
  QLOG(u"CreateLogFile start");
  if (const int error = g_logFile.Open(path); error != 0 && g_fileProblem.load() == nullptr) {
    const std::u16string reason = error == EWOULDBLOCK
                                      ? u"in use by another process"
                                      : platform::Utf8ToUtf16(std::strerror(error));
    FormatProblem(u"=> log file %s could not be made (%s): standard error only", path,
                  reason.c_str());
  }
  QLOG(u"CreateLogFile end");
}

void CloseLogFile() {
  g_logFile.Close();
}

bool LogFileOpen() {
  return g_logFile.IsOpen();
}

}  // namespace quillo
