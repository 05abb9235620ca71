// quillo-bench-raw: the same benchmark runs as quillo-bench-host, made by a plain embedder that
// drives WPE WebKit itself, the way quillo does underneath: the wpebackend-fdo shared-memory
// export, one WebKitWebView, and a GLib main context of its own pushed as this thread's
// default. Each exported frame is copied whole into the program's own host buffer, then the
// buffer is released and frame-complete dispatched at once, or with --fps N on a grid of N
// frames a second (the same pacing quillo applies at its 60).
//
//   quillo-bench-raw WORKLOAD --url URL [options]   (see bench_common.h)
#include <unistd.h>
#include <wayland-server.h>
#include <wpe/fdo.h>
#include <wpe/unstable/fdo-shm.h>
#include <wpe/webkit.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_common.h"

namespace {

using bench::Args;
using bench::NowNs;
using bench::Result;

constexpr int64_t kClickSettleNs = 300'000'000;
constexpr int64_t kClickGapNs = 150'000'000;
constexpr int64_t kIdleSettleNs = 1'000'000'000;
constexpr int64_t kPollWarmupNs = 500'000'000;

class RawEngine {
 public:
  explicit RawEngine(const Args& args)
      : m_args(args), m_pixels(static_cast<size_t>(args.width) * args.height * 4, 0) {}

