#include "bench_common.h"

#include <dirent.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace bench {
namespace {

constexpr int kColourTolerance = 6;

void PrintUsage() {
  std::fprintf(
      stderr,
      "usage: PROGRAM first_frame|first_frame_stages|animation|scroll|click|idle|poll|paced\n"
      "               |views|resize|eval\n"
      "       --url URL [--probe X,Y] [--colour RRGGBB] [--colour2 RRGGBB] [--trials N]\n"
      "       [--warmup SECONDS] [--window SECONDS] [--calls N] [--fps N] [--poll-hz N]\n"
      "       [--views N] [--size WxH]\n");
}

template <typename T>
bool ParseNumber(std::string_view text, T* out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseSeconds(std::string_view text, double* out) {
  // from_chars for double is not in every libstdc++ this builds with; strtod is.
  std::string copy(text);
  char* end = nullptr;
  *out = std::strtod(copy.c_str(), &end);
  return end != copy.c_str() && *end == '\0' && std::isfinite(*out) && *out >= 0;
}

void AppendEscaped(std::string& out, std::string_view text) {
  out += '"';
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", c);
      out += code;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

void AppendNumber(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  out += text;
}

// Fields of /proc/PID/stat after the command name, which may itself hold spaces and ')'.
bool ReadStat(pid_t pid, pid_t* parent, uint64_t* ticks) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(file, line)) return false;
  size_t close = line.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream fields(line.substr(close + 2));
  // Field 3 is the state; 4 the parent; 14 to 17 utime, stime, cutime, cstime.
  std::string state;
  long long value = 0;
  fields >> state >> value;
  *parent = static_cast<pid_t>(value);
  for (int field = 5; field <= 13; ++field) fields >> value;
  uint64_t sum = 0;
  for (int field = 14; field <= 17; ++field) {
    fields >> value;
    sum += static_cast<uint64_t>(std::max(value, 0LL));
  }
  *ticks = sum;
  return !fields.fail();
}

// "VmHWM:   1234 kB" -> 1234 for key "VmHWM:"; 0 when absent (a zombie has none).
void ReadMemory(pid_t pid, int64_t* peakKiB, int64_t* nowKiB) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  *peakKiB = *nowKiB = 0;
  while (std::getline(file, line)) {
    if (line.rfind("VmHWM:", 0) == 0) *peakKiB = std::atoll(line.c_str() + 6);
    if (line.rfind("VmRSS:", 0) == 0) *nowKiB = std::atoll(line.c_str() + 6);
  }
}

}  // namespace

int64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

int64_t StartNs() {
  static const int64_t start = [] {
    int64_t given = 0;
    if (const char* text = std::getenv("QUILLO_BENCH_T0_NS"))
      if (ParseNumber(std::string_view(text), &given) && given > 0) return given;
    return NowNs();
  }();
  return start;
}

