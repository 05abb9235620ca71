// quillo-shot: shows one page through quillo's eight exports, waits until its picture has
// settled and writes the host-owned pixel memory out as a PNG file.
//
// It is a plain quillo host: it owns the pixel memory, polls UpdateWeb in a loop, prints each
// notice it receives and answers script dialogs, so it also serves to watch the library work.
#include <quillo.h>

#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "demo_page.h"
#include "host_common.h"
#include "png_writer.h"
#include "shot_views.h"

namespace {

using quillo_tools::CursorDescription;
using quillo_tools::DialogTypeName;
using quillo_tools::kHtmlSourcePrefix;
using quillo_tools::ParseInt;
using quillo_tools::Printable;
using quillo_tools::PrintLine;
using quillo_tools::ResolveUrl;
using quillo_tools::SurviveBrokenPipe;

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

constexpr int kDefaultWidth = 1280;
constexpr int kDefaultHeight = 720;
constexpr int kMaxSide = 16384;
constexpr double kDefaultTimeoutSeconds = 15.0;
constexpr double kMaxTimeoutSeconds = 86400.0;
constexpr int kDefaultSettleMs = 500;
constexpr int kMaxSettleMs = 600000;
// A page that never stops painting (an animation) is taken this many settle periods after the
// first frame of its latest navigation.
constexpr int kBusyPageSettleFactor = 4;
// While the load probe has not answered, the page may still be loading: every wait is this many
// times longer.
constexpr int kUnloadedSettleFactor = 4;
// The alert the load probe raises; the number of the navigation follows it.
constexpr std::string_view kProbeMessage = "quillo-shot: page loaded, navigation ";
// Pause between polls when the last poll brought nothing: keeps an idle wait cheap while still
// giving the engine many units of work per second.
constexpr Milliseconds kIdlePollPause{2};
// Polls in a row without that pause while every poll brings news.
constexpr int kMaxBusyPolls = 16;
// After the last poll, engine work that was already posted may still paint; this pause lets it
// finish before the picture is copied.
constexpr Milliseconds kDrainPause{50};
// Unpainted pixels keep this colour: opaque magenta, the same bytes in either channel order.
constexpr uint8_t kFillPixel[4] = {0xFF, 0x00, 0xFF, 0xFF};

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the PNG could not be written, or out of memory
constexpr int kExitUsage = 2;    // bad command line
constexpr int kExitNoFrame = 3;  // no frame arrived before the deadline
constexpr int kExitStuck = 4;    // the engine did not shut down in time
constexpr int kExitInterrupted = 130;

struct Options {
  int width = kDefaultWidth;
  int height = kDefaultHeight;
  std::string out = "quillo-shot.png";
  double timeoutSeconds = kDefaultTimeoutSeconds;
  int settleMs = kDefaultSettleMs;
  bool swapRedBlue = false;
  bool bottomUp = false;
  bool keepAlpha = false;
  bool debug = false;
  bool demo = false;
  bool probe = true;
  bool waitReady = true;  // the shot waits until the page says its fonts and images are in
  double scale = 1.0;
  bool transparent = false;
  bool checkerboard = false;
  std::string lang = "en-US";
  std::optional<std::string> url;
};

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "Usage: quillo-shot [options] [URL]\n"
               "\n"
               "Shows one web page through libquillo, waits until its picture has settled and\n"
               "writes the picture as a PNG file.\n"
               "\n"
               "URL is any URL the engine loads (https:, http:, file:, data:, about:), HTML\n"
               "given directly as \"quillo_htmlsource:<html>...\", or the path of an existing\n"
               "local file. Without a URL, or with --demo, a built-in demo page is shown.\n"
               "\n"
               "Options:\n"
               "  --width N        view width in pixels, 1 to %d (default %d)\n"
               "  --height N       view height in pixels, 1 to %d (default %d)\n"
               "  --scale F        device scale (the page's devicePixelRatio), 0.25 to 8\n"
               "                   (default 1): the page is laid out at --width x --height CSS\n"
               "                   pixels and the PNG has F times as many pixels a side\n"
               "  --transparent    the page's transparent parts stay transparent: the PNG keeps\n"
               "                   its alpha (straight, as PNG stores it)\n"
               "  --checkerboard   as --transparent, with the page laid over a gray\n"
               "                   checkerboard in an opaque PNG\n"
               "  --out FILE, -o FILE\n"
               "                   PNG file to write (default quillo-shot.png in the current\n"
               "                   directory)\n"
               "  --timeout SECONDS\n"
               "                   give up waiting after this long and write what has been\n"
               "                   painted so far (default %g; fractions allowed)\n"
               "  --settle MS      the shot is taken once the latest navigation has painted, its\n"
               "                   load event has fired and the picture has then been unchanged\n"
               "                   for MS milliseconds (default %d); a page that keeps painting\n"
               "                   (an animation) is taken %d x MS after its first frame. While\n"
               "                   the load is not known to be done, all waits are %d x longer.\n"
               "                   A navigation that never paints (one the engine refuses)\n"
               "                   leaves it waiting for the timeout\n"
               "  --no-probe       do not run the load probe: to learn when the load event has\n"
               "                   fired, quillo-shot runs a small script in each page that\n"
               "                   raises one alert, which it answers and does not print\n"
               "  --no-ready       take the shot without waiting for the page to be ready: by\n"
               "                   default the load counts as done only once the page's web\n"
               "                   fonts are in and its images are loaded and decoded, and\n"
               "                   painted (a page whose fonts or images never come is then\n"
               "                   taken at the timeout)\n"
               "  --swap           ask the library for R,G,B,A pixels (PAINT_SWAP_RED_BLUE)\n"
               "                   instead of B,G,R,A; the PNG looks the same either way\n"
               "  --bottom-up      ask the library for bottom-row-first memory (PAINT_BOTTOM_UP);\n"
               "                   the PNG looks the same either way\n"
               "  --alpha          keep the alpha channel in the PNG (default: opaque RGB)\n"
               "  --lang TEXT      accept-language given to the page, at most 9 characters are\n"
               "                   used (default en-US; not with --scale or --transparent)\n"
               "  --debug          turn on the library's diagnostic log (SetDebugEnable(1))\n"
               "  --demo           show the built-in demo page\n"
               "  --help, -h       show this text\n"
               "Options take their value as the next argument or after '=' (--width=800);\n"
               "'--' ends the options.\n"
               "\n"
               "Output: one line per notice from UpdateWeb on standard output:\n"
               "  url: TEXT            a main-frame navigation starts (or was refused)\n"
               "  title: TEXT          the page title changed\n"
               "  load-error: CODE TEXT\n"
               "                       a load failed (the library shows its error page)\n"
               "  dialog: TYPE TEXT    a script dialog (alert, confirm, prompt); it is accepted\n"
               "  popup-blocked        the page asked for a new window\n"
               "  focus: in|out        the page gained or lost keyboard focus\n"
               "  cursor: TYPE [NAME]  the page changed the mouse cursor\n"
               "then \"frames: N\" (frames received) and, last, \"png: FILE\".\n"
               "Long texts are shortened and control characters escaped, one notice a line.\n"
               "Unpainted pixels are left magenta (#ff00ff).\n"
               "\n"
               "With --scale other than 1, --transparent or --checkerboard the page is shown\n"
               "through the views interface (quillo/views.h) instead: its own notices say\n"
               "when the page has loaded and when it is ready (no probe), and the end of the\n"
               "page's web process is printed as \"process-gone: CODE\".\n"
               "\n"
               "Exit status: 0 the PNG was written; 1 it could not be written; 2 bad command\n"
               "line; 3 no frame arrived before the timeout (the PNG is still written);\n"
               "4 the engine did not shut down in time; 130 interrupted (what was painted is\n"
               "still written).\n",
               kMaxSide, kDefaultWidth, kMaxSide, kDefaultHeight, kDefaultTimeoutSeconds,
               kDefaultSettleMs, kBusyPageSettleFactor, kUnloadedSettleFactor);
}

