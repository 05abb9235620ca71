// quillo-bench-host: one benchmark run of libquillo, seen the way a host sees it. It knows only
// include/quillo.h: it owns the pixel memory, polls UpdateWeb, sends input through InputWeb and
// looks at its own memory to tell what the page shows. It prints one BENCH_RESULT line.
//
//   quillo-bench-host WORKLOAD --url URL [options]   (see bench_common.h)
#include <quillo.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "workloads.h"

namespace {

using bench::Args;
using bench::NowNs;
using bench::Result;

class Host : public bench::PageDriver {
 public:
  explicit Host(const Args& args)
      : m_args(args), m_pixels(static_cast<size_t>(args.width) * args.height * 4, 0) {}

  void Load() {
    LoadWeb(0, 0, m_args.width, m_args.height, m_pixels.data(), m_args.url.c_str(), 0, "en-US");
  }

  // One UpdateWeb, as a host's frame loop makes it; counts frames and keeps a load error.
  // True when this call reported a new frame.
  bool Poll() {
    void* text = nullptr;
    int value = 0;
    const int r = UpdateWeb(&text, &value);
    if (r == -1) return false;
    if (!m_ready) m_ready = true, m_readyNs = NowNs();
    if ((r & UPDATE_LOAD_ERROR) && text != nullptr)
      m_loadError = static_cast<const char*>(text) + (" (" + std::to_string(value) + ")");
    if (!(r & UPDATE_NEW_FRAME)) return false;
    ++m_frames;
    return true;
  }

  // Polls every interval until done() holds after a call or the deadline passes.
  template <typename Done>
  bool PollUntil(Done done, int64_t deadlineNs, int64_t intervalNs = bench::kActivePollNs) {
    int64_t next = NowNs();
    for (;;) {
      const bool frame = Poll();
      if (done(frame)) return true;
      if (!m_loadError.empty()) return false;
      const int64_t now = NowNs();
      if (now >= deadlineNs) return false;
      // A fixed schedule, so that slow calls do not stretch the polling period.
      next += intervalNs;
      if (next < now) next = now;
      bench::SleepNs(next - now);
    }
  }

  // Keeps the page running (polling) for a while.
  void PollFor(int64_t ns, int64_t intervalNs = bench::kActivePollNs) {
    PollUntil([](bool) { return false; }, NowNs() + ns, intervalNs);
  }
  void RunFor(int64_t ns) override { PollFor(ns); }
  void PollEvery(int64_t ns, int64_t intervalNs) override { PollFor(ns, intervalNs); }

  bool Shows(bench::Rgb colour) const override {
    return bench::PixelIs(m_pixels.data(), m_args.width, m_args.height, m_args.probeX,
                          m_args.probeY, colour);
  }

  // Waits until a new frame has been announced and the probe shows colour. The colour may
  // show only at a later call than the notice: then the notice came before its pixels had
  // all been written, which is counted in lateFrames().
  using PageDriver::WaitForColour;
  bool WaitForColour(bench::Rgb colour, int64_t deadlineNs) override {
    bool announced = false;
    return PollUntil(
        [&](bool frame) {
          announced |= frame;
          if (!announced || !Shows(colour)) return false;
          if (!frame) ++m_lateFrames;
          return true;
        },
        deadlineNs);
  }

  void Move(int x, int y) override { InputWeb(INPUT_MOUSE | INPUT_MOUSE_MOVE, x, y); }
  void Click(int x, int y) override {
    InputWeb(INPUT_MOUSE | INPUT_MOUSE_DOWN, x, y);
    InputWeb(INPUT_MOUSE | INPUT_MOUSE_UP, x, y);
  }
  // The wheel goes where the pointer was last moved.
  void Wheel(int, int) override {
    InputWeb(INPUT_MOUSE | INPUT_MOUSE_WHEEL, 0, bench::kWheelDelta);
  }

  const Args& args() const { return m_args; }
  int64_t frames() const override { return m_frames; }
  int lateFrames() const { return m_lateFrames; }
  bool ready() const { return m_ready; }
  int64_t readyNs() const { return m_readyNs; }
  const std::string& loadError() const { return m_loadError; }

