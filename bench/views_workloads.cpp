#include "views_workloads.h"

#include <unistd.h>

#include <algorithm>
#include <vector>

namespace bench {
namespace {

// The script of the eval workload and what it gives on the static page (its box's width).
constexpr const char* kEvalScript = "document.getElementById('box').offsetWidth";
constexpr const char* kEvalExpected = "200";

// The i-th size of the resize storm: around width x height, each side different from the size
// before (7 and 5 are prime to the cycles' lengths 9 and 7).
std::pair<int, int> StormSize(int i, int width, int height) {
  return {std::max(16, width + 16 * ((i * 7) % 9 - 4)),
          std::max(16, height + 12 * ((i * 5) % 7 - 3))};
}

}  // namespace

bool WaitForEveryView(ViewsDriver& views, int64_t deadlineNs) {
  return views.RunUntil(
      [&] {
        for (int v = 0; v < views.count(); ++v)
          if (views.frames(v) == 0) return false;
        return true;
      },
      deadlineNs);
}

void MeasureViewsAnimation(const Args& args, ViewsDriver& views, Result& result) {
  views.RunFor(static_cast<int64_t>(args.warmupSeconds * 1e9));
  const int n = views.count();
  std::vector<int64_t> before(static_cast<size_t>(n));
  for (int v = 0; v < n; ++v) before[static_cast<size_t>(v)] = views.frames(v);
  const double cpuBefore = MeasureTree(getpid()).cpuSeconds;
  const int64_t start = NowNs();
  const int64_t end = start + static_cast<int64_t>(args.windowSeconds * 1e9);
  // The memory of pages that animate goes up and down with their garbage: sampled each
  // kMemorySampleNs of the window (and at its end), the median kept.
  std::vector<double> rss, pss;
  for (int64_t next = start + kMemorySampleNs; next < end; next += kMemorySampleNs) {
    views.RunFor(next - NowNs());
    rss.push_back(static_cast<double>(MeasureTree(getpid()).rssKiB) / 1024);
    pss.push_back(static_cast<double>(MeasureTreePssKiB(getpid())) / 1024);
  }
  views.RunFor(end - NowNs());
  const double seconds = static_cast<double>(NowNs() - start) / 1e9;
  const TreeUsage after = MeasureTree(getpid());
  rss.push_back(static_cast<double>(after.rssKiB) / 1024);
  pss.push_back(static_cast<double>(MeasureTreePssKiB(getpid())) / 1024);
  std::vector<double> fps;
  int64_t frames = 0;
  for (int v = 0; v < n; ++v) {
    const int64_t mine = views.frames(v) - before[static_cast<size_t>(v)];
    frames += mine;
    fps.push_back(static_cast<double>(mine) / seconds);
  }
  result.Integer("views", n);
  result.Number("views_fps", Median(fps));
  result.Number("views_fps_min", *std::min_element(fps.begin(), fps.end()));
  result.Numbers("views_fps_each", fps);
  result.Integer("frames", frames);
  if (frames > 0)
    result.Number("cpu_ms_per_frame",
                  (after.cpuSeconds - cpuBefore) * 1000 / static_cast<double>(frames));
  result.Number("rss_mib", Median(rss));
  result.Number("pss_mib", Median(pss));
  result.Integer("processes", after.processes);
}

void MeasureResizeStorm(const Args& args, ViewsDriver& views, Result& result) {
  views.RunFor(static_cast<int64_t>(args.warmupSeconds * 1e9));
  std::vector<double> latencies;
  int missed = 0;
  const int64_t start = NowNs();
  const int64_t end = start + static_cast<int64_t>(args.windowSeconds * 1e9);
  for (int i = 1; NowNs() < end; ++i) {
    const auto [width, height] = StormSize(i, args.width, args.height);
    const int64_t sent = NowNs();
    views.Resize(0, width, height);
    if (views.RunUntil([&] { return views.framesAtSize(0) > 0; }, sent + kResizeTimeoutNs))
      latencies.push_back(static_cast<double>(NowNs() - sent) / 1e6);
    else
      ++missed;
  }
  const double seconds = static_cast<double>(NowNs() - start) / 1e9;
  result.Number("resizes_per_s", static_cast<double>(latencies.size()) / seconds);
  result.Numbers("resize_ms_samples", latencies);
  result.Integer("resize_missed", missed);
  if (latencies.empty()) {
    result.Missing("resize_median_ms");
    result.Missing("resize_p90_ms");
    return;
  }
  result.Number("resize_median_ms", Median(latencies));
  result.Number("resize_p90_ms", Percentile(latencies, 0.9));
}

void MeasureEval(const Args& args, ViewsDriver& views, Result& result) {
  views.RunFor(kEvalSettleNs);
  std::vector<double> latencies;
  int missed = 0, wrong = 0;
  std::string sample;
  for (int trial = 1; trial <= args.trials; ++trial) {
    const uint64_t id = static_cast<uint64_t>(trial);
    const int64_t sent = NowNs();
    views.Evaluate(0, kEvalScript, id);
    if (views.RunUntil([&] { return views.result(id).has_value(); }, sent + kEvalTimeoutNs)) {
      latencies.push_back(static_cast<double>(NowNs() - sent) / 1e6);
      const std::string value = *views.result(id);
      if (value != kEvalExpected) ++wrong, sample = value;
    } else {
      ++missed;
    }
    views.RunFor(kEvalGapNs);
  }
  result.Numbers("eval_ms_samples", latencies);
  result.Integer("eval_missed", missed);
  result.Integer("eval_wrong", wrong);
  if (wrong) result.Text("eval_note", "a result was " + sample + ", not " + kEvalExpected);
  if (latencies.empty()) {
    result.Missing("eval_median_ms");
    result.Missing("eval_p90_ms");
    return;
  }
  result.Number("eval_median_ms", Median(latencies));
  result.Number("eval_p90_ms", Percentile(latencies, 0.9));
}

bool IsViewsWorkload(const Args& args) {
  return args.workload == Workload::kViews || args.workload == Workload::kResize ||
         args.workload == Workload::kEval;
}

bool MeasureViewsWorkload(const Args& args, ViewsDriver& views, Result& result) {
  if (!WaitForEveryView(views, NowNs() + 2 * kLoadTimeoutNs)) return false;
  switch (args.workload) {
    case Workload::kResize:
      MeasureResizeStorm(args, views, result);
      break;
    case Workload::kEval:
      MeasureEval(args, views, result);
      break;
    default:
      MeasureViewsAnimation(args, views, result);
      break;
  }
  return true;
}

}  // namespace bench
