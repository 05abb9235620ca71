// Pieces shared by the benchmark programs: the clock, the command line every program takes,
// the pixel probe that recognises a page's colours in host memory, the accounting of a whole
// process tree, and the one result line each run prints for bench.mjs.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bench {

// How often a host polls while it waits for something to show (a frame, a colour): often
// enough that the wait adds at most a millisecond, seldom enough to leave the engine a core.
constexpr int64_t kActivePollNs = 1'000'000;
// A host drawing at 60 frames a second polls this often.
constexpr int64_t kFramePollNs = 16'666'667;
// Give up on a page that has not shown its first frame by then.
constexpr int64_t kLoadTimeoutNs = 30'000'000'000;
// Give up on one click whose colour has not shown by then.
constexpr int64_t kClickTimeoutNs = 3'000'000'000;

// CLOCK_MONOTONIC in nanoseconds: the same clock in every process on the machine, so that
// bench.mjs can hand a start time to a program it spawns.
int64_t NowNs();
// When the run started: QUILLO_BENCH_T0_NS from the environment (taken by bench.mjs just
// before it spawned this process), else the first call of this function.
int64_t StartNs();
void SleepNs(int64_t ns);

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
};
// "RRGGBB" (an optional leading '#' is accepted).
std::optional<Rgb> ParseRgb(std::string_view hex);
// True when the pixel at (x, y) of B,G,R,A memory with stride width*4 is within a few steps
// of want on every channel (the engines blend edges; a plain fill is exact).
bool PixelIs(const uint8_t* bgra, int width, int height, int x, int y, Rgb want);

enum class Workload {
  kFirstFrame,
  kAnimation,
  kClick,
  kIdle,
  kPoll,
  kScroll,
  kFirstFrameStages,
  kPaced,
  // The views' workloads (quillo-bench-views and quillo-bench-raw-views only).
  kViews,
  kResize,
  kEval
};

// The command line shared by quillo-bench-host, quillo-bench-raw and chromium_driver.mjs:
//   PROGRAM WORKLOAD --url URL [--probe X,Y] [--colour RRGGBB] [--colour2 RRGGBB]
//           [--trials N] [--warmup S] [--window S] [--calls N] [--fps N] [--poll-hz N]
//           [--views N] [--size WxH]
// --fps caps the frames a program acknowledges per second (only the raw engine reads it;
// quillo's cap is its own). --poll-hz: how often the host polls in the paced workload.
// --views: how many views the views' programs show at once; --size: each page's size.
struct Args {
  Workload workload = Workload::kFirstFrame;
  std::string workloadName;
  std::string url;
  int width = 1280;
  int height = 720;
  int probeX = 640;
  int probeY = 360;
  Rgb colour;   // the colour that shows the page is there
  Rgb colour2;  // click: the colour a mousedown switches to
  int trials = 20;
  double warmupSeconds = 2.0;
  double windowSeconds = 5.0;
  int64_t calls = 1'000'000;
  int fpsCap = 0;   // 0: every frame is acknowledged at once
  int pollHz = 60;  // paced: how often the host polls
  int views = 1;    // views, resize, eval: views shown at once
};
// Parses the command line; on failure prints why and the usage to stderr.
std::optional<Args> ParseArgs(int argc, char** argv);
// The start of quillo-bench-host's and quillo-bench-raw's main: fixes the run's start time,
// adopts orphaned descendants (AdoptOrphans) and parses the command line (ParseArgs).
std::optional<Args> StartRun(int argc, char** argv);

// CPU time and memory of a process and all its live descendants. Each live process counts
// its own user+system time and that of its children it has already reaped, so processes that
// ended inside the tree still count (the root's reaped children are RUSAGE_CHILDREN's).
struct TreeUsage {
  double cpuSeconds = 0;
  int64_t peakRssKiB = 0;  // sum of each process's peak resident set (VmHWM)
  int64_t rssKiB = 0;      // sum of each process's resident set now (VmRSS)
  int processes = 0;
};
TreeUsage MeasureTree(pid_t root);
// The proportional set size of the tree now (each process's Pss, from smaps_rollup): pages
// shared between processes count once in all, split among their sharers.
int64_t MeasureTreePssKiB(pid_t root);
// Makes orphaned descendants (a helper whose parent died) children of this process, so that
// MeasureTree still finds them.
void AdoptOrphans();

// Involuntary context switches of the calling thread so far: how often it was preempted.
long Preemptions();
// CPU seconds (user and system) of this process alone, all its threads, so far.
double ProcessCpuSeconds();

// Frames per second and CPU per delivered frame over a measuring window: call Begin, let the
// frames come, call End with the number of frames delivered in between.
struct FrameWindow {
  int64_t startNs = 0;
  double startTreeCpu = 0;
  void Begin(pid_t root);
  // Adds PREFIXfps and PREFIXcpu_ms_per_frame (the whole process tree's CPU over the window
  // divided by the frames) to result.
  void End(pid_t root, int64_t frames, std::string_view prefix, class Result& result) const;
};

// The scroll page's wheel: one notch (WM_MOUSEWHEEL's 120, taken as pixels, downwards) every
// 60th of a second.
constexpr int kWheelDelta = -120;
constexpr int64_t kWheelIntervalNs = kFramePollNs;

double Median(std::vector<double> values);
// p in [0, 1], nearest rank.
double Percentile(std::vector<double> values, double p);

// The result of one run: printed by Print as the single line "BENCH_RESULT {json}" on
// standard output, which is all bench.mjs reads.
class Result {
 public:
  Result(std::string system, std::string workload);
  void Number(std::string_view name, double value);
  void Integer(std::string_view name, int64_t value);
  void Missing(std::string_view name);
  void Text(std::string_view name, std::string_view value);
  void Numbers(std::string_view name, const std::vector<double>& values);
  // Marks the run as failed: the figures it carries so far are kept, with the reason.
  void Error(std::string_view why);
  void Print() const;

 private:
  void Key(std::string_view name);
  std::string m_json;
  bool m_ok = true;
};

// Reports a run that could not measure its figures: prints the result with the reason and
// returns the exit code for that.
int Fail(Result& result, std::string_view why);

void ReportCallTimes(const std::vector<double>& callNs, long preempted, Result& result);

// Times count calls of call(), each on its own, and adds to result: poll_median_ns,
// poll_p99_ns, poll_max_us, poll_over_100us (calls that took longer), poll_preempted (times
// the thread was preempted during the loop) and clock_median_ns (the clock's own cost).
template <typename Call>
void TimeCalls(int64_t count, Call call, Result& result) {
  std::vector<double> calls(static_cast<size_t>(count));
  const long preemptedBefore = Preemptions();
  for (double& ns : calls) {
    const int64_t start = NowNs();
    call();
    ns = static_cast<double>(NowNs() - start);
  }
  ReportCallTimes(calls, Preemptions() - preemptedBefore, result);
}

}  // namespace bench