void PrintError(const std::string& message) {
  std::fprintf(stderr, "quillo-shot: %s\n", message.c_str());
  std::fflush(stderr);
}

// ---- Command line --------------------------------------------------------------------------

bool ParseSeconds(const std::string& text, double* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value) || value <= 0 ||
      value > kMaxTimeoutSeconds)
    return false;
  *out = value;
  return true;
}

// Parses argv into *options. Returns nullopt to go on, or the exit code to end with at once
// (after --help, or after a message about a bad argument).
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
    } else if (name == "--out" || name == "-o") {
      if (!option.Value(&value)) return kExitUsage;
      if (value.empty()) {
        PrintError(name + " wants a file name");
        return kExitUsage;
      }
      options->out = value;
    } else if (name == "--timeout") {
      if (!option.Value(&value)) return kExitUsage;
      if (!ParseSeconds(value, &options->timeoutSeconds)) {
        PrintError("--timeout wants a number of seconds above 0 and at most " +
                   std::to_string(static_cast<int>(kMaxTimeoutSeconds)) + ", not \"" + value +
                   "\"");
        return kExitUsage;
      }
    } else if (name == "--settle") {
      if (!option.Value(&value)) return kExitUsage;
      if (!ParseInt(value, 0, kMaxSettleMs, &options->settleMs)) {
        PrintError("--settle wants milliseconds from 0 to " + std::to_string(kMaxSettleMs) +
                   ", not \"" + value + "\"");
        return kExitUsage;
      }
    } else if (name == "--lang") {
      if (!option.Value(&value)) return kExitUsage;
      options->lang = value;
    } else if (name == "--swap" || name == "--bottom-up" || name == "--alpha" ||
               name == "--debug" || name == "--demo") {
      if (!option.NoValue()) return kExitUsage;
      bool* flag = name == "--swap"        ? &options->swapRedBlue
                   : name == "--bottom-up" ? &options->bottomUp
                   : name == "--alpha"     ? &options->keepAlpha
                   : name == "--debug"     ? &options->debug
                                           : &options->demo;
      *flag = true;
    } else if (name == "--scale") {
      if (!option.Value(&value)) return kExitUsage;
      if (!quillo_tools::ParseScale(value, &options->scale)) {
        PrintError("--scale wants a number from 0.25 to 8, not \"" + value + "\"");
        return kExitUsage;
      }
    } else if (name == "--transparent" || name == "--checkerboard") {
      if (!option.NoValue()) return kExitUsage;
      options->transparent = true;
      if (name == "--checkerboard") options->checkerboard = true;
    } else if (name == "--no-probe") {
      if (!option.NoValue()) return kExitUsage;
      options->probe = false;
    } else if (name == "--no-ready") {
      if (!option.NoValue()) return kExitUsage;
      options->waitReady = false;
    } else {
      PrintError("unknown option \"" + arg + "\" (see --help)");
      return kExitUsage;
    }
    return std::nullopt;
  };
  if (std::optional<int> exit =
          quillo_tools::WalkCommandLine(argc, argv, &options->url, kExitUsage, PrintError, handle))
    return exit;
  if (options->demo && options->url) {
    PrintError("give either a URL or --demo, not both");
    return kExitUsage;
  }
  return std::nullopt;
}