void SleepNs(int64_t ns) {
  if (ns <= 0) return;
  timespec pause{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
  while (nanosleep(&pause, &pause) != 0) {
  }
}

std::optional<Rgb> ParseRgb(std::string_view hex) {
  if (!hex.empty() && hex.front() == '#') hex.remove_prefix(1);
  unsigned value = 0;
  if (hex.size() != 6) return std::nullopt;
  auto [end, ec] = std::from_chars(hex.data(), hex.data() + 6, value, 16);
  if (ec != std::errc() || end != hex.data() + 6) return std::nullopt;
  return Rgb{static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
             static_cast<uint8_t>(value)};
}

bool PixelIs(const uint8_t* bgra, int width, int height, int x, int y, Rgb want) {
  if (bgra == nullptr || x < 0 || y < 0 || x >= width || y >= height) return false;
  const uint8_t* p = bgra + (static_cast<size_t>(y) * width + x) * 4;
  auto near = [](uint8_t a, uint8_t b) { return std::abs(int{a} - int{b}) <= kColourTolerance; };
  return near(p[0], want.b) && near(p[1], want.g) && near(p[2], want.r);
}

std::optional<Args> StartRun(int argc, char** argv) {
  StartNs();
  AdoptOrphans();
  return ParseArgs(argc, argv);
}

std::optional<Args> ParseArgs(int argc, char** argv) {
  Args args;
  if (argc < 2) {
    PrintUsage();
    return std::nullopt;
  }
  static const std::pair<const char*, Workload> kWorkloads[] = {
      {"first_frame", Workload::kFirstFrame},
      {"animation", Workload::kAnimation},
      {"click", Workload::kClick},
      {"idle", Workload::kIdle},
      {"poll", Workload::kPoll},
      {"scroll", Workload::kScroll},
      {"first_frame_stages", Workload::kFirstFrameStages},
      {"paced", Workload::kPaced},
      {"views", Workload::kViews},
      {"resize", Workload::kResize},
      {"eval", Workload::kEval}};
  args.workloadName = argv[1];
  bool known = false;
  for (const auto& [name, workload] : kWorkloads)
    if (args.workloadName == name) args.workload = workload, known = true;
  if (!known) {
    std::fprintf(stderr, "unknown workload '%s'\n", argv[1]);
    PrintUsage();
    return std::nullopt;
  }
  for (int i = 2; i < argc; i += 2) {
    std::string_view option = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "%s needs a value\n", argv[i]);
      PrintUsage();
      return std::nullopt;
    }
    std::string_view value = argv[i + 1];
    bool ok = true;
    if (option == "--url") {
      args.url = value;
    } else if (option == "--probe") {
      size_t comma = value.find(',');
      ok = comma != std::string_view::npos && ParseNumber(value.substr(0, comma), &args.probeX) &&
           ParseNumber(value.substr(comma + 1), &args.probeY);
    } else if (option == "--colour" || option == "--colour2") {
      std::optional<Rgb> colour = ParseRgb(value);
      ok = colour.has_value();
      if (ok) (option == "--colour" ? args.colour : args.colour2) = *colour;
    } else if (option == "--trials") {
      ok = ParseNumber(value, &args.trials) && args.trials > 0;
    } else if (option == "--warmup") {
      ok = ParseSeconds(value, &args.warmupSeconds);
    } else if (option == "--window") {
      ok = ParseSeconds(value, &args.windowSeconds) && args.windowSeconds > 0;
    } else if (option == "--calls") {
      ok = ParseNumber(value, &args.calls) && args.calls > 0;
    } else if (option == "--fps") {
      ok = ParseNumber(value, &args.fpsCap) && args.fpsCap >= 0;
    } else if (option == "--poll-hz") {
      ok = ParseNumber(value, &args.pollHz) && args.pollHz > 0 && args.pollHz <= 1000;
    } else if (option == "--views") {
      ok = ParseNumber(value, &args.views) && args.views > 0 && args.views <= 64;
    } else if (option == "--size") {
      size_t x = value.find('x');
      ok = x != std::string_view::npos && ParseNumber(value.substr(0, x), &args.width) &&
           ParseNumber(value.substr(x + 1), &args.height) && args.width > 0 && args.height > 0 &&
           args.width <= 4096 && args.height <= 4096;
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "bad option %s %s\n", argv[i], argv[i + 1]);
      PrintUsage();
      return std::nullopt;
    }
  }
  if (args.url.empty()) {
    std::fprintf(stderr, "--url is required\n");
    PrintUsage();
    return std::nullopt;
  }
  return args;
}

namespace {

// One pass over /proc: every process with its parent and its ticks.
std::map<pid_t, std::pair<pid_t, uint64_t>> ListProcesses() {
  std::map<pid_t, std::pair<pid_t, uint64_t>> processes;
  if (DIR* proc = opendir("/proc")) {
    while (dirent* entry = readdir(proc)) {
      pid_t pid = 0;
      if (!ParseNumber(std::string_view(entry->d_name), &pid) || pid <= 0) continue;
      pid_t parent = 0;
      uint64_t ticks = 0;
      if (ReadStat(pid, &parent, &ticks)) processes[pid] = {parent, ticks};
    }
    closedir(proc);
  }
  return processes;
}

// root and its descendants, root first.
std::vector<pid_t> TreeUnder(pid_t root,
                             const std::map<pid_t, std::pair<pid_t, uint64_t>>& processes) {
  std::vector<pid_t> tree{root};
  for (size_t i = 0; i < tree.size(); ++i)
    for (const auto& [pid, info] : processes)
      if (info.first == tree[i] && pid != root) tree.push_back(pid);
  return tree;
}

}  // namespace

