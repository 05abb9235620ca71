// quillo-shot through one view of the views interface: device scale and transparency.
#include "shot_views.h"

#include <quillo/views.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <thread>
#include <vector>

#include "host_common.h"
#include "png_writer.h"

namespace quillo_tools {
namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitNoFrame = 3;
constexpr int kExitStuck = 4;
constexpr int kExitInterrupted = 130;
constexpr int kBusyPageSettleFactor = 4;
constexpr Milliseconds kIdlePumpPause{2};
constexpr const char* kProgram = "quillo-shot";

void PrintError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  std::fflush(stderr);
}

// What the pump loop has seen of the page.
struct Watch {
  int64_t frames = 0;
  bool loaded = false;  // the latest load finished or failed
  bool ready = false;   // the latest page said it is ready (QUILLO_NOTICE_READY)
  bool failed = false;  // the latest load failed: no word of readiness will come
  Clock::time_point loadedAt;
  Clock::time_point lastFrame;
};

// Prints one notice as quillo-shot prints the eight exports' notices, answers dialogs (OK, an
// empty prompt) and keeps *watch. Returns true for a notice that is news for the settle wait.
bool HandleNotice(quillo_view* view, const quillo_notice& notice, Clock::time_point now,
                  Watch* watch) {
  switch (notice.kind) {
    case QUILLO_NOTICE_FRAME:
      ++watch->frames;
      watch->lastFrame = now;
      return true;
    case QUILLO_NOTICE_URL:
      PrintLine("url: " + Printable(notice.text));
      return true;
    case QUILLO_NOTICE_TITLE:
      PrintLine("title: " + Printable(notice.text));
      return true;
    case QUILLO_NOTICE_LOAD_STARTED:
      watch->loaded = watch->ready = watch->failed = false;
      return true;
    case QUILLO_NOTICE_READY:
      watch->ready = true;
      return true;
    case QUILLO_NOTICE_LOAD_FINISHED:
      watch->loaded = true;
      watch->loadedAt = now;
      return true;
    case QUILLO_NOTICE_LOAD_FAILED:
      PrintLine("load-error: " + std::to_string(notice.code) + " " + Printable(notice.text));
      watch->loaded = watch->failed = true;
      watch->loadedAt = now;
      return true;
    case QUILLO_NOTICE_DIALOG:
      PrintLine("dialog: " + DialogTypeName(notice.code) + " " + Printable(notice.text));
      quillo_view_answer_dialog(view, notice.id, 1, "");
      return true;
    case QUILLO_NOTICE_NEW_WINDOW:
      PrintLine("popup-blocked");
      return true;
    case QUILLO_NOTICE_CURSOR:
      PrintLine("cursor: " + CursorDescription(notice.code));
      return false;
    case QUILLO_NOTICE_FOCUS:
      PrintLine(notice.code ? "focus: in" : "focus: out");
      return false;
    case QUILLO_NOTICE_PROCESS_GONE:
      PrintLine("process-gone: " + std::to_string(notice.code));
      return true;
    case QUILLO_NOTICE_MESSAGE:
      // Nothing answers the page's posts here: refuse them so that its promises settle.
      quillo_view_reply(view, notice.id, 0, "quillo-shot answers no messages");
      return false;
    case QUILLO_NOTICE_REQUEST:
      quillo_view_respond(view, notice.id, 0, nullptr, nullptr, 0, 1);
      return false;
    default:
      return false;
  }
}

bool Settled(const Watch& watch, Clock::time_point now, Milliseconds settle, bool waitReady) {
  if (watch.frames == 0 || !watch.loaded) return false;
  if (waitReady && !watch.ready && !watch.failed) return false;
  if (now - watch.loadedAt < settle) return false;
  if (now - watch.lastFrame >= settle) return true;
  return now - watch.loadedAt >= settle * kBusyPageSettleFactor;
}

// The picture of memory as PNG rows: straight alpha for a transparent page, the checkerboard
// under it on request, opaque RGB otherwise.
bool WritePicture(const ViewShot& shot, const std::vector<uint8_t>& pixels, int width, int height,
                  std::string* error) {
  const PixelLayout layout{shot.swapRedBlue, shot.bottomUp};
  if (shot.checkerboard) {
    const std::vector<uint8_t> rgba = HostPixelsToRgb(pixels.data(), width, height, layout, true);
    return WritePng(shot.out, OverCheckerboard(rgba, width), width, height, false, error);
  }
  const bool alpha = shot.transparent || shot.keepAlpha;
  std::vector<uint8_t> rows = HostPixelsToRgb(pixels.data(), width, height, layout, alpha);
  if (shot.transparent) Unpremultiply(&rows);
  return WritePng(shot.out, rows, width, height, alpha, error);
}

}  // namespace