// ---- Signals -------------------------------------------------------------------------------

volatile std::sig_atomic_t g_interrupted = 0;

void OnSignal(int) {
  g_interrupted = 1;
}

// Ctrl-C or SIGTERM end the wait early; the picture is still written and the engine shut down.
void CatchInterrupts(bool on) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = on ? OnSignal : SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// ---- Waiting for the picture ---------------------------------------------------------------

enum class WaitEnd { kSettled, kTimeout, kInterrupted };

// What the polling loop has seen so far.
struct PageWatch {
  bool engineReady = false;
  bool focused = false;
  int64_t frames = 0;
  // Main-frame navigations (and load errors) seen so far; the latest one is the one to shoot.
  int64_t navigation = 0;
  // Frames since the latest navigation began.
  int64_t framesSinceNavigation = 0;
  Clock::time_point firstFrameSinceNavigation;
  bool probeSent = false;  // the load probe runs in the latest navigation's page
  bool loaded = false;     // and has answered
  Clock::time_point loadedAt;
  Clock::time_point lastChange;  // last new frame or navigation
  std::string lastUrl;           // without its fragment
  std::string lastErrorText;
};

std::string WithoutFragment(std::string_view url) {
  return std::string(url.substr(0, url.find('#')));
}

// A new page is on its way: its frames, its load and its probe start from nothing.
void BeginNavigation(Clock::time_point now, PageWatch* watch) {
  ++watch->navigation;
  watch->framesSinceNavigation = 0;
  watch->probeSent = false;
  watch->loaded = false;
  watch->lastChange = now;
}

