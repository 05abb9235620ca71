// The workloads quillo-bench-host and quillo-bench-raw measure alike, written once against
// PageDriver: each program drives its page its own way (quillo through the eight exports, the
// raw engine through WPE WebKit directly) and the measuring around it is the same.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bench_common.h"

namespace bench {

// How long the pointer rests on the page before the first click or wheel notch.
constexpr int64_t kClickSettleNs = 300'000'000;
// The pause after each click.
constexpr int64_t kClickGapNs = 150'000'000;
// How long an idle page runs before its CPU time is measured.
constexpr int64_t kIdleSettleNs = 1'000'000'000;
// How long a page runs before single poll calls are timed.
constexpr int64_t kPollWarmupNs = 500'000'000;

// One page shown in the program's own host memory (Args' size), as a workload sees it. Every
// call runs on the program's main thread.
class PageDriver {
 public:
  virtual ~PageDriver() = default;

  // Runs the page until a new frame shows colour at the probe, or the deadline passes.
  virtual bool WaitForColour(Rgb colour, int64_t deadlineNs) = 0;
  bool WaitForColour(Rgb colour) { return WaitForColour(colour, NowNs() + kLoadTimeoutNs); }
  // True when host memory shows colour at the probe now.
  virtual bool Shows(Rgb colour) const = 0;
  // Keeps the page running for ns, as the program does while it waits for something.
  virtual void RunFor(int64_t ns) = 0;
  // Keeps the page running for ns the way a host's frame loop does: one poll every
  // intervalNs, asleep in between.
  virtual void PollEvery(int64_t ns, int64_t intervalNs) = 0;
  void PollEachFrame(int64_t ns) { PollEvery(ns, kFramePollNs); }

  virtual void Move(int x, int y) = 0;
  // A left-button press and release.
  virtual void Click(int x, int y) = 0;
  // One wheel notch of kWheelDelta at (x, y) (quillo's wheel goes where the pointer was moved).
  virtual void Wheel(int x, int y) = 0;

  // Frames delivered into host memory so far.
  virtual int64_t frames() const = 0;
  // Bytes copied into host memory so far, where the program counts them as it goes.
  virtual std::optional<uint64_t> bytesCopied() const { return std::nullopt; }
  // Why the page did not show, for a failed run's result.
  virtual std::string WhyNotShown() const = 0;

  // The stages of the click road the program can see, as monotonic times: for the click sent
  // at sentNs whose colour the program saw at seenNs. Called right after each click is seen
  // (a stage not seen stays 0).
  struct ClickStages {
    int64_t inputTaken = 0;       // a thread of the program's took the input
    int64_t inputDispatched = 0;  // handed to the engine
    int64_t frameExported = 0;    // the frame that showed it came from the web process
    int64_t framePublished = 0;   // ready for the host (quillo) / copied into its memory (raw)
    int64_t frameDelivered = 0;   // in the host's memory, with its notice
  };
  virtual void NoteClickStages(int64_t sentNs, int64_t seenNs) { (void)sentNs, (void)seenNs; }
  // All the clicks' stages, in the order noted (after the last click).
  virtual std::vector<ClickStages> ClickStagesNoted() { return {}; }
};

// Each measures a page that has shown its first frame (Animation) or its colour (the others).

// Frames per second and CPU per frame after the warm-up: fps, cpu_ms_per_frame, frames, and
// copied_kib and copy_kib_per_frame where the driver counts its copies.
void MeasureAnimation(const Args& args, PageDriver& page, Result& result);
// A wheel notch every kWheelIntervalNs for the window: scroll_fps, scroll_cpu_ms_per_frame,
// frames, scroll_note when the page did not move, and scroll_copy_kib_per_frame where the
// driver counts its copies.
void MeasureScroll(const Args& args, PageDriver& page, Result& result);
// args.trials clicks, each expected to swap the page between colour and colour2:
// click_ms_samples, click_missed. ReportClickFigures adds the median and 90th percentile.
// Returns the latencies. With the stages the driver noted: click_stage_<stage>_ms, the median
// time from a click's sending to each stage.
std::vector<double> MeasureClicks(const Args& args, PageDriver& page, Result& result);
void ReportClickStages(const std::vector<PageDriver::ClickStages>& stages,
                       const std::vector<int64_t>& sents, Result& result);
void ReportClickFigures(const std::vector<double>& latencies, Result& result);
// A host whose frame loop polls args.pollHz times a second on the animation: paced_fps (frames
// delivered per second) and paced_cpu_ms_per_frame over the window, after the warm-up.
void MeasurePaced(const Args& args, PageDriver& page, Result& result);
// CPU of the whole process tree and of this process alone over the window, polled at the frame
// rate: idle_cpu_s, host_idle_cpu_s, peak_rss_mib, rss_mib, processes.
void MeasureIdle(const Args& args, PageDriver& page, Result& result);

}  // namespace bench
