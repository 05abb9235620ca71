// quillo-bench-raw: the same benchmark runs as quillo-bench-host, made by a plain embedder that
// drives WPE WebKit itself (RawWpeView), the way quillo does underneath. Each exported frame is
// copied whole into the program's own host buffer, then the buffer is released and
// frame-complete dispatched at once, or with --fps N on a grid of N frames a second (the same
// pacing quillo applies at its 60).
//
//   quillo-bench-raw WORKLOAD --url URL [options]   (see bench_common.h)
#include <unistd.h>

#include <algorithm>
#include <string>

#include "bench_common.h"
#include "raw_wpe_view.h"
#include "workloads.h"

namespace {

using bench::Args;
using bench::NowNs;
using bench::Result;

RawWpeView::Setup ViewSetup(const Args& args) {
  RawWpeView::Setup setup;
  setup.width = args.width;
  setup.height = args.height;
  setup.copy = RawWpeView::Copy::kWhole;
  setup.fpsCap = args.fpsCap;
  return setup;
}

class RawEngine : public bench::PageDriver {
 public:
  explicit RawEngine(const Args& args) : m_args(args), m_view(ViewSetup(args)) {}

  bool Start() {
    if (!m_view.Start(&m_error)) return false;
    g_signal_connect(m_view.view(), "load-failed",
                     G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                    gpointer self) -> gboolean {
                       static_cast<RawEngine*>(self)->m_error =
                           std::string("load of ") + (uri ? uri : "") +
                           " failed: " + (error ? error->message : "");
                       return FALSE;
                     }),
                     this);
    m_viewCreatedNs = NowNs();
    webkit_web_view_load_uri(m_view.view(), m_args.url.c_str());
    return true;
  }

  void Stop(Result& result) {
    const int64_t start = NowNs();
    m_view.Stop();
    result.Number("shutdown_ms", static_cast<double>(NowNs() - start) / 1e6);
  }

  // Runs the main loop, sleeping in it whenever nothing is due, until done() holds after an
  // iteration or the deadline passes. done(frame) learns whether that iteration brought frames.
  template <typename Done>
  bool RunUntil(Done done, int64_t deadlineNs) {
    bool expired = false;
    const int64_t left = deadlineNs - NowNs();
    GSource* timer = g_timeout_source_new(static_cast<guint>(std::max<int64_t>(left, 0) / 1000000));
    g_source_set_callback(
        timer,
        [](gpointer flag) -> gboolean {
          *static_cast<bool*>(flag) = true;
          return G_SOURCE_REMOVE;
        },
        &expired, nullptr);
    g_source_attach(timer, context());
    bool met = false;
    while (!met) {
      const int64_t framesBefore = m_view.frames();
      g_main_context_iteration(context(), TRUE);
      met = done(m_view.frames() != framesBefore);
      if (!m_error.empty() || expired || NowNs() >= deadlineNs) break;
    }
    g_source_destroy(timer);
    g_source_unref(timer);
    return met;
  }

  void RunFor(int64_t ns) override {
    RunUntil([](bool) { return false; }, NowNs() + ns);
  }

  // The frame loop of a host that drives the engine by polling: at each tick, everything the
  // main context has ready, then sleep until the next tick.
  void PollEvery(int64_t ns, int64_t intervalNs) override {
    const int64_t end = NowNs() + ns;
    for (int64_t next = NowNs(); next < end; next += intervalNs) {
      while (g_main_context_iteration(context(), FALSE)) {
      }
      bench::SleepNs(next + intervalNs - NowNs());
    }
  }

  bool Shows(bench::Rgb colour) const override {
    return bench::PixelIs(m_view.pixels().data(), m_args.width, m_args.height, m_args.probeX,
                          m_args.probeY, colour);
  }

  using PageDriver::WaitForColour;
  bool WaitForColour(bench::Rgb colour, int64_t deadlineNs) override {
    return RunUntil([&](bool frame) { return frame && Shows(colour); }, deadlineNs);
  }

  void Move(int x, int y) override { m_view.Move(x, y); }
  void Click(int x, int y) override {
    m_view.Click(x, y);
    m_dispatchedNs = NowNs();
  }
  // The press goes to the backend on this thread; the frame that showed it is the last copied.
  void NoteClickStages(int64_t, int64_t seenNs) override {
    m_stages.push_back({0, m_dispatchedNs, m_view.lastFrameNs(), m_view.lastCopiedNs(), seenNs});
  }
  std::vector<ClickStages> ClickStagesNoted() override { return m_stages; }
  // A wheel notch as quillo hands it to the engine.
  void Wheel(int x, int y) override { m_view.Wheel(x, y, 0, bench::kWheelDelta); }

  GMainContext* context() const { return m_view.context(); }
  int64_t frames() const override { return m_view.frames(); }
  std::optional<uint64_t> bytesCopied() const override { return m_view.bytesCopied(); }
  int64_t engineInitialisedNs() const { return m_view.engineInitialisedNs(); }
  int64_t viewCreatedNs() const { return m_viewCreatedNs; }
  int64_t firstBufferNs() const { return m_view.firstBufferNs(); }
  std::string WhyNotShown() const override {
    if (!m_error.empty()) return m_error;
    return "no frame showed the page (" + std::to_string(m_view.frames()) + " frames arrived)";
  }

 private:
  const Args& m_args;
  RawWpeView m_view;
  std::string m_error;
  int64_t m_dispatchedNs = 0;
  std::vector<ClickStages> m_stages;
  int64_t m_viewCreatedNs = 0;
};

