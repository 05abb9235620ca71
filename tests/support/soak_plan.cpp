#include "support/soak_plan.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace quillo_test {

namespace fs = std::filesystem;

fs::path DocumentationCorpus() {
  std::vector<fs::path> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/usr/share/doc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("python3.", 0) == 0 && fs::is_directory(entry.path() / "html", ec) &&
        fs::exists(entry.path() / "html" / "index.html", ec))
      found.push_back(entry.path() / "html");
  }
  std::sort(found.begin(), found.end());
  return found.empty() ? fs::path() : found.back();
}

std::vector<std::string> CorpusPages(const fs::path& root) {
  std::vector<std::string> pages;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->path().extension() == ".html") pages.push_back("file://" + it->path().string());
  }
  std::sort(pages.begin(), pages.end());
  return pages;
}

bool EncodeSoakVideo(const fs::path& file) {
  const std::string encode =
      "gst-launch-1.0 -q videotestsrc num-buffers=150 pattern=smpte ! "
      "video/x-raw,width=320,height=240,framerate=30/1 ! vp8enc ! webmmux ! filesink location=" +
      file.string() + " >/dev/null 2>&1";
  return std::system(encode.c_str()) == 0;
}

const char kSoakVideoPage[] =
    "<title>video</title><video autoplay muted loop src='/soak.webm' "
    "style='width:100%'></video>";
const char kSoakCanvasPage[] =
    "<title>canvas</title><canvas id=c width=640 height=480></canvas>"
    "<script>const g = c.getContext('2d'); let n = 0; (function f() {"
    " g.fillStyle = 'hsl(' + (n++ % 360) + ',70%,50%)';"
    " g.fillRect(0, 0, 640, 480); g.fillStyle = '#fff';"
    " g.fillText('frame ' + n, 20 + n % 500, 40);"
    " requestAnimationFrame(f); })();</script>";

SoakPlan::SoakPlan(unsigned seed, size_t corpusPages, bool corpusOnly)
    : m_random(seed), m_pages(corpusPages), m_corpusOnly(corpusOnly) {}

int SoakPlan::Pick(int n) {
  return std::uniform_int_distribution<int>(0, n - 1)(m_random);
}

size_t SoakPlan::FirstPage() {
  return static_cast<size_t>(Pick(static_cast<int>(m_pages)));
}

SoakStep SoakPlan::Next() {
  SoakStep step{SoakStep::kCorpusPage};
  const int kind = Pick(20);
  if (kind < 12) {
    step.page = static_cast<size_t>(Pick(static_cast<int>(m_pages)));
  } else if (kind < 14) {
    step.kind = Pick(2) ? SoakStep::kVideo : SoakStep::kCanvas;
    if (m_corpusOnly) {
      step.kind = SoakStep::kCorpusPage;
      step.page = static_cast<size_t>(Pick(static_cast<int>(m_pages)));
    }
  } else if (kind < 16) {
    step.kind = SoakStep::kReload;
  } else if (kind < 18) {
    step.kind = SoakStep::kBack;
  } else {
    step.kind = SoakStep::kForward;
  }
  step.dwell = std::chrono::milliseconds(300 + Pick(1700));
  return step;
}

Resident& Resident::operator+=(const Resident& other) {
  total += other.total;
  anonymous += other.anonymous;
  file += other.file;
  shared += other.shared;
  return *this;
}

Resident ResidentOf(pid_t pid) {
  Resident resident;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  auto field = [&line](const char* name, long& to) {
    const size_t length = std::char_traits<char>::length(name);
    if (line.compare(0, length, name) == 0) to = std::atol(line.c_str() + length);
  };
  while (std::getline(status, line)) {
    field("VmRSS:", resident.total);
    field("RssAnon:", resident.anonymous);
    field("RssFile:", resident.file);
    field("RssShmem:", resident.shared);
  }
  return resident;
}

Resident ResidentOf(const std::set<pid_t>& pids) {
  Resident sum;
  for (pid_t pid : pids) sum += ResidentOf(pid);
  return sum;
}

namespace {

double Slope(const std::vector<SoakSample>& samples, double (*x)(const SoakSample&),
             double (*y)(const SoakSample&)) {
  if (samples.size() < 2) return 0;
  double meanX = 0, meanY = 0;
  for (const SoakSample& s : samples) meanX += x(s), meanY += y(s);
  meanX /= samples.size(), meanY /= samples.size();
  double num = 0, den = 0;
  for (const SoakSample& s : samples) {
    num += (x(s) - meanX) * (y(s) - meanY);
    den += (x(s) - meanX) * (x(s) - meanX);
  }
  return den > 0 ? num / den : 0;
}

}  // namespace

double SlopePerHour(const std::vector<SoakSample>& samples, double (*value)(const SoakSample&)) {
  return Slope(
      samples, [](const SoakSample& s) { return s.hours; }, value);
}

double SlopePerNavigation(const std::vector<SoakSample>& samples,
                          double (*value)(const SoakSample&)) {
  return Slope(
      samples, [](const SoakSample& s) { return double(s.navigations); }, value);
}

std::string SoakSampleHeader() {
  return "seconds,navigations,host_kib,web_kib,web_anon_kib,web_file_kib,web_shmem_kib,"
         "web_processes,each";
}

std::string SoakSampleLine(const SoakSample& sample, const std::set<pid_t>& webProcesses) {
  char line[256];
  std::snprintf(line, sizeof line, "%.1f,%ld,%ld,%ld,%ld,%ld,%ld,%zu,", sample.hours * 3600,
                sample.navigations, sample.host.total, sample.web.total, sample.web.anonymous,
                sample.web.file, sample.web.shared, sample.webProcesses);
  std::string text = line;
  for (pid_t pid : webProcesses)
    text += std::to_string(pid) + ":" + std::to_string(ResidentOf(pid).total) + " ";
  return text;
}

}  // namespace quillo_test
