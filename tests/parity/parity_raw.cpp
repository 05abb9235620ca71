// quillo-parity-raw: the oracle of the parity check. A plain embedder of WPE WebKit (RawWpeView,
// the benchmark's raw engine too) with the view settings quillo gives its own view, so that the
// pictures differ only if quillo's way from the engine's buffer to the host's memory is wrong.
// Every exported frame is copied into a buffer of its own (the rows from the first that changed);
// frames are acknowledged at once. Commands: see parity_child.h.
//
//   quillo-parity-raw --width W --height H --frame PATH
#include <cstdlib>
#include <sstream>

#include "parity_child.h"
#include "raw_wpe_view.h"

namespace {

RawWpeView::Setup ViewSetup(const parity::Options& options) {
  RawWpeView::Setup setup;
  setup.width = options.width;
  setup.height = options.height;
  setup.fill = 0xFF;
  setup.copy = RawWpeView::Copy::kFromFirstChangedRow;
  setup.quilloViewSettings = true;
  return setup;
}

class RawView {
 public:
  explicit RawView(const parity::Options& options)
      : m_options(options), m_view(ViewSetup(options)) {}

  bool Start(std::string& error) {
    if (!m_view.Start(&error)) return false;
    g_signal_connect(m_view.view(), "load-changed",
                     G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                       if (event == WEBKIT_LOAD_FINISHED)
                         static_cast<RawView*>(self)->m_loading = false;
                     }),
                     this);
    return true;
  }

  void Stop() { m_view.Stop(); }

  void Load(const std::string& url) {
    m_loading = true;
    m_framesAtLoad = m_view.frames();
    webkit_web_view_load_uri(m_view.view(), url.c_str());
  }

  void Reload() {
    // The way the quillo host reloads: a script in the page, not a resize or a new view.
    m_loading = true;
    m_framesAtLoad = m_view.frames();
    webkit_web_view_run_javascript(m_view.view(), "location.reload()", nullptr, nullptr, nullptr);
  }

  void Move(int x, int y) {
    m_view.Move(x, y);
    m_pointerX = x;
    m_pointerY = y;
  }

  // A wheel event at the pointer, as quillo's engine layer turns InputWeb's wheel into one.
  void Wheel(int dx, int dy) { m_view.Wheel(m_pointerX, m_pointerY, dx, dy); }

  // Runs the page until its picture has not changed for quietMs and no load is under way.
  std::string Settle(int64_t quietMs, int64_t totalMs) {
    const int64_t start = parity::NowMs();
    int64_t lastChange = start;
    const int64_t changesBefore = m_view.changes();
    int64_t lastChangeSeen = changesBefore;
    bool still = false;
    for (;;) {
      while (g_main_context_iteration(m_view.context(), FALSE)) {
        if (m_view.changes() != lastChangeSeen)
          lastChangeSeen = m_view.changes(), lastChange = parity::NowMs();
      }
      const int64_t now = parity::NowMs();
      // A load is still only once it has finished and a frame has come since it was asked
      // for: a large page may take longer than the quiet time to lay out and paint, and input
      // sent before then may be lost.
      if (!m_loading && m_view.frames() > m_framesAtLoad && now - lastChange >= quietMs) {
        still = true;
        break;
      }
      if (now - start >= totalMs) break;
      g_usleep(1000);
    }
    if (!parity::WriteFrame(m_options.framePath, m_view.pixels()))
      return "error cannot write frame";
    const int64_t lastMs = m_view.changes() != changesBefore ? lastChange - start : 0;
    return parity::SettleReply(still, m_view.changes(), lastMs, parity::NowMs() - start);
  }

 private:
  const parity::Options& m_options;
  RawWpeView m_view;
  int m_pointerX = 0;
  int m_pointerY = 0;
  bool m_loading = false;
  int64_t m_framesAtLoad = -1;  // frames exported before the last load was asked for
};

}  // namespace

int main(int argc, char** argv) {
  parity::Options options;
  if (!parity::ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: quillo-parity-raw --width W --height H --frame PATH\n");
    return 2;
  }
  RawView view(options);
  std::string error;
  if (!view.Start(error)) {
    parity::Reply("error " + error);
    return 1;
  }
  parity::Command command;
  while (parity::ReadCommand(command)) {
    std::istringstream args(command.rest);
    if (command.verb == "load") {
      view.Load(command.rest);
      parity::Reply("ok");
    } else if (command.verb == "reload") {
      view.Reload();
      parity::Reply("ok");
    } else if (command.verb == "move") {
      int x = 0, y = 0;
      args >> x >> y;
      view.Move(x, y);
      parity::Reply("ok");
    } else if (command.verb == "wheel") {
      int dx = 0, dy = 0;
      args >> dx >> dy;
      view.Wheel(dx, dy);
      parity::Reply("ok");
    } else if (command.verb == "settle") {
      int64_t quiet = 0, total = 0;
      args >> quiet >> total;
      parity::Reply(view.Settle(quiet, total));
    } else if (command.verb == "quit") {
      break;
    } else {
      parity::Reply("error unknown command " + command.verb);
    }
  }
  view.Stop();
  parity::Reply("bye");
  return 0;
}