  // The click road's stages from the library's stage trace (QUILLO_STAGE_TRACE, set before the
  // first load): for each click, the first input stages after its sending, the delivery in the
  // poll that saw its colour, and the publishing and export of the frame delivered then.
  void NoteClickStages(int64_t sentNs, int64_t seenNs) override {
    m_clicks.push_back({sentNs, seenNs});
  }
  std::vector<ClickStages> ClickStagesNoted() override {
    std::map<std::string, std::vector<int64_t>> marks;  // stage -> times, in order
    if (std::FILE* trace = std::fopen(m_stageTrace.c_str(), "r")) {
      char name[32];
      long long at = 0;
      while (std::fscanf(trace, "%31s %lld", name, &at) == 2) marks[name].push_back(at);
      std::fclose(trace);
    }
    auto firstFrom = [&](const char* stage, int64_t from) -> int64_t {
      const std::vector<int64_t>& times = marks[stage];
      auto it = std::lower_bound(times.begin(), times.end(), from);
      return it == times.end() ? 0 : *it;
    };
    auto lastUpTo = [&](const char* stage, int64_t until) -> int64_t {
      const std::vector<int64_t>& times = marks[stage];
      auto it = std::upper_bound(times.begin(), times.end(), until);
      return it == times.begin() ? 0 : *(it - 1);
    };
    std::vector<ClickStages> stages;
    for (const auto& [sent, seen] : m_clicks) {
      ClickStages s;
      s.inputTaken = firstFrom("input_taken", sent);
      s.inputDispatched = firstFrom("input_dispatched", sent);
      s.frameDelivered = lastUpTo("frame_delivered", seen);
      s.framePublished = lastUpTo("frame_published", s.frameDelivered);
      s.frameExported = lastUpTo("frame_exported", s.framePublished);
      stages.push_back(s);
    }
    return stages;
  }
  // Names the file the library traces its stages into (from the next first load on).
  void TraceStages() {
    char path[] = "/tmp/quillo-bench-stages-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return;
    close(fd);
    m_stageTrace = path;
    setenv("QUILLO_STAGE_TRACE", path, 1);
  }
  ~Host() override {
    if (!m_stageTrace.empty()) unlink(m_stageTrace.c_str());
  }
  std::string WhyNotShown() const override {
    if (!m_loadError.empty()) return "load error: " + m_loadError;
    if (!m_ready) return "the engine did not start";
    return "no frame showed the page (" + std::to_string(m_frames) + " frames arrived)";
  }

 private:
  const Args& m_args;
  std::vector<uint8_t> m_pixels;
  int64_t m_frames = 0;
  int m_lateFrames = 0;
  bool m_ready = false;
  int64_t m_readyNs = 0;
  std::string m_loadError;
  std::string m_stageTrace;                           // the stage trace's file, when traced
  std::vector<std::pair<int64_t, int64_t>> m_clicks;  // sent, seen
};

// Runs fn with standard error sent to a temporary file and returns what was written there;
// the text is copied on to the real standard error afterwards.
template <typename Fn>
std::string CaptureStderr(Fn fn) {
  std::fflush(stderr);
  std::FILE* capture = std::tmpfile();
  const int saved = dup(STDERR_FILENO);
  if (capture == nullptr || saved < 0) {
    fn();
    return {};
  }
  dup2(fileno(capture), STDERR_FILENO);
  fn();
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::string text;
  std::rewind(capture);
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, capture)) > 0;) text.append(chunk, n);
  std::fclose(capture);
  std::fwrite(text.data(), 1, text.size(), stderr);
  return text;
}

// Closes the engine and reports how long that took.
void Shutdown(Result& result) {
  const int64_t start = NowNs();
  UnloadWeb(1);
  result.Number("shutdown_ms", static_cast<double>(NowNs() - start) / 1e6);
}

