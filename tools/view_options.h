// quillo-view's command line: its options, usage text, error messages and exit codes.
#ifndef QUILLO_TOOLS_VIEW_OPTIONS_H
#define QUILLO_TOOLS_VIEW_OPTIONS_H

#include <cstdio>
#include <optional>
#include <string>

namespace quillo_tools::view_options {

constexpr int kDefaultWidth = 1280;
constexpr int kDefaultHeight = 720;
// The library lays a view out at most this large a side.
constexpr int kMaxSide = 8192;
constexpr const char* kProgramName = "quillo-view";

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // no window, or out of memory
constexpr int kExitUsage = 2;    // bad command line
constexpr int kExitStuck = 4;    // the engine did not shut down in time

struct Options {
  int width = kDefaultWidth;
  int height = kDefaultHeight;
  double scale = 1.0;
  bool transparent = false;
  bool debug = false;
  bool mute = false;
  std::optional<std::string> url;
};

void PrintUsage(std::FILE* to);
void PrintError(const std::string& message);

// Parses argv into *options. Returns nullopt to go on, or the exit code to end with at once
// (after --help, or after a message about a bad argument).
std::optional<int> ParseCommandLine(int argc, char** argv, Options* options);

}  // namespace quillo_tools::view_options

#endif  // QUILLO_TOOLS_VIEW_OPTIONS_H
