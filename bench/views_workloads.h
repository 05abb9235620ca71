// The views' workloads, measured alike by quillo-bench-views (quillo/views.h) and
// quillo-bench-raw-views (WPE WebKit driven directly, several web views sharing one web
// context): written once against ViewsDriver, which each program implements its own way.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "bench_common.h"

namespace bench {

// Give up on one resize whose frame at the new size has not come by then.
constexpr int64_t kResizeTimeoutNs = 3'000'000'000;
// Give up on one script whose result has not come by then.
constexpr int64_t kEvalTimeoutNs = 3'000'000'000;
// The pause between two scripts, so that each runs on a page that has gone still again.
constexpr int64_t kEvalGapNs = 20'000'000;
// How long the still page rests before the first script.
constexpr int64_t kEvalSettleNs = 500'000'000;
// How often the animation's memory is sampled in its window.
constexpr int64_t kMemorySampleNs = 1'000'000'000;

// Several views, each showing a page in host memory of its own, as a workload sees them. Every
// call runs on the program's main thread.
class ViewsDriver {
 public:
  virtual ~ViewsDriver() = default;

  virtual int count() const = 0;
  // Keeps every view running until done() holds after a poll (quillo) or a main-loop iteration
  // (raw), or the deadline passes; true when done() held.
  virtual bool RunUntil(const std::function<bool()>& done, int64_t deadlineNs) = 0;
  void RunFor(int64_t ns) {
    RunUntil([] { return false; }, NowNs() + ns);
  }

  // Frames delivered into view's memory so far.
  virtual int64_t frames(int view) const = 0;
  // Hands view new memory of width x height.
  virtual void Resize(int view, int width, int height) = 0;
  // Frames of view delivered at its current size since its last Resize.
  virtual int64_t framesAtSize(int view) const = 0;
  // Runs script in view's page; its result, as JSON text, is result(id) once it came.
  virtual void Evaluate(int view, const std::string& script, uint64_t id) = 0;
  // The result of Evaluate's id: the value as JSON text, "!" and the message for an exception;
  // nothing while it has not come.
  virtual std::optional<std::string> result(uint64_t id) const = 0;
  // Why the views did not show or run, for a failed run's result.
  virtual std::string WhyNot() const = 0;
};

// Waits until every view has shown a frame; false (the run failed) when one has not by the
// deadline.
bool WaitForEveryView(ViewsDriver& views, int64_t deadlineNs);

// Every view animating (args.views of them) after the warm-up, over the window: views_fps (the
// median over the views of each view's frames per second), views_fps_min, cpu_ms_per_frame (the
// process tree's CPU over the window divided by the frames of all views), rss_mib and pss_mib
// (the tree's memory, the median of samples each second of the window and at its end),
// processes.
void MeasureViewsAnimation(const Args& args, ViewsDriver& views, Result& result);
// View 0 resized again as soon as each frame at its new size has come, for the window, through
// a cycle of sizes around args' size: resizes_per_s, resize_median_ms and resize_p90_ms (from
// the resize call to the first frame at the new size in host memory), resize_missed.
void MeasureResizeStorm(const Args& args, ViewsDriver& views, Result& result);
// args.trials scripts on a still page, one at a time: eval_median_ms and eval_p90_ms (from the
// call to its result in the host), eval_missed, eval_wrong (results other than expected).
void MeasureEval(const Args& args, ViewsDriver& views, Result& result);

// Whether args name one of the workloads above (views, resize, eval).
bool IsViewsWorkload(const Args& args);
// Waits until every view has shown a frame, then measures the workload args name into result;
// false (the run failed: views.WhyNot() says why) when a view did not show in time.
bool MeasureViewsWorkload(const Args& args, ViewsDriver& views, Result& result);

}  // namespace bench