// Shuts down with the log on: the library counts what it copied into host memory and logs it
// when the page closes; adds PREFIXcopy_kib_per_frame.
void ShutdownCountingCopies(const std::string& prefix, Result& result) {
  std::string log = CaptureStderr([&] {
    SetDebugEnable(1);
    Shutdown(result);
  });
  unsigned paints = 0, kib = 0;
  const size_t at = log.find("=> paints[");
  if (at == std::string::npos ||
      std::sscanf(log.c_str() + at, "=> paints[%u] bytes copied[%u] KiB", &paints, &kib) != 2 ||
      paints == 0) {
    result.Missing(prefix + "copy_kib_per_frame");
    result.Text("copy_note", "no paints/bytes copied line in the library's log");
    return;
  }
  result.Integer("paints", paints);
  result.Integer("copied_kib", kib);
  result.Number(prefix + "copy_kib_per_frame", static_cast<double>(kib) / paints);
}

enum class Until { kFirstFrame, kColour };

// Loads the page and polls until it shows its first frame, or the probe shows the page's
// colour; when it does not, closes the engine and returns false.
bool Open(Host& host, Until until) {
  host.Load();
  const bool shown = until == Until::kColour ? host.WaitForColour(host.args().colour)
                                             : host.PollUntil([](bool frame) { return frame; },
                                                              NowNs() + bench::kLoadTimeoutNs);
  if (!shown) UnloadWeb(1);
  return shown;
}

int FirstFrame(const Args& args, Result& result) {
  Host host(args);
  host.Load();
  const bool shown = host.WaitForColour(args.colour);
  const int64_t now = NowNs();
  if (!shown) {
    UnloadWeb(1);
    return bench::Fail(result, host.WhyNotShown());
  }
  result.Number("first_frame_ms", static_cast<double>(now - bench::StartNs()) / 1e6);
  result.Number("engine_ready_ms", static_cast<double>(host.readyNs() - bench::StartNs()) / 1e6);
  result.Integer("frames", host.frames());
  result.Integer("late_pixels", host.lateFrames());
  Shutdown(result);
  return 0;
}

int Animation(const Args& args, Result& result) {
  Host host(args);
  if (!Open(host, Until::kFirstFrame)) return bench::Fail(result, host.WhyNotShown());
  bench::MeasureAnimation(args, host, result);
  ShutdownCountingCopies("", result);
  return 0;
}

// The animation under a host that polls at its own pace (--poll-hz).
int Paced(const Args& args, Result& result) {
  Host host(args);
  if (!Open(host, Until::kFirstFrame)) return bench::Fail(result, host.WhyNotShown());
  bench::MeasurePaced(args, host, result);
  Shutdown(result);
  return 0;
}

// A long page scrolled by the wheel: a notch every 60th of a second for the window, the host
// polling every millisecond in between.
int Scroll(const Args& args, Result& result) {
  Host host(args);
  if (!Open(host, Until::kColour)) return bench::Fail(result, host.WhyNotShown());
  bench::MeasureScroll(args, host, result);
  ShutdownCountingCopies("scroll_", result);
  return 0;
}

