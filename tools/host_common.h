// Pieces every quillo host tool shares: printing the library's notices, reading the command
// line, turning a path into a URL, and shutting the engine down without ever hanging.
#ifndef QUILLO_TOOLS_HOST_COMMON_H
#define QUILLO_TOOLS_HOST_COMMON_H

#include <quillo.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

namespace quillo_tools {

// How long UnloadWeb(1) may take before the program gives up on it.
inline constexpr std::chrono::seconds kUnloadLimit{20};
// Longer notice texts (data: URLs above all) are shortened when printed.
inline constexpr size_t kMaxPrintedText = 240;

inline constexpr std::string_view kHtmlSourcePrefix = "quillo_htmlsource:";

// Writes one line to standard output at once, so that a watching program sees each notice as
// it happens and in order with the library's own output.
inline void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Makes a library text printable on one line: control characters and backslashes are escaped,
// and a text longer than kMaxPrintedText bytes is cut at a character boundary.
inline std::string Printable(const void* text) {
  if (text == nullptr) return "(no text)";
  const std::string_view raw(static_cast<const char*>(text));
  std::string out;
  size_t used = 0;
  for (; used < raw.size() && out.size() < kMaxPrintedText; ++used) {
    const unsigned char c = static_cast<unsigned char>(raw[used]);
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  if (used < raw.size()) {
    // Do not leave half of a UTF-8 sequence behind: find the last lead byte and drop it with
    // its continuation bytes unless the sequence it starts is complete.
    size_t lead = out.size();
    while (lead > 0 && (static_cast<unsigned char>(out[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead > 0) {
      const unsigned char c = static_cast<unsigned char>(out[lead - 1]);
      const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      if (out.size() - (lead - 1) < length) out.resize(lead - 1);
    }
    out += " ... [" + std::to_string(raw.size()) + " bytes]";
  }
  return out;
}

inline std::string DialogTypeName(int type) {
  switch (type) {
    case 0:
      return "alert";
    case 1:
      return "confirm";
    case 2:
      return "prompt";
    default:
      return std::to_string(type);
  }
}

// The engine's cursor types that the header names.
inline std::string CursorDescription(int type) {
  static constexpr const char* kNames[] = {"pointer", "cross", "hand", "I-beam", "wait", "help"};
  std::string text = std::to_string(type);
  if (type >= 0 && type < static_cast<int>(std::size(kNames)))
    text += std::string(" ") + kNames[type];
  return text;
}

inline bool ParseInt(std::string_view text, int min, int max, int* out) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max)
    return false;
  *out = value;
  return true;
}

// The device scale (devicePixelRatio) a tool may ask the views interface for.
inline constexpr double kMinScale = 0.25;
inline constexpr double kMaxScale = 8.0;

inline bool ParseScale(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !(value >= kMinScale && value <= kMaxScale))
    return false;
  *out = value;
  return true;
}

// Device pixels for a side of css CSS pixels at scale: rounded up, as the library lays out.
inline int DevicePixels(int css, double scale) {
  return static_cast<int>(std::ceil(static_cast<double>(css) * scale - 1e-9));
}

// True when text starts with a URL scheme ("https:", "data:", ...) or is HTML source.
inline bool HasScheme(std::string_view text) {
  if (text.rfind(kHtmlSourcePrefix, 0) == 0) return true;
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!isAlpha(text[0])) return false;
  for (size_t i = 1; i < colon; ++i) {
    const char c = text[i];
    if (!isAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

// A local file given by path becomes a file: URL with its absolute path, percent-encoded;
// everything else is handed to the library as it is.
inline std::string ResolveUrl(const std::string& arg) {
  if (HasScheme(arg)) return arg;
  struct stat info;
  if (stat(arg.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return arg;
  char* absolute = realpath(arg.c_str(), nullptr);
  if (absolute == nullptr) return arg;
  const std::string path = absolute;
  std::free(absolute);
  std::string url = "file://";
  for (const char ch : path) {
    const unsigned char c = static_cast<unsigned char>(ch);
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
    if (keep) {
      url += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      url += escaped;
    }
  }
  return url;
}

inline void OnBrokenPipe(int) {}

// A reader that stops reading (quillo-shot | head -1) must not end the program before the
// picture is written and the engine shut down; failed writes are simply lost. A handler rather
// than SIG_IGN, because an ignored signal would be inherited by the engine's child processes.
inline void SurviveBrokenPipe() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnBrokenPipe;
  sigemptyset(&action.sa_mask);
  sigaction(SIGPIPE, &action, nullptr);
}

// Runs shutDown (the call that stops the engine: UnloadWeb(1), or quillo_shutdown() for a host
// of views, named by what); if it does not return in time the program ends anyway, so that it
// never hangs.
template <typename ShutDown>
void ShutDownWithin(std::string_view program, std::string_view what, int exitCodeIfStuck,
                    ShutDown shutDown) {
  std::mutex mutex;
  std::condition_variable doneSignal;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock lock(mutex);
    if (!doneSignal.wait_for(lock, kUnloadLimit, [&] { return done; })) {
      std::fprintf(stderr, "%.*s: %.*s did not return within %lld s; exiting without it\n",
                   static_cast<int>(program.size()), program.data(), static_cast<int>(what.size()),
                   what.data(), static_cast<long long>(kUnloadLimit.count()));
      std::fflush(stderr);
      std::_Exit(exitCodeIfStuck);
    }
  });
  shutDown();
  {
    std::lock_guard lock(mutex);
    done = true;
  }
  doneSignal.notify_one();
  watchdog.join();
}

inline void ShutDownEngine(std::string_view program, int exitCodeIfStuck) {
  ShutDownWithin(program, "UnloadWeb(1)", exitCodeIfStuck, [] { UnloadWeb(1); });
}

// One option of a command line: its name ("--width"), and its value, inline
// ("--width=800") or from the next argument ("--width 800").
class CommandLineOption {
 public:
  CommandLineOption(std::string name, std::optional<std::string> inlineValue, int argc, char** argv,
                    int* index, void (*printError)(const std::string&))
      : m_name(std::move(name)),
        m_inline(std::move(inlineValue)),
        m_argc(argc),
        m_argv(argv),
        m_index(index),
        m_printError(printError) {}

  const std::string& Name() const { return m_name; }
  // Takes the option's value; false (after a message) when there is none.
  bool Value(std::string* value) {
    if (m_inline) {
      *value = *m_inline;
      return true;
    }
    if (*m_index + 1 >= m_argc) {
      m_printError("option " + m_name + " needs a value");
      return false;
    }
    *value = m_argv[++*m_index];
    return true;
  }
  // Takes the option's value as a whole number from min to max (a view's side: --width N);
  // false (after a message) when there is none or it is not such a number.
  bool IntValue(int min, int max, int* out) {
    std::string value;
    if (!Value(&value)) return false;
    if (ParseInt(value, min, max, out)) return true;
    m_printError(m_name + " wants a whole number from " + std::to_string(min) + " to " +
                 std::to_string(max) + ", not \"" + value + "\"");
    return false;
  }
  // False (after a message) when a flag was given a value.
  bool NoValue() const {
    if (!m_inline) return true;
    m_printError("option " + m_name + " takes no value");
    return false;
  }

 private:
  std::string m_name;
  std::optional<std::string> m_inline;
  int m_argc;
  char** m_argv;
  int* m_index;
  void (*m_printError)(const std::string&);
};

// Walks argv: at most one URL (any argument not starting with '-', or after
// "--"), and options handed to handle(option, argument), which returns
// nullopt to go on or an exit code to end with. usageExit is returned for a
// second URL.
template <typename Handle>
std::optional<int> WalkCommandLine(int argc, char** argv, std::optional<std::string>* url,
                                   int usageExit, void (*printError)(const std::string&),
                                   Handle&& handle) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      if (*url) {
        printError("only one URL may be given (second one: \"" + arg + "\")");
        return usageExit;
      }
      *url = arg;
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
    }
    CommandLineOption option(name, inlineValue, argc, argv, &i, printError);
    if (std::optional<int> exit = handle(option, arg)) return exit;
  }
  return std::nullopt;
}

}  // namespace quillo_tools

#endif  // QUILLO_TOOLS_HOST_COMMON_H