TreeUsage MeasureTree(pid_t root) {
  const std::map<pid_t, std::pair<pid_t, uint64_t>> processes = ListProcesses();
  const std::vector<pid_t> tree = TreeUnder(root, processes);
  TreeUsage usage;
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  for (pid_t pid : tree) {
    auto found = processes.find(pid);
    if (found == processes.end()) continue;
    usage.cpuSeconds += static_cast<double>(found->second.second) / tick;
    int64_t peak = 0, now = 0;
    ReadMemory(pid, &peak, &now);
    usage.peakRssKiB += peak;
    usage.rssKiB += now;
    ++usage.processes;
  }
  return usage;
}

int64_t MeasureTreePssKiB(pid_t root) {
  int64_t total = 0;
  for (pid_t pid : TreeUnder(root, ListProcesses())) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    while (std::getline(file, line))
      if (line.rfind("Pss:", 0) == 0) total += std::atoll(line.c_str() + 4);
  }
  return total;
}

void AdoptOrphans() {
  prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
}

long Preemptions() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_nivcsw;
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void FrameWindow::Begin(pid_t root) {
  startTreeCpu = MeasureTree(root).cpuSeconds;
  startNs = NowNs();
}

void FrameWindow::End(pid_t root, int64_t frames, std::string_view prefix, Result& result) const {
  const double seconds = static_cast<double>(NowNs() - startNs) / 1e9;
  const double cpu = MeasureTree(root).cpuSeconds - startTreeCpu;
  const std::string key(prefix);
  result.Number(key + "fps", static_cast<double>(frames) / seconds);
  if (frames > 0) result.Number(key + "cpu_ms_per_frame", cpu * 1000 / static_cast<double>(frames));
}

void ReportCallTimes(const std::vector<double>& callNs, long preempted, Result& result) {
  std::vector<double> clock(std::min<size_t>(callNs.size(), 100'000));
  for (double& ns : clock) {
    const int64_t start = NowNs();
    ns = static_cast<double>(NowNs() - start);
  }
  double longest = 0;
  int64_t slow = 0;
  for (double ns : callNs) {
    longest = std::max(longest, ns);
    if (ns > 100'000) ++slow;
  }
  result.Number("poll_median_ns", Median(callNs));
  result.Number("poll_p99_ns", Percentile(callNs, 0.99));
  result.Number("poll_max_us", longest / 1e3);
  result.Integer("poll_over_100us", slow);
  result.Integer("poll_preempted", preempted);
  result.Number("clock_median_ns", Median(clock));
}

double Median(std::vector<double> values) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size())));
  return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

Result::Result(std::string system, std::string workload) {
  m_json = "{\"system\":";
  AppendEscaped(m_json, system);
  m_json += ",\"workload\":";
  AppendEscaped(m_json, workload);
}

void Result::Key(std::string_view name) {
  m_json += ',';
  AppendEscaped(m_json, name);
  m_json += ':';
}

void Result::Number(std::string_view name, double value) {
  Key(name);
  AppendNumber(m_json, value);
}

void Result::Integer(std::string_view name, int64_t value) {
  Key(name);
  m_json += std::to_string(value);
}

void Result::Missing(std::string_view name) {
  Key(name);
  m_json += "null";
}

void Result::Text(std::string_view name, std::string_view value) {
  Key(name);
  AppendEscaped(m_json, value);
}

void Result::Numbers(std::string_view name, const std::vector<double>& values) {
  Key(name);
  m_json += '[';
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) m_json += ',';
    AppendNumber(m_json, values[i]);
  }
  m_json += ']';
}

void Result::Error(std::string_view why) {
  m_ok = false;
  Text("error", why);
}

void Result::Print() const {
  std::string line = "BENCH_RESULT " + m_json + ",\"ok\":" + (m_ok ? "true" : "false") + "}\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

int Fail(Result& result, std::string_view why) {
  std::fprintf(stderr, "bench: %.*s\n", static_cast<int>(why.size()), why.data());
  result.Error(why);
  result.Print();
  return 1;
}

}  // namespace bench
