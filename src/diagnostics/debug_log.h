// The diagnostic log: printf-style lines to the debugger output and, while it
// is open, to the log file (UTF-16LE, CR LF, no byte-order mark).
//
// Format strings are UTF-16: %s takes a const char16_t* (null prints
// "(null)"), %d/%i an int, %u/%x/%X an unsigned int, %c a char16_t passed as
// int, %% a percent sign; flags '0' and '-' and a width are understood
// (0x%08x prints eight hex digits). A formatted line holds at most
// kLogLineCapacity - 1 code units; a longer one is cut there without
// splitting a surrogate pair.
//
// Callers test the switch first, through QLOG, so a switched-off log line
// costs one flag test. Any thread may log; lines are not serialised.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "diagnostics/configuration.h"

namespace quillo {

constexpr size_t kLogLineCapacity = 4096;

// Formats into out[capacity] (NUL-terminated); returns the length written.
size_t FormatLogLine(char16_t* out, size_t capacity, const char16_t* format, va_list args);

void DebugLog(const char16_t* format, ...);

// Creates (truncating) the log file at path; lines go there from now on.
void CreateLogFile(const char16_t* path);
// Closes the log file; later lines reach the debugger output only.
void CloseLogFile();
bool LogFileOpen();

}  // namespace quillo

#define QLOG(...)                                                                                \
  do {                                                                                           \
    if (::quillo::Configuration::GetInstance()->DebugEnabled()) ::quillo::DebugLog(__VA_ARGS__); \
  } while (0)
