// quillo-parity-host: the library's side of the parity check. A host that knows only
// include/quillo.h: it owns the pixel memory, laid out as --options asks (PAINT_* bits), polls
// UpdateWeb every 2 ms while it waits, and sends the same input as the raw engine receives.
// Commands: see parity_child.h.
//
//   quillo-parity-host --width W --height H --frame PATH [--options PAINT_BITS]
#include <quillo.h>

#include <sstream>

#include "parity_child.h"

namespace {

constexpr int64_t kPollMs = 2;
constexpr int64_t kStartMs = 60'000;

class Host {
 public:
  explicit Host(const parity::Options& options)
      : m_options(options), m_pixels(static_cast<size_t>(options.width) * options.height * 4, 0) {}

  bool Start(const std::string& url, std::string& error) {
    LoadWeb(0, 0, m_options.width, m_options.height, m_pixels.data(), url.c_str(),
            m_options.paintOptions, "en-US");
    m_waitingForUrl = true;
    m_waitingForFrame = true;
    const int64_t start = parity::NowMs();
    while (!Poll()) {
      if (parity::NowMs() - start > kStartMs) {
        error = "the engine did not start";
        return false;
      }
      Sleep();
    }
    return true;
  }

  void Load(const std::string& url) {
    m_waitingForUrl = true;
    m_waitingForFrame = true;
    LoadWeb(0, 0, m_options.width, m_options.height, m_pixels.data(), url.c_str(),
            m_options.paintOptions, "en-US");
  }

  void Reload() {
    m_waitingForUrl = true;
    ExecuteJavaScript("location.reload()");
  }

  // Until the page's picture has not changed for quietMs, after the URL notice of a load asked
  // for (the library announces every main-frame navigation, a reload too) and, for a new page,
  // a frame after it (a reload may paint the same picture, which brings no notice).
  std::string Settle(int64_t quietMs, int64_t totalMs) {
    const int64_t start = parity::NowMs();
    const int64_t changesBefore = m_changes;
    int64_t lastChange = start;
    bool still = false;
    for (;;) {
      const int64_t before = m_changes;
      Poll();
      const int64_t now = parity::NowMs();
      if (m_changes != before) lastChange = now;
      if (!m_error.empty()) return "error " + m_error;
      if (!m_waitingForUrl && !m_waitingForFrame && now - lastChange >= quietMs) {
        still = true;
        break;
      }
      if (now - start >= totalMs) break;
      Sleep();
    }
    if (!parity::WriteFrame(m_options.framePath, m_pixels)) return "error cannot write frame";
    const int64_t lastMs = m_changes != changesBefore ? lastChange - start : 0;
    return parity::SettleReply(still, m_changes, lastMs, parity::NowMs() - start);
  }

  // One UpdateWeb; false while the engine starts.
  bool Poll() {
    void* text = nullptr;
    int value = 0;
    const int r = UpdateWeb(&text, &value);
    if (r == -1) return false;
    if (r & UPDATE_LOAD_ERROR)
      m_error = "load error " + std::to_string(value) + " " +
                (text ? static_cast<const char*>(text) : "");
    if (r & UPDATE_URL) m_waitingForUrl = false;
    if (r & UPDATE_NEW_FRAME) {
      ++m_changes;
      if (!m_waitingForUrl) m_waitingForFrame = false;
    }
    if (r & UPDATE_JS_DIALOG) InputWeb(INPUT_DIALOG, 1, 0);
    return true;
  }

 private:
  static void Sleep() {
    timespec ts{0, kPollMs * 1'000'000};
    nanosleep(&ts, nullptr);
  }

  const parity::Options& m_options;
  std::vector<uint8_t> m_pixels;
  int64_t m_changes = 0;
  bool m_waitingForUrl = false;
  bool m_waitingForFrame = false;
  std::string m_error;
};

}  // namespace

int main(int argc, char** argv) {
  parity::Options options;
  if (!parity::ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: quillo-parity-host --width W --height H --frame PATH [--options N]\n");
    return 2;
  }
  Host host(options);
  bool started = false;
  parity::Command command;
  while (parity::ReadCommand(command)) {
    std::istringstream args(command.rest);
    if (command.verb == "load") {
      std::string error;
      if (!started) {
        if (!host.Start(command.rest, error)) {
          parity::Reply("error " + error);
          break;
        }
        started = true;
      } else {
        host.Load(command.rest);
      }
      parity::Reply("ok");
    } else if (command.verb == "reload") {
      host.Reload();
      parity::Reply("ok");
    } else if (command.verb == "move") {
      int x = 0, y = 0;
      args >> x >> y;
      InputWeb(INPUT_MOUSE | INPUT_MOUSE_MOVE, x, y);
      parity::Reply("ok");
    } else if (command.verb == "wheel") {
      int dx = 0, dy = 0;
      args >> dx >> dy;
      InputWeb(INPUT_MOUSE | INPUT_MOUSE_WHEEL, dx, dy);
      parity::Reply("ok");
    } else if (command.verb == "settle") {
      int64_t quiet = 0, total = 0;
      args >> quiet >> total;
      parity::Reply(host.Settle(quiet, total));
    } else if (command.verb == "quit") {
      break;
    } else {
      parity::Reply("error unknown command " + command.verb);
    }
  }
  UnloadWeb(1);
  parity::Reply("bye");
  return 0;
}