  bool Start() {
    // The same environment quillo sets up: Mesa's software rasteriser in the web process.
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    setenv("NO_AT_BRIDGE", "1", 0);
    m_context = g_main_context_new();
    g_main_context_push_thread_default(m_context);
    if (!wpe_loader_init("libWPEBackend-fdo-1.0.so.1") || !wpe_fdo_initialize_shm()) {
      m_error = "wpebackend-fdo shared-memory initialisation failed";
      return false;
    }
    m_web = webkit_web_context_new_ephemeral();
    webkit_web_context_set_cache_model(m_web, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    m_engineInitialisedNs = NowNs();

    static const wpe_view_backend_exportable_fdo_client kClient = {
        nullptr, nullptr,
        [](void* self, wpe_fdo_shm_exported_buffer* buffer) {
          static_cast<RawEngine*>(self)->OnFrame(buffer);
        },
        nullptr, nullptr};
    m_exportable = wpe_view_backend_exportable_fdo_create(
        &kClient, this, static_cast<uint32_t>(m_args.width), static_cast<uint32_t>(m_args.height));
    if (m_exportable == nullptr) {
      m_error = "wpe_view_backend_exportable_fdo_create failed";
      return false;
    }
    m_backend = wpe_view_backend_exportable_fdo_get_view_backend(m_exportable);
    WebKitWebViewBackend* viewBackend = webkit_web_view_backend_new(
        m_backend,
        [](gpointer exportable) {
          wpe_view_backend_exportable_fdo_destroy(
              static_cast<wpe_view_backend_exportable_fdo*>(exportable));
        },
        m_exportable);
    m_view = WEBKIT_WEB_VIEW(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "backend", viewBackend, "web-context", m_web, nullptr));
    WebKitColor white{1.0, 1.0, 1.0, 1.0};
    webkit_web_view_set_background_color(m_view, &white);
    wpe_view_backend_add_activity_state(
        m_backend, wpe_view_activity_state_visible | wpe_view_activity_state_in_window);
    g_signal_connect(m_view, "load-failed",
                     G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                    gpointer self) -> gboolean {
                       static_cast<RawEngine*>(self)->m_error =
                           std::string("load of ") + (uri ? uri : "") +
                           " failed: " + (error ? error->message : "");
                       return FALSE;
                     }),
                     this);
    m_viewCreatedNs = NowNs();
    webkit_web_view_load_uri(m_view, m_args.url.c_str());
    return true;
  }

  void Stop(Result& result) {
    const int64_t start = NowNs();
    if (m_frameTimer != nullptr) {
      g_source_destroy(m_frameTimer);
      g_source_unref(m_frameTimer);
      m_frameTimer = nullptr;
    }
    if (m_view != nullptr) g_object_unref(m_view);  // destroys the backend and the exportable
    m_view = nullptr;
    if (m_web != nullptr) g_object_unref(m_web);
    m_web = nullptr;
    for (int i = 0; i < 1000 && g_main_context_iteration(m_context, FALSE); ++i) {
    }
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
    g_source_attach(timer, m_context);
    bool met = false;
    while (!met) {
      const int64_t framesBefore = m_frames;
      g_main_context_iteration(m_context, TRUE);
      met = done(m_frames != framesBefore);
      if (!m_error.empty() || expired || NowNs() >= deadlineNs) break;
    }
    g_source_destroy(timer);
    g_source_unref(timer);
    return met;
  }

  void RunFor(int64_t ns) {
    RunUntil([](bool) { return false; }, NowNs() + ns);
  }

  // The frame loop of a host that drives the engine by polling: at each tick, everything the
  // main context has ready, then sleep until the next tick.
  void PollFor(int64_t ns, int64_t intervalNs) {
    const int64_t end = NowNs() + ns;
    for (int64_t next = NowNs(); next < end; next += intervalNs) {
      while (g_main_context_iteration(m_context, FALSE)) {
      }
      bench::SleepNs(next + intervalNs - NowNs());
    }
  }

  bool Shows(bench::Rgb colour) const {
    return bench::PixelIs(m_pixels.data(), m_args.width, m_args.height, m_args.probeX,
                          m_args.probeY, colour);
  }

  bool WaitForColour(bench::Rgb colour) {
    return RunUntil([&](bool frame) { return frame && Shows(colour); },
                    NowNs() + bench::kLoadTimeoutNs);
  }

  // A left-button press and release at (x, y), as the backend hands them to the engine.
  void Click(int x, int y) {
    wpe_input_pointer_event pointer{};
    pointer.type = wpe_input_pointer_event_type_button;
    pointer.x = x;
    pointer.y = y;
    pointer.button = 1;
    pointer.time = static_cast<uint32_t>(NowNs() / 1'000'000);
    pointer.state = 1;
    pointer.modifiers = wpe_input_pointer_modifier_button1;
    wpe_view_backend_dispatch_pointer_event(m_backend, &pointer);
    pointer.state = 0;
    pointer.modifiers = 0;
    wpe_view_backend_dispatch_pointer_event(m_backend, &pointer);
  }

  void Move(int x, int y) {
    wpe_input_pointer_event pointer{};
    pointer.type = wpe_input_pointer_event_type_motion;
    pointer.x = x;
    pointer.y = y;
    pointer.time = static_cast<uint32_t>(NowNs() / 1'000'000);
    wpe_view_backend_dispatch_pointer_event(m_backend, &pointer);
  }

  // A wheel notch at (x, y), as quillo hands it to the engine: a smooth 2D axis event in
  // pixels, positive upwards.
  void Wheel(int x, int y, int deltaY) {
    wpe_input_axis_2d_event axis{};
    axis.base.type = static_cast<wpe_input_axis_event_type>(
        wpe_input_axis_event_type_mask_2d | wpe_input_axis_event_type_motion_smooth);
    axis.base.time = static_cast<uint32_t>(NowNs() / 1'000'000);
    axis.base.x = x;
    axis.base.y = y;
    axis.y_axis = static_cast<double>(deltaY);
    wpe_view_backend_dispatch_axis_event(m_backend, &axis.base);
  }

  GMainContext* context() const { return m_context; }
  int64_t frames() const { return m_frames; }
  int64_t engineInitialisedNs() const { return m_engineInitialisedNs; }
  int64_t viewCreatedNs() const { return m_viewCreatedNs; }
  int64_t firstBufferNs() const { return m_firstBufferNs; }
  uint64_t bytesCopied() const { return m_bytesCopied; }
  std::string WhyNotShown() const {
    if (!m_error.empty()) return m_error;
    return "no frame showed the page (" + std::to_string(m_frames) + " frames arrived)";
  }

 private:
  // Copies the exported frame whole into host memory, gives the buffer back and lets the
  // engine render the next frame.
  void OnFrame(wpe_fdo_shm_exported_buffer* buffer) {
    if (m_firstBufferNs == 0) m_firstBufferNs = NowNs();
    wl_shm_buffer* shm = wpe_fdo_shm_exported_buffer_get_shm_buffer(buffer);
    const int width = std::min(wl_shm_buffer_get_width(shm), m_args.width);
    const int height = std::min(wl_shm_buffer_get_height(shm), m_args.height);
    const int stride = wl_shm_buffer_get_stride(shm);
    wl_shm_buffer_begin_access(shm);
    const auto* source = static_cast<const uint8_t*>(wl_shm_buffer_get_data(shm));
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    if (stride == m_args.width * 4 && width == m_args.width) {
      std::memcpy(m_pixels.data(), source, rowBytes * height);
    } else {
      for (int y = 0; y < height; ++y)
        std::memcpy(&m_pixels[static_cast<size_t>(y) * m_args.width * 4],
                    source + static_cast<size_t>(y) * stride, rowBytes);
    }
    wl_shm_buffer_end_access(shm);
    m_bytesCopied += rowBytes * height;
    ++m_frames;
    wpe_view_backend_exportable_fdo_dispatch_release_shm_exported_buffer(m_exportable, buffer);
    if (m_args.fpsCap <= 0) {
      wpe_view_backend_exportable_fdo_dispatch_frame_complete(m_exportable);
      return;
    }
    // Capped: frame-complete on the rate's grid, kept while less than a frame late.
    const int64_t interval = 1'000'000'000 / m_args.fpsCap;
    const int64_t now = NowNs();
    const int64_t due = m_lastFrameCompleteNs + interval;
    if (now >= due) {
      FrameComplete(now);
      return;
    }
    if (m_frameTimer != nullptr) return;
    m_frameTimer = g_timeout_source_new(static_cast<guint>((due - now + 999'999) / 1'000'000));
    g_source_set_callback(
        m_frameTimer,
        [](gpointer self) -> gboolean {
          auto* engine = static_cast<RawEngine*>(self);
          g_source_unref(engine->m_frameTimer);
          engine->m_frameTimer = nullptr;
          engine->FrameComplete(NowNs());
          return G_SOURCE_REMOVE;
        },
        this, nullptr);
    g_source_attach(m_frameTimer, m_context);
  }

  void FrameComplete(int64_t now) {
    const int64_t interval = 1'000'000'000 / m_args.fpsCap;
    const int64_t due = m_lastFrameCompleteNs + interval;
    m_lastFrameCompleteNs = now - due < interval ? due : now;
    wpe_view_backend_exportable_fdo_dispatch_frame_complete(m_exportable);
  }

  const Args& m_args;
  std::vector<uint8_t> m_pixels;
  GMainContext* m_context = nullptr;
  WebKitWebContext* m_web = nullptr;
  WebKitWebView* m_view = nullptr;
  wpe_view_backend_exportable_fdo* m_exportable = nullptr;
  wpe_view_backend* m_backend = nullptr;
  int64_t m_frames = 0;
  uint64_t m_bytesCopied = 0;
  std::string m_error;
  int64_t m_engineInitialisedNs = 0;
  int64_t m_viewCreatedNs = 0;
  int64_t m_firstBufferNs = 0;
  int64_t m_lastFrameCompleteNs = 0;  // --fps: the grid's last point
  GSource* m_frameTimer = nullptr;    // --fps: a frame-complete waiting for its time
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
  result.Integer("frames", engine.frames());
  return 0;
}

int Animation(const Args& args, RawEngine& engine, Result& result) {
  if (!engine.RunUntil([](bool frame) { return frame; }, NowNs() + bench::kLoadTimeoutNs))
    return bench::Fail(result, engine.WhyNotShown());
  engine.RunFor(static_cast<int64_t>(args.warmupSeconds * 1e9));
  const int64_t framesBefore = engine.frames();
  bench::FrameWindow window;
  window.Begin(getpid());
  engine.RunFor(static_cast<int64_t>(args.windowSeconds * 1e9));
  window.End(getpid(), engine.frames() - framesBefore, "", result);
  result.Integer("frames", engine.frames());
  result.Integer("copied_kib", static_cast<int64_t>(engine.bytesCopied() / 1024));
  result.Number("copy_kib_per_frame",
                static_cast<double>(engine.bytesCopied()) / 1024 / engine.frames());
  return 0;
}

// The scroll workload of quillo-bench-host: a wheel notch every 60th of a second; the main
// loop runs in between.
int Scroll(const Args& args, RawEngine& engine, Result& result) {
  if (!engine.WaitForColour(args.colour)) return bench::Fail(result, engine.WhyNotShown());
  engine.Move(args.probeX, args.probeY);
  engine.RunFor(kClickSettleNs);
  const int64_t framesBefore = engine.frames();
  const uint64_t bytesBefore = engine.bytesCopied();
  bench::FrameWindow window;
  window.Begin(getpid());
  const int64_t end = NowNs() + static_cast<int64_t>(args.windowSeconds * 1e9);
  for (int64_t next = NowNs(); next < end; next += bench::kWheelIntervalNs) {
    engine.Wheel(args.probeX, args.probeY, bench::kWheelDelta);
    engine.RunUntil([](bool) { return false; }, next + bench::kWheelIntervalNs);
  }
  const int64_t frames = engine.frames() - framesBefore;
  window.End(getpid(), frames, "scroll_", result);
  result.Integer("frames", engine.frames());
  if (engine.Shows(args.colour)) result.Text("scroll_note", "the page did not scroll");
  if (frames > 0)
    result.Number("scroll_copy_kib_per_frame",
                  static_cast<double>(engine.bytesCopied() - bytesBefore) / 1024 / frames);
  return 0;
}

int Click(const Args& args, RawEngine& engine, Result& result) {
  if (!engine.WaitForColour(args.colour)) return bench::Fail(result, engine.WhyNotShown());
  engine.Move(args.probeX, args.probeY);
  engine.RunFor(kClickSettleNs);
  std::vector<double> latencies;
  int missed = 0;
  for (int trial = 0; trial < args.trials; ++trial) {
    const bench::Rgb want = engine.Shows(args.colour) ? args.colour2 : args.colour;
    const int64_t sent = NowNs();
    engine.Click(args.probeX, args.probeY);
    if (engine.RunUntil([&](bool frame) { return frame && engine.Shows(want); },
                        sent + bench::kClickTimeoutNs))
      latencies.push_back(static_cast<double>(NowNs() - sent) / 1e6);
    else
      ++missed;
    engine.RunFor(kClickGapNs);
  }
  result.Numbers("click_ms_samples", latencies);
  result.Integer("click_missed", missed);
  if (latencies.empty()) {
    result.Missing("click_median_ms");
    result.Missing("click_p90_ms");
  } else {
    result.Number("click_median_ms", bench::Median(latencies));
    result.Number("click_p90_ms", bench::Percentile(latencies, 0.9));
  }
  return 0;
}

int Idle(const Args& args, RawEngine& engine, Result& result) {
  if (!engine.WaitForColour(args.colour)) return bench::Fail(result, engine.WhyNotShown());
  engine.PollFor(kIdleSettleNs, bench::kFramePollNs);
  const bench::TreeUsage before = bench::MeasureTree(getpid());
  const double hostBefore = bench::ProcessCpuSeconds();
  const int64_t start = NowNs();
  engine.PollFor(static_cast<int64_t>(args.windowSeconds * 1e9), bench::kFramePollNs);
  const double seconds = static_cast<double>(NowNs() - start) / 1e9;
  const double hostAfter = bench::ProcessCpuSeconds();
  const bench::TreeUsage after = bench::MeasureTree(getpid());
  result.Number("idle_cpu_s",
                (after.cpuSeconds - before.cpuSeconds) * args.windowSeconds / seconds);
  result.Number("host_idle_cpu_s", (hostAfter - hostBefore) * args.windowSeconds / seconds);
  result.Number("peak_rss_mib", static_cast<double>(after.peakRssKiB) / 1024);
  result.Number("rss_mib", static_cast<double>(after.rssKiB) / 1024);
  result.Integer("processes", after.processes);
  return 0;
}

// The raw engine's counterpart of one UpdateWeb: one non-blocking main-loop iteration.
int PollCost(const Args& args, RawEngine& engine, Result& result) {
  if (!engine.RunUntil([](bool frame) { return frame; }, NowNs() + bench::kLoadTimeoutNs))
    return bench::Fail(result, engine.WhyNotShown());
  engine.RunFor(kPollWarmupNs);
  bench::TimeCalls(
      args.calls, [&] { g_main_context_iteration(engine.context(), FALSE); }, result);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bench::StartNs();
  bench::AdoptOrphans();
  std::optional<Args> args = bench::ParseArgs(argc, argv);
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
  }
  engine.Stop(result);
  if (code == 0) result.Print();
  return code;
}
