// quillo-bench-proctree PID: prints, as one JSON line, the CPU time and memory of process PID
// and all its descendants (see bench::MeasureTree). chromium_driver.mjs uses it so that
// Chromium's tree is measured by the same code as the other two.
#include <cstdio>
#include <cstdlib>

#include "bench_common.h"

int main(int argc, char** argv) {
  char* end = nullptr;
  const long pid = argc == 2 ? std::strtol(argv[1], &end, 10) : 0;
  if (argc != 2 || *end != '\0' || pid <= 0) {
    std::fprintf(stderr, "usage: quillo-bench-proctree PID\n");
    return 2;
  }
  const bench::TreeUsage usage = bench::MeasureTree(static_cast<pid_t>(pid));
  if (usage.processes == 0) {
    std::fprintf(stderr, "no process %ld\n", pid);
    return 1;
  }
  std::printf("{\"cpu_s\":%.6f,\"peak_rss_mib\":%.3f,\"rss_mib\":%.3f,\"processes\":%d}\n",
              usage.cpuSeconds, static_cast<double>(usage.peakRssKiB) / 1024,
              static_cast<double>(usage.rssKiB) / 1024, usage.processes);
  return 0;
}
