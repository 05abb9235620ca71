#include "workloads.h"

#include <unistd.h>

namespace bench {

void MeasureAnimation(const Args& args, PageDriver& page, Result& result) {
  page.RunFor(static_cast<int64_t>(args.warmupSeconds * 1e9));
  const int64_t framesBefore = page.frames();
  FrameWindow window;
  window.Begin(getpid());
  page.RunFor(static_cast<int64_t>(args.windowSeconds * 1e9));
  window.End(getpid(), page.frames() - framesBefore, "", result);
  result.Integer("frames", page.frames());
  if (const std::optional<uint64_t> bytes = page.bytesCopied()) {
    result.Integer("copied_kib", static_cast<int64_t>(*bytes / 1024));
    result.Number("copy_kib_per_frame", static_cast<double>(*bytes) / 1024 / page.frames());
  }
}

void MeasurePaced(const Args& args, PageDriver& page, Result& result) {
  const int64_t interval = 1'000'000'000 / args.pollHz;
  page.PollEvery(static_cast<int64_t>(args.warmupSeconds * 1e9), interval);
  const int64_t framesBefore = page.frames();
  FrameWindow window;
  window.Begin(getpid());
  page.PollEvery(static_cast<int64_t>(args.windowSeconds * 1e9), interval);
  window.End(getpid(), page.frames() - framesBefore, "paced_", result);
  result.Integer("poll_hz", args.pollHz);
}

void MeasureScroll(const Args& args, PageDriver& page, Result& result) {
  page.Move(args.probeX, args.probeY);
  page.RunFor(kClickSettleNs);
  const int64_t framesBefore = page.frames();
  const std::optional<uint64_t> bytesBefore = page.bytesCopied();
  FrameWindow window;
  window.Begin(getpid());
  const int64_t end = NowNs() + static_cast<int64_t>(args.windowSeconds * 1e9);
  for (int64_t next = NowNs(); next < end; next += kWheelIntervalNs) {
    page.Wheel(args.probeX, args.probeY);
    page.RunFor(next + kWheelIntervalNs - NowNs());
  }
  const int64_t frames = page.frames() - framesBefore;
  window.End(getpid(), frames, "scroll_", result);
  result.Integer("frames", page.frames());
  if (page.Shows(args.colour)) result.Text("scroll_note", "the page did not scroll");
  if (bytesBefore && frames > 0)
    result.Number("scroll_copy_kib_per_frame",
                  static_cast<double>(*page.bytesCopied() - *bytesBefore) / 1024 / frames);
}

std::vector<double> MeasureClicks(const Args& args, PageDriver& page, Result& result) {
  page.Move(args.probeX, args.probeY);
  page.RunFor(kClickSettleNs);
  std::vector<double> latencies;
  std::vector<int64_t> sents;  // of the clicks seen
  int missed = 0;
  for (int trial = 0; trial < args.trials; ++trial) {
    // Each mousedown swaps the page between its two colours: expect the one not showing now.
    const Rgb want = page.Shows(args.colour) ? args.colour2 : args.colour;
    const int64_t sent = NowNs();
    page.Click(args.probeX, args.probeY);
    if (page.WaitForColour(want, sent + kClickTimeoutNs)) {
      const int64_t seen = NowNs();
      latencies.push_back(static_cast<double>(seen - sent) / 1e6);
      sents.push_back(sent);
      page.NoteClickStages(sent, seen);
    } else {
      ++missed;
    }
    page.RunFor(kClickGapNs);
  }
  result.Numbers("click_ms_samples", latencies);
  result.Integer("click_missed", missed);
  ReportClickStages(page.ClickStagesNoted(), sents, result);
  return latencies;
}

void ReportClickStages(const std::vector<PageDriver::ClickStages>& stages,
                       const std::vector<int64_t>& sents, Result& result) {
  struct Field {
    const char* key;
    int64_t PageDriver::ClickStages::*time;
  };
  const Field fields[] = {
      {"click_stage_taken_ms", &PageDriver::ClickStages::inputTaken},
      {"click_stage_dispatched_ms", &PageDriver::ClickStages::inputDispatched},
      {"click_stage_exported_ms", &PageDriver::ClickStages::frameExported},
      {"click_stage_published_ms", &PageDriver::ClickStages::framePublished},
      {"click_stage_delivered_ms", &PageDriver::ClickStages::frameDelivered},
  };
  for (const Field& field : fields) {
    std::vector<double> since;  // ms from the click's sending to the stage
    for (size_t i = 0; i < stages.size() && i < sents.size(); ++i)
      if (const int64_t at = stages[i].*field.time; at != 0)
        since.push_back(static_cast<double>(at - sents[i]) / 1e6);
    if (!since.empty()) result.Number(field.key, Median(since));
  }
}

void ReportClickFigures(const std::vector<double>& latencies, Result& result) {
  if (latencies.empty()) {
    result.Missing("click_median_ms");
    result.Missing("click_p90_ms");
  } else {
    result.Number("click_median_ms", Median(latencies));
    result.Number("click_p90_ms", Percentile(latencies, 0.9));
  }
}

void MeasureIdle(const Args& args, PageDriver& page, Result& result) {
  page.PollEachFrame(kIdleSettleNs);
  const TreeUsage before = MeasureTree(getpid());
  const double hostBefore = ProcessCpuSeconds();
  const int64_t start = NowNs();
  page.PollEachFrame(static_cast<int64_t>(args.windowSeconds * 1e9));
  const double seconds = static_cast<double>(NowNs() - start) / 1e9;
  const double hostAfter = ProcessCpuSeconds();
  const TreeUsage after = MeasureTree(getpid());
  result.Number("idle_cpu_s",
                (after.cpuSeconds - before.cpuSeconds) * args.windowSeconds / seconds);
  result.Number("host_idle_cpu_s", (hostAfter - hostBefore) * args.windowSeconds / seconds);
  result.Number("peak_rss_mib", static_cast<double>(after.peakRssKiB) / 1024);
  result.Number("rss_mib", static_cast<double>(after.rssKiB) / 1024);
  result.Integer("processes", after.processes);
}

}  // namespace bench