// Script that raises the probe's alert once the page's load event has fired and the page's own
// load handlers have run (or at once when that has already happened); with ready, only once
// its web fonts are in and its images (but lazy ones out of view) are loaded and decoded, and
// two animation frames later, when they have been painted.
std::string ProbeScript(int64_t navigation, bool ready) {
  const std::string alert = "setTimeout(function () { alert('" + std::string(kProbeMessage) +
                            std::to_string(navigation) + "'); }, 0);\n";
  const std::string report =
      ready ? "  var wanted = function () {\n"
              "    return Array.prototype.filter.call(document.images, function (i) {\n"
              "      var r = i.getBoundingClientRect();\n"
              "      return i.loading !== 'lazy' || (r.bottom >= 0 && r.top <= innerHeight);\n"
              "    });\n"
              "  };\n"
              "  var loaded = function (i) {\n"
              "    return (i.complete ? Promise.resolve() : new Promise(function (done) {\n"
              "      i.addEventListener('load', done); i.addEventListener('error', done);\n"
              "    })).then(function () {\n"
              "      return i.naturalWidth && i.decode ? i.decode().catch(function () {}) : 0;\n"
              "    });\n"
              "  };\n"
              "  var check = function () {\n"
              "    if (document.body) void document.body.offsetHeight;\n"
              "    var fonts = document.fonts ? document.fonts.ready : Promise.resolve();\n"
              "    fonts.then(function () { return Promise.all(wanted().map(loaded)); })\n"
              "        .then(function () {\n"
              "          var done = (!document.fonts || document.fonts.status === 'loaded') &&\n"
              "              wanted().every(function (i) { return i.complete; });\n"
              "          if (!done) return setTimeout(check, 50);\n"
              "          requestAnimationFrame(function () { requestAnimationFrame(function () {\n"
              "            " +
                  alert +
                  "          }); });\n"
                  "        });\n"
                  "  };\n"
                  "  var report = function () { setTimeout(check, 0); };\n"
            : "  var report = function () {\n    " + alert + "  };\n";
  return "(function () {\n" + report +
         "  if (document.readyState === 'complete') report();\n"
         "  else window.addEventListener('load', report, { once: true });\n"
         "})();\n";
}

// Prints the notices of one UpdateWeb result, answers a waiting dialog and updates *watch.
// Returns true when the result carried anything but the focus level.
bool HandleResult(int result, void* text, int value, Clock::time_point now, PageWatch* watch) {
  bool news = false;
  if (result & UPDATE_LOAD_ERROR) {
    news = true;
    PrintLine("load-error: " + std::to_string(value) + " " + Printable(text));
    // The library shows an error page in place of the failed page: wait for its frames.
    watch->lastErrorText = text ? static_cast<const char*>(text) : "";
    BeginNavigation(now, watch);
  }
  if (result & UPDATE_URL) {
    news = true;
    PrintLine("url: " + Printable(text));
    const std::string url = text ? static_cast<const char*>(text) : "";
    // The error text of a load error may come back once more as a URL notice, because the
    // library keeps both in one place; that is no navigation. A change of the fragment only
    // scrolls the page and may paint nothing.
    const bool errorEcho = !watch->lastErrorText.empty() && url == watch->lastErrorText;
    const std::string page = WithoutFragment(url);
    if (!errorEcho && page != watch->lastUrl) {
      watch->lastUrl = page;
      BeginNavigation(now, watch);
    }
  }
  if (result & UPDATE_TITLE) {
    news = true;
    PrintLine("title: " + Printable(text));
  }
  if (result & UPDATE_JS_DIALOG) {
    news = true;
    // Accept it at once so that the page goes on.
    InputWeb(INPUT_DIALOG, 1, 0);
    const std::string_view message = text ? static_cast<const char*>(text) : "";
    if (message.rfind(kProbeMessage, 0) == 0) {
      // The load probe's alert; one from a page that is gone already says nothing.
      if (message.substr(kProbeMessage.size()) == std::to_string(watch->navigation)) {
        watch->loaded = true;
        watch->loadedAt = now;
      }
    } else {
      PrintLine("dialog: " + DialogTypeName(value) + " " + Printable(text));
    }
  }
  if (result & UPDATE_POPUP_BLOCKED) {
    news = true;
    PrintLine("popup-blocked");
  }
  if (const int cursor = result & UPDATE_CURSOR_MASK; cursor != 0) {
    news = true;
    PrintLine("cursor: " + CursorDescription(cursor - 1));
  }
  if (const bool focused = (result & UPDATE_FOCUSED) != 0; focused != watch->focused) {
    watch->focused = focused;
    PrintLine(focused ? "focus: in" : "focus: out");
  }
  if (result & UPDATE_NEW_FRAME) {
    news = true;
    ++watch->frames;
    if (watch->framesSinceNavigation++ == 0) watch->firstFrameSinceNavigation = now;
    watch->lastChange = now;
  }
  return news;
}