// The first frame again, with the library's log switched on from the start and each line
// stamped as it arrives on standard error, to tell where the time goes: LoadWeb returned,
// engine initialised, view created, first buffer from the engine, first frame in host memory.
int FirstFrameStages(const Args& args, Result& result) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return bench::Fail(result, "pipe failed");
  std::fflush(stderr);
  const int savedStderr = dup(STDERR_FILENO);
  dup2(pipeFds[1], STDERR_FILENO);
  close(pipeFds[1]);
  std::mutex linesLock;
  std::vector<std::pair<int64_t, std::string>> lines;
  std::thread reader([&] {
    std::string pending;
    char chunk[4096];
    for (ssize_t n; (n = read(pipeFds[0], chunk, sizeof chunk)) > 0;) {
      const int64_t now = NowNs();
      pending.append(chunk, static_cast<size_t>(n));
      for (size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
        std::lock_guard<std::mutex> hold(linesLock);
        lines.emplace_back(now, pending.substr(0, eol));
        pending.erase(0, eol + 1);
      }
    }
  });

  SetDebugEnable(1);
  Host host(args);
  host.Load();
  const int64_t loaded = NowNs();
  const bool shown = host.WaitForColour(args.colour);
  const int64_t now = NowNs();
  SetDebugEnable(0);
  if (shown)
    Shutdown(result);
  else
    UnloadWeb(1);
  std::fflush(stderr);
  dup2(savedStderr, STDERR_FILENO);  // the pipe's last writer goes: the reader ends
  close(savedStderr);
  reader.join();
  close(pipeFds[0]);
  auto ms = [](int64_t ns) { return static_cast<double>(ns - bench::StartNs()) / 1e6; };
  // The timeline goes to the run's log.
  for (const auto& [at, line] : lines)
    std::fprintf(stderr, "[%9.3f ms] %s\n", ms(at), line.c_str());
  if (!shown) return bench::Fail(result, host.WhyNotShown());

  // When the first line holding text arrived, or -1.
  auto arrival = [&](const char* text) -> int64_t {
    for (const auto& [at, line] : lines)
      if (line.find(text) != std::string::npos) return at;
    return -1;
  };
  auto stage = [&](const char* key, const char* text) {
    const int64_t at = arrival(text);
    if (at < 0)
      result.Missing(key);
    else
      result.Number(key, ms(at));
  };
  result.Number("loadweb_returned_ms", ms(loaded));
  stage("engine_initialised_ms", "CWebApplication::OnContextInitialized");
  stage("view_created_ms", "CWebClient::OnAfterCreated");
  stage("first_buffer_ms", "=> first buffer");
  if (const int64_t firstBuffer = arrival("=> first buffer"); firstBuffer >= 0)
    result.Number("first_buffer_to_host_ms", static_cast<double>(now - firstBuffer) / 1e6);
  result.Number("engine_ready_ms", ms(host.readyNs()));
  result.Number("stages_first_frame_ms", ms(now));
  return 0;
}

int Click(const Args& args, Result& result) {
  Host host(args);
  host.TraceStages();
  if (!Open(host, Until::kColour)) return bench::Fail(result, host.WhyNotShown());
  const int lateBefore = host.lateFrames();
  const std::vector<double> latencies = bench::MeasureClicks(args, host, result);
  result.Integer("click_late_pixels", host.lateFrames() - lateBefore);
  bench::ReportClickFigures(latencies, result);
  if (latencies.empty()) result.Text("click_note", "no click changed the page's colour within 3 s");
  Shutdown(result);
  return 0;
}

int Idle(const Args& args, Result& result) {
  Host host(args);
  if (!Open(host, Until::kColour)) return bench::Fail(result, host.WhyNotShown());
  bench::MeasureIdle(args, host, result);
  Shutdown(result);
  return 0;
}

int PollCost(const Args& args, Result& result) {
  Host host(args);
  if (!Open(host, Until::kFirstFrame)) return bench::Fail(result, host.WhyNotShown());
  host.PollFor(bench::kPollWarmupNs);

  // Back-to-back calls, each timed on its own; the clock's own cost is reported beside them.
  bench::TimeCalls(
      args.calls, [&] { UpdateWeb(nullptr, nullptr); }, result);
  Shutdown(result);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<Args> args = bench::StartRun(argc, argv);
  if (!args) return 2;
  Result result("quillo", args->workloadName);
  int code = 0;
  switch (args->workload) {
    case bench::Workload::kFirstFrame:
      code = FirstFrame(*args, result);
      break;
    case bench::Workload::kAnimation:
      code = Animation(*args, result);
      break;
    case bench::Workload::kClick:
      code = Click(*args, result);
      break;
    case bench::Workload::kIdle:
      code = Idle(*args, result);
      break;
    case bench::Workload::kPoll:
      code = PollCost(*args, result);
      break;
    case bench::Workload::kScroll:
      code = Scroll(*args, result);
      break;
    case bench::Workload::kFirstFrameStages:
      code = FirstFrameStages(*args, result);
      break;
    case bench::Workload::kPaced:
      code = Paced(*args, result);
      break;
    case bench::Workload::kViews:
    case bench::Workload::kResize:
    case bench::Workload::kEval:
      code = bench::Fail(result, "the views' workloads run in quillo-bench-views");
      break;
  }
  if (code == 0) result.Print();
  return code;
}
