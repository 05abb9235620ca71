#include "view_options.h"

#include "host_common.h"

namespace quillo_tools::view_options {

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "Usage: quillo-view [options] [URL]\n"
               "\n"
               "Shows one live web page through libquillo in a window: click, scroll and type\n"
               "in it as in a browser. Close the window (or press Ctrl-C in the terminal) to\n"
               "end.\n"
               "\n"
               "URL is any URL the engine loads (https:, http:, file:, data:, about:), HTML\n"
               "given directly as \"quillo_htmlsource:<html>...\", or the path of an existing\n"
               "local file. Without a URL a built-in demo page is shown.\n"
               "\n"
               "Options:\n"
               "  --width N        view (and window) width in pixels, 1 to %d (default %d)\n"
               "  --height N       view (and window) height in pixels, 1 to %d (default %d)\n"
               "  --lang TEXT      accept-language given to the page, at most 9 characters are\n"
               "                   used (default en-US)\n"
               "  --debug          turn on the library's diagnostic log (SetDebugEnable(1)) and\n"
               "                   print cursor changes too\n"
               "  --help, -h       show this text\n"
               "Options take their value as the next argument or after '=' (--width=800);\n"
               "'--' ends the options.\n"
               "\n"
               "Input: the left mouse button, mouse moves, the wheel, the keyboard and the\n"
               "window's focus reach the page. A script dialog (alert, confirm, prompt) shows\n"
               "a bar at the bottom of the window; OK or Enter accepts it, Cancel or Escape\n"
               "cancels it (a prompt is answered with an empty text). While the bar is shown\n"
               "the page gets no input.\n"
               "\n"
               "Output: one line per notice from UpdateWeb on standard output:\n"
               "  url: TEXT            a main-frame navigation starts (or was refused)\n"
               "  title: TEXT          the page title changed (also shown as window caption)\n"
               "  load-error: CODE TEXT\n"
               "                       a load failed (the library shows its error page)\n"
               "  dialog: TYPE TEXT    a script dialog waits for an answer\n"
               "  dialog-answer: ok|cancel\n"
               "  popup-blocked        the page asked for a new window\n"
               "  focus: in|out        the page gained or lost keyboard focus\n"
               "  cursor: TYPE [NAME]  the page changed the mouse cursor (with --debug)\n"
               "Long texts are shortened and control characters escaped, one notice a line.\n"
               "\n"
               "Exit status: 0 the window was closed; 1 no window could be opened (is there a\n"
               "display?) or out of memory; 2 bad command line; 4 the engine did not shut down\n"
               "in time.\n",
               kMaxSide, kDefaultWidth, kMaxSide, kDefaultHeight);
}

void PrintError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgramName, message.c_str());
  std::fflush(stderr);
}

std::optional<int> ParseCommandLine(int argc, char** argv, Options* options) {
  auto handle = [&](quillo_tools::CommandLineOption& option,
                    const std::string& arg) -> std::optional<int> {
    const std::string& name = option.Name();
    std::string value;
    if (name == "--help" || name == "-h") {
      PrintUsage(stdout);
      return kExitOk;
    } else if (name == "--width" || name == "--height") {
      if (!option.IntValue(1, kMaxSide, name == "--width" ? &options->width : &options->height))
        return kExitUsage;
    } else if (name == "--lang") {
      if (!option.Value(&value)) return kExitUsage;
      options->lang = value;
    } else if (name == "--debug") {
      if (!option.NoValue()) return kExitUsage;
      options->debug = true;
    } else {
      PrintError("unknown option \"" + arg + "\" (see --help)");
      return kExitUsage;
    }
    return std::nullopt;
  };
  return quillo_tools::WalkCommandLine(argc, argv, &options->url, kExitUsage, PrintError, handle);
}

}  // namespace quillo_tools::view_options