int FirstFrame(const Args& args, RawEngine& engine, Result& result) {
  if (!engine.WaitForColour(args.colour)) return bench::Fail(result, engine.WhyNotShown());
  const int64_t now = NowNs();
  auto ms = [](int64_t ns) { return static_cast<double>(ns - bench::StartNs()) / 1e6; };
  result.Number(
      args.workload == bench::Workload::kFirstFrame ? "first_frame_ms" : "stages_first_frame_ms",
      ms(now));
  result.Number("engine_initialised_ms", ms(engine.engineInitialisedNs()));
  result.Number("view_created_ms", ms(engine.viewCreatedNs()));
  result.Number("first_buffer_ms", ms(engine.firstBufferNs()));
  result.Number("first_buffer_to_host_ms", static_cast<double>(now - engine.firstBufferNs()) / 1e6);
  result.Integer("frames", engine.frames());
  return 0;
}

int Animation(const Args& args, RawEngine& engine, Result& result) {
  if (!engine.RunUntil([](bool frame) { return frame; }, NowNs() + bench::kLoadTimeoutNs))
    return bench::Fail(result, engine.WhyNotShown());
  bench::MeasureAnimation(args, engine, result);
  return 0;
}

int Paced(const Args& args, RawEngine& engine, Result& result) {
  if (!engine.RunUntil([](bool frame) { return frame; }, NowNs() + bench::kLoadTimeoutNs))
    return bench::Fail(result, engine.WhyNotShown());
  bench::MeasurePaced(args, engine, result);
  return 0;
}

int Scroll(const Args& args, RawEngine& engine, Result& result) {
  if (!engine.WaitForColour(args.colour)) return bench::Fail(result, engine.WhyNotShown());
  bench::MeasureScroll(args, engine, result);
  return 0;
}

int Click(const Args& args, RawEngine& engine, Result& result) {
  if (!engine.WaitForColour(args.colour)) return bench::Fail(result, engine.WhyNotShown());
  bench::ReportClickFigures(bench::MeasureClicks(args, engine, result), result);
  return 0;
}

int Idle(const Args& args, RawEngine& engine, Result& result) {
  if (!engine.WaitForColour(args.colour)) return bench::Fail(result, engine.WhyNotShown());
  bench::MeasureIdle(args, engine, result);
  return 0;
}

// The raw engine's counterpart of one UpdateWeb: one non-blocking main-loop iteration.
int PollCost(const Args& args, RawEngine& engine, Result& result) {
  if (!engine.RunUntil([](bool frame) { return frame; }, NowNs() + bench::kLoadTimeoutNs))
    return bench::Fail(result, engine.WhyNotShown());
  engine.RunFor(bench::kPollWarmupNs);
  bench::TimeCalls(
      args.calls, [&] { g_main_context_iteration(engine.context(), FALSE); }, result);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<Args> args = bench::StartRun(argc, argv);
  if (!args) return 2;
  Result result("raw", args->workloadName);
  RawEngine engine(*args);
  if (!engine.Start()) return bench::Fail(result, engine.WhyNotShown());
  int code = 0;
  switch (args->workload) {
    case bench::Workload::kFirstFrame:
    case bench::Workload::kFirstFrameStages:
      code = FirstFrame(*args, engine, result);
      break;
    case bench::Workload::kScroll:
      code = Scroll(*args, engine, result);
      break;
    case bench::Workload::kAnimation:
      code = Animation(*args, engine, result);
      break;
    case bench::Workload::kClick:
      code = Click(*args, engine, result);
      break;
    case bench::Workload::kIdle:
      code = Idle(*args, engine, result);
      break;
    case bench::Workload::kPoll:
      code = PollCost(*args, engine, result);
      break;
    case bench::Workload::kPaced:
      code = Paced(*args, engine, result);
      break;
    case bench::Workload::kViews:
    case bench::Workload::kResize:
    case bench::Workload::kEval:
      code = bench::Fail(result, "the views' workloads run in quillo-bench-raw-views");
      break;
  }
  engine.Stop(result);
  if (code == 0) result.Print();
  return code;
}