// The picture counts as settled once the latest navigation has painted and loaded and then
// nothing has changed for the settle time, or, for a page that keeps painting, a while after
// its first frame. Without word of the load (no probe answer yet) every wait is longer, and
// while waiting for the page to be ready none ends.
bool Settled(const PageWatch& watch, Clock::time_point now, Milliseconds settle, bool probe,
             bool waitReady) {
  if (watch.framesSinceNavigation == 0) return false;
  // Waiting for the page to be ready: only the probe's answer says it is.
  if (probe && waitReady && !watch.loaded) return false;
  if (probe && !watch.loaded) settle *= kUnloadedSettleFactor;
  if (watch.loaded && now - watch.loadedAt < settle) return false;
  if (now - watch.lastChange >= settle) return true;
  return now - watch.firstFrameSinceNavigation >= settle * kBusyPageSettleFactor;
}

// Polls UpdateWeb until the picture has settled, the deadline has passed or the user
// interrupts.
WaitEnd WaitForPicture(const Options& options, Clock::time_point deadline, PageWatch* watch) {
  const Milliseconds settle{options.settleMs};
  watch->lastChange = Clock::now();
  int busyPolls = 0;
  for (;;) {
    if (g_interrupted) return WaitEnd::kInterrupted;
    // The library leaves text and value alone unless a notice carries them.
    void* text = nullptr;
    int value = 0;
    const int result = UpdateWeb(&text, &value);
    const Clock::time_point now = Clock::now();
    bool news = false;
    if (result >= 0) {
      watch->engineReady = true;
      news = HandleResult(result, text, value, now, watch);
      // The page of the latest navigation has painted, so its document exists: ask it to
      // report its load.
      if (options.probe && watch->framesSinceNavigation > 0 && !watch->probeSent) {
        ExecuteJavaScript(ProbeScript(watch->navigation, options.waitReady).c_str());
        watch->probeSent = true;
      }
    }
    if (Settled(*watch, now, settle, options.probe, options.waitReady)) return WaitEnd::kSettled;
    if (now >= deadline) return WaitEnd::kTimeout;
    // While the engine is busy the next poll follows at once, but never for long: a page
    // that reports something on every call must not take a whole core.
    busyPolls = news ? busyPolls + 1 : 0;
    if (!news || busyPolls >= kMaxBusyPolls) {
      busyPolls = 0;
      std::this_thread::sleep_for(kIdlePollPause);
    }
  }
}