int ShootView(const ViewShot& shot, const volatile std::sig_atomic_t* interrupted) {
  const int width = DevicePixels(shot.cssWidth, shot.scale);
  const int height = DevicePixels(shot.cssHeight, shot.scale);
  if (width > QUILLO_MAX_SIDE || height > QUILLO_MAX_SIDE) {
    PrintError("the picture would be " + std::to_string(width) + "x" + std::to_string(height) +
               " pixels; at most " + std::to_string(QUILLO_MAX_SIDE) + " a side");
    return 2;
  }
  // Pixels no frame has covered stay magenta; the library writes only whole frames.
  std::vector<uint8_t> pixels;
  try {
    pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  } catch (const std::bad_alloc&) {
    PrintError("cannot allocate the pixel memory");
    return kExitFailure;
  }
  for (size_t i = 0; i < pixels.size(); i += 4) {
    pixels[i] = pixels[i + 2] = pixels[i + 3] = 0xFF;
    pixels[i + 1] = 0;
  }

  if (shot.debug) quillo_set_log(1);
  quillo_view_config config = quillo_view_config_default();
  config.width = width;
  config.height = height;
  config.pixels = pixels.data();
  config.format = shot.swapRedBlue ? QUILLO_FORMAT_RGBA : QUILLO_FORMAT_BGRA;
  config.bottom_up = shot.bottomUp ? 1 : 0;
  config.transparent = shot.transparent ? 1 : 0;
  config.device_scale = shot.scale;

  const Clock::time_point start = Clock::now();
  quillo_view* view = nullptr;
  const std::string_view url = shot.url;
  const int created =
      url.rfind(kHtmlSourcePrefix, 0) == 0
          ? quillo_view_create_html(&config, shot.url.c_str() + kHtmlSourcePrefix.size(), &view)
          : quillo_view_create(&config, shot.url.c_str(), &view);
  if (created != QUILLO_OK) {
    PrintError(std::string("the view was not made: ") + quillo_result_text(created));
    return kExitFailure;
  }

  const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(shot.timeoutSeconds));
  const Milliseconds settle{shot.settleMs};
  Watch watch;
  int exitCode = kExitOk;
  for (;;) {
    if (*interrupted) {
      PrintError("interrupted; writing what has been painted");
      exitCode = kExitInterrupted;
      break;
    }
    quillo_pump();
    const Clock::time_point now = Clock::now();
    bool news = false;
    quillo_notice notice = quillo_notice_init();
    while (quillo_view_next_notice(view, &notice) == 1)
      news = HandleNotice(view, notice, now, &watch) || news;
    if (Settled(watch, now, settle, shot.waitReady)) break;
    if (now >= deadline) {
      const auto ms = std::chrono::duration_cast<Milliseconds>(now - start).count();
      if (watch.frames == 0) {
        PrintError("no frame arrived within " + std::to_string(ms) + " ms");
        exitCode = kExitNoFrame;
      } else {
        PrintError("the picture did not settle within " + std::to_string(ms) +
                   " ms; writing what has been painted");
      }
      break;
    }
    if (!news) std::this_thread::sleep_for(kIdlePumpPause);
  }

  // Memory is written only inside quillo_pump, so it holds one whole frame now.
  std::string error;
  bool written = false;
  try {
    written = WritePicture(shot, pixels, width, height, &error);
  } catch (const std::bad_alloc&) {
    error = "out of memory";
  }
  PrintLine("frames: " + std::to_string(watch.frames));
  if (written) {
    PrintLine("png: " + shot.out);
  } else {
    PrintError("cannot write " + shot.out + ": " + error);
    exitCode = kExitFailure;
  }
  ShutDownWithin(kProgram, "quillo_shutdown()", exitCode == kExitOk ? kExitStuck : exitCode,
                 [] { quillo_shutdown(); });
  return exitCode;
}

}  // namespace quillo_tools
