// The line protocol that the parity driver (parity.py) speaks with its two kinds of child: the
// raw engine (quillo-parity-raw) and a quillo host (quillo-parity-host). Each child shows one
// page at a time and answers every command on standard input with one line on standard output.
//
//   load URL            start loading URL                       -> "ok"
//   reload              reload the page from a script           -> "ok"
//   move X Y            pointer to (X, Y)                       -> "ok"
//   wheel DX DY         one wheel event, 120 a notch, positive towards the top and left
//   settle QUIET TOTAL  run the page until its picture has not changed for QUIET ms (and a load
//                       asked for has arrived), at most TOTAL ms; then write the picture into
//                       the frame file                          -> "still|moving CHANGES LAST_MS
//                       ELAPSED_MS"
//   quit                end                                     -> "bye"
//
// CHANGES counts the pictures that differed from the one before, since the child started; LAST_MS
// is when the last of them arrived, in ms after the settle began (0 when none came during it).
// Errors are answered with "error TEXT".
#pragma once

#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace parity {

inline int64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

// One command line split at its first space into the verb and the rest.
struct Command {
  std::string verb;
  std::string rest;
};

// Reads the next command from standard input; false at its end.
inline bool ReadCommand(Command& command) {
  std::string line;
  int c;
  while ((c = std::getchar()) != EOF && c != '\n') line.push_back(static_cast<char>(c));
  if (c == EOF && line.empty()) return false;
  const size_t space = line.find(' ');
  command.verb = line.substr(0, space);
  command.rest = space == std::string::npos ? std::string() : line.substr(space + 1);
  return true;
}

inline void Reply(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Writes the picture into the frame file that the driver reads after the reply.
inline bool WriteFrame(const std::string& path, const std::vector<uint8_t>& pixels) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(pixels.data(), 1, pixels.size(), file) == pixels.size();
  return std::fclose(file) == 0 && ok;
}

inline std::string SettleReply(bool still, int64_t changes, int64_t lastMs, int64_t elapsedMs) {
  return std::string(still ? "still " : "moving ") + std::to_string(changes) + " " +
         std::to_string(lastMs) + " " + std::to_string(elapsedMs);
}

// The options every child takes: --width W --height H --frame PATH [--options N].
struct Options {
  int width = 1280;
  int height = 720;
  int paintOptions = 0;
  std::string framePath;
};

inline bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--width")
      options.width = std::atoi(value);
    else if (name == "--height")
      options.height = std::atoi(value);
    else if (name == "--options")
      options.paintOptions = std::atoi(value);
    else if (name == "--frame")
      options.framePath = value;
    else
      return false;
  }
  return options.width > 0 && options.height > 0 && !options.framePath.empty();
}

}  // namespace parity