int Run(const Options& options) {
  const std::string url = options.url
                              ? ResolveUrl(*options.url)
                              : std::string(kHtmlSourcePrefix) + quillo_tools::DemoPageHtml();
  const size_t byteCount =
      static_cast<size_t>(options.width) * static_cast<size_t>(options.height) * 4;

  // The library paints into this memory until UnloadWeb(1) has returned.
  std::vector<uint8_t> pixels;
  try {
    pixels.resize(byteCount);
  } catch (const std::bad_alloc&) {
    PrintError("cannot allocate " + std::to_string(byteCount) + " bytes of pixel memory");
    return kExitFailure;
  }
  for (size_t i = 0; i < byteCount; i += 4) std::memcpy(&pixels[i], kFillPixel, 4);

  int paintOptions = 0;
  if (options.swapRedBlue) paintOptions |= PAINT_SWAP_RED_BLUE;
  if (options.bottomUp) paintOptions |= PAINT_BOTTOM_UP;

  if (options.debug) SetDebugEnable(1);

  const Clock::time_point start = Clock::now();
  const auto timeout = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(options.timeoutSeconds));
  SurviveBrokenPipe();
  CatchInterrupts(true);
  LoadWeb(0, 0, options.width, options.height, pixels.data(), url.c_str(), paintOptions,
          options.lang.c_str());

  PageWatch watch;
  const WaitEnd end = WaitForPicture(options, start + timeout, &watch);
  CatchInterrupts(false);

  const auto elapsedMs = std::chrono::duration_cast<Milliseconds>(Clock::now() - start).count();
  int exitCode = kExitOk;
  if (end == WaitEnd::kInterrupted) {
    PrintError("interrupted after " + std::to_string(elapsedMs) +
               " ms; writing what has been painted");
    exitCode = kExitInterrupted;
  } else if (end == WaitEnd::kTimeout) {
    if (!watch.engineReady) {
      PrintError("the engine did not become ready within " + std::to_string(elapsedMs) +
                 " ms (UpdateWeb kept answering -1)");
      exitCode = kExitNoFrame;
    } else if (watch.frames == 0) {
      PrintError("no frame arrived within " + std::to_string(elapsedMs) + " ms");
      exitCode = kExitNoFrame;
    } else {
      PrintError("the picture did not settle within " + std::to_string(elapsedMs) +
                 " ms; writing what has been painted");
    }
  }

  // No more polls, so no more engine work is posted; let what was posted finish, then copy
  // the picture so that the file shows one moment of the page.
  std::this_thread::sleep_for(kDrainPause);
  const quillo_tools::PixelLayout layout{options.swapRedBlue, options.bottomUp};
  std::vector<uint8_t> rgb;
  std::string error;
  bool written = false;
  try {
    const std::vector<uint8_t> snapshot(pixels);
    rgb = quillo_tools::HostPixelsToRgb(snapshot.data(), options.width, options.height, layout,
                                        options.keepAlpha);
    written = quillo_tools::WritePng(options.out, rgb, options.width, options.height,
                                     options.keepAlpha, &error);
  } catch (const std::bad_alloc&) {
    error = "out of memory";
  }

  PrintLine("frames: " + std::to_string(watch.frames));
  if (written) {
    PrintLine("png: " + options.out);
  } else {
    PrintError("cannot write " + options.out + ": " + error);
    exitCode = kExitFailure;
  }

  quillo_tools::ShutDownEngine("quillo-shot", exitCode == kExitOk ? kExitStuck : exitCode);
  return exitCode;
}

// A scaled or transparent picture needs the views interface.
int RunView(const Options& options) {
  quillo_tools::ViewShot shot;
  shot.url = options.url ? ResolveUrl(*options.url)
                         : std::string(kHtmlSourcePrefix) + quillo_tools::DemoPageHtml();
  shot.cssWidth = options.width;
  shot.cssHeight = options.height;
  shot.scale = options.scale;
  shot.transparent = options.transparent;
  shot.checkerboard = options.checkerboard;
  shot.swapRedBlue = options.swapRedBlue;
  shot.bottomUp = options.bottomUp;
  shot.keepAlpha = options.keepAlpha;
  shot.out = options.out;
  shot.timeoutSeconds = options.timeoutSeconds;
  shot.settleMs = options.settleMs;
  shot.debug = options.debug;
  shot.waitReady = options.waitReady;
  SurviveBrokenPipe();
  CatchInterrupts(true);
  const int exitCode = quillo_tools::ShootView(shot, &g_interrupted);
  CatchInterrupts(false);
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const std::optional<int> exitCode = ParseCommandLine(argc, argv, &options)) return *exitCode;
  if (options.scale != 1.0 || options.transparent) return RunView(options);
  return Run(options);
}
