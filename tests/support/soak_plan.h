// What a soak does and what it measures, shared by the end-to-end soak (tests/e2e/soak_test.cpp,
// through the library) and the raw engine's soak (tests/soak/raw_soak.cpp, WPE WebKit driven
// directly), so that both walk the same pages in the same order at the same pace and their
// memory figures compare.
//
// Plain functions and values; any thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace quillo_test {

// The newest python3.X documentation folder ("" when none is installed).
std::filesystem::path DocumentationCorpus();
// Every HTML page under root as a file:// URL, sorted.
std::vector<std::string> CorpusPages(const std::filesystem::path& root);

// The video the soak plays: WebM (VP8) of 150 frames of 320x240, encoded with gst-launch-1.0
// into `file`. False when it could not be made.
bool EncodeSoakVideo(const std::filesystem::path& file);
// The pages served beside the video (at /video and /canvas; the video itself at /soak.webm).
extern const char kSoakVideoPage[];
extern const char kSoakCanvasPage[];

// One navigation of the soak and how long the page is read afterwards.
struct SoakStep {
  enum Kind { kCorpusPage, kVideo, kCanvas, kReload, kBack, kForward } kind;
  size_t page = 0;  // kCorpusPage: the index into the corpus
  std::chrono::milliseconds dwell{0};
  // A load that should have shown its title by the end of its dwell.
  bool Loads() const { return kind == kCorpusPage || kind == kVideo || kind == kCanvas; }
};

// The seeded sequence of steps: mostly a documentation page, sometimes the video or the canvas,
// a reload, or a move back or forward; each page read for 0.3 to 2 s. With corpusOnly, a
// documentation page instead of the video or the canvas: every page then comes from one site,
// and the engine keeps one web process for all of them (pages of another site get a process of
// their own), so what that process keeps per navigation adds up.
class SoakPlan {
 public:
  SoakPlan(unsigned seed, size_t corpusPages, bool corpusOnly = false);
  // The first page, loaded before the first step.
  size_t FirstPage();
  SoakStep Next();

 private:
  int Pick(int n);

  std::mt19937 m_random;
  size_t m_pages;
  bool m_corpusOnly;
};

// The resident memory of a set of processes, in KiB: all of it, and its anonymous, file-backed
// and shared-memory parts (from /proc/PID/status).
struct Resident {
  long total = 0;
  long anonymous = 0;
  long file = 0;
  long shared = 0;
  Resident& operator+=(const Resident& other);
};
Resident ResidentOf(pid_t pid);
Resident ResidentOf(const std::set<pid_t>& pids);

// A sample of the soak's memory: when (hours from its start), the navigations so far, the
// host's process and the engine's web processes.
struct SoakSample {
  double hours = 0;
  long navigations = 0;
  Resident host;
  Resident web;
  size_t webProcesses = 0;
};

// Least-squares slope per hour of value(sample) over the samples' hours (0 with fewer than two).
double SlopePerHour(const std::vector<SoakSample>& samples, double (*value)(const SoakSample&));
// Least-squares slope of value(sample) over the navigations, per navigation.
double SlopePerNavigation(const std::vector<SoakSample>& samples,
                          double (*value)(const SoakSample&));

// The columns of SoakSampleLine, once per file.
std::string SoakSampleHeader();
// One sample as a line of comma-separated values (KiB), with the resident memory of each web
// process as pid:KiB at its end.
std::string SoakSampleLine(const SoakSample& sample, const std::set<pid_t>& webProcesses);

}  // namespace quillo_test
