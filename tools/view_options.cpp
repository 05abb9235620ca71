#include "view_options.h"

#include "host_common.h"

namespace quillo_tools::view_options {

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "Usage: quillo-view [options] [URL]\n"
               "\n"
               "Shows one live web page through libquillo's views interface in a window:\n"
               "click, scroll and type in it as in a browser. The page is laid out again at\n"
               "the window's size when the window is resized. Close the window (or press\n"
               "Ctrl-C in the terminal) to end.\n"
               "\n"
               "URL is any URL the engine loads (https:, http:, file:, data:, about:), HTML\n"
               "given directly as \"quillo_htmlsource:<html>...\", or the path of an existing\n"
               "local file. Without a URL a built-in demo page is shown.\n"
               "\n"
               "Options:\n"
               "  --width N        the page's width in CSS pixels, 1 to %d (default %d)\n"
               "  --height N       the page's height in CSS pixels, 1 to %d (default %d)\n"
               "  --scale F        device scale (the page's devicePixelRatio), 0.25 to 8\n"
               "                   (default 1): the window has F device pixels per CSS pixel\n"
               "  --transparent    the page's transparent parts stay transparent and show a\n"
               "                   gray checkerboard behind the page\n"
               "  --mute           start with the page's sound muted (Ctrl+Shift+M turns it\n"
               "                   on and off)\n"
               "  --debug          turn on the library's diagnostic log and print cursor\n"
               "                   changes too\n"
               "  --help, -h       show this text\n"
               "Options take their value as the next argument or after '=' (--width=800);\n"
               "'--' ends the options.\n"
               "\n"
               "Input: the mouse's buttons (with double and triple clicks), its moves, the\n"
               "wheel, the keyboard and the window's focus reach the page. A script dialog (alert, "
               "confirm, prompt) shows\n"
               "a bar at the bottom of the window; OK or Enter accepts it, Cancel or Escape\n"
               "cancels it (a prompt is answered with an empty text). While the bar is shown\n"
               "the page gets no input. The page's posts (quilloPost) are refused and its\n"
               "new windows are not opened. The desktop's input method composes in the page,\n"
               "its candidate window at the page's caret. A copy or cut in the page (Ctrl+C,\n"
               "Ctrl+X, the page's own) goes to the desktop's clipboard; Ctrl+V and\n"
               "Shift+Insert paste the clipboard's text into the page. A touch screen's\n"
               "fingers reach the page as touch (several at once). Ctrl+Shift+M mutes the\n"
               "page's sound or lets it be heard again.\n"
               "\n"
               "Output: one line per notice of the view on standard output:\n"
               "  url: TEXT            the page's address changed\n"
               "  title: TEXT          the page title changed (also shown as window caption)\n"
               "  load-error: CODE TEXT\n"
               "                       a load failed\n"
               "  dialog: TYPE TEXT    a script dialog waits for an answer\n"
               "  dialog-answer: ok|cancel\n"
               "  popup-blocked        the page asked for a new window\n"
               "  focus: in|out        the page gained or lost keyboard focus\n"
               "  cursor: TYPE [NAME]  the page changed the mouse cursor (with --debug)\n"
               "  size: WxH            the first frame at a new window size is shown (device\n"
               "                       pixels)\n"
               "  process-gone: CODE   the page's web process ended\n"
               "  clipboard: copy|cut TEXT\n"
               "                       the page copied or cut TEXT (now on the clipboard)\n"
               "  sound: playing|stopped\n"
               "                       the page started or stopped playing sound\n"
               "  muted: yes|no        the page's sound was muted or let be heard again\n"
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
    } else if (name == "--scale") {
      if (!option.Value(&value)) return kExitUsage;
      if (!quillo_tools::ParseScale(value, &options->scale)) {
        PrintError("--scale wants a number from 0.25 to 8, not \"" + value + "\"");
        return kExitUsage;
      }
    } else if (name == "--transparent") {
      if (!option.NoValue()) return kExitUsage;
      options->transparent = true;
    } else if (name == "--mute") {
      if (!option.NoValue()) return kExitUsage;
      options->mute = true;
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
