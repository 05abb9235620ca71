// Host life cycles that end or split the process: the library unloaded after the final
// UnloadWeb, a fork after the page is up, an exit without UnloadWeb(1), a second process that
// loads the library from the same folder, and every way of ending a process while a page is
// busy, with the host's memory given back first. Each runs in a host program of its own
// (tests/host/lifecycle_host.cpp), which must exit 0.
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/e2e_fixture.h"
#include "support/host_process.h"

namespace quillo_test {
namespace {

class Lifecycle : public E2ETest {};

TEST_F(Lifecycle, DlcloseAfterTheFinalUnloadIsHarmless) {
  EXPECT_EQ(DescribeStatus(RunHost(lib(), {{"dlclose"}})), "exit 0");
}

TEST_F(Lifecycle, AForkedChildExitsCleanlyAndTheParentGoesOn) {
#if defined(__SANITIZE_ADDRESS__)
  // This compiler's AddressSanitizer runtime takes no locks around fork: a child forked while
  // an engine thread was inside the sanitizer's allocator can block in its first allocation.
  // The uninstrumented run of the suite covers the case.
  GTEST_SKIP() << "fork of a threaded process under AddressSanitizer";
#endif
  EXPECT_EQ(DescribeStatus(RunHost(lib(), {{"fork"}})), "exit 0");
}

TEST_F(Lifecycle, ExitWithoutTheFinalUnloadIsClean) {
  EXPECT_EQ(DescribeStatus(RunHost(lib(), {{"no-unload"}})), "exit 0");
}

// This process keeps the log file; a second one from the same folder logs to standard error.
TEST_F(Lifecycle, ASecondProcessLeavesTheFirstOnesLogAlone) {
  lib().SetDebugEnable(true);
  PixelBuffer& buffer = NewBuffer(64, 48);
  Load(buffer, kHtmlSource + "<title>first process</title>");
  ASSERT_TRUE(host().WaitForTitle("first process"));
  const auto before = LogLines();
  ASSERT_FALSE(before.empty());
  EXPECT_EQ(DescribeStatus(RunHost(lib(), {{"show", "second process"}})), "exit 0");
  // Still ours: nothing wiped, nothing of the other process in it, and our lines go on.
  const auto after = LogLines();
  ASSERT_GE(after.size(), before.size());
  EXPECT_EQ(std::vector<std::string>(after.begin(), after.begin() + before.size()), before);
  EXPECT_EQ(CountLinesContaining(after, "second process"), 0u);
  Load(buffer, kHtmlSource + "<title>first again</title>");
  ASSERT_TRUE(host().WaitForTitle("first again"));
  EXPECT_GE(CountLinesContaining(LogLines(), "first again"), 1u);
}

// ---- exit roads --------------------------------------------------------------------------

long EnvOr(const char* name, long fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atol(value) : fallback;
}

// Serves a short looping video and a page that plays it and says "playing" in its title once
// its time has moved (the web process may not read the test's files, so they come over HTTP);
// returns the page's URL, "" when the video could not be encoded.
std::string ServeVideoPage(const LibraryCopy& lib, HttpServer& http) {
  const std::filesystem::path video = lib.directory() / "road.webm";
  const std::string command =
      "gst-launch-1.0 -q videotestsrc num-buffers=90 pattern=ball ! "
      "video/x-raw,width=320,height=240,framerate=30/1 ! vp8enc ! webmmux ! filesink location=" +
      video.string() + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return "";
  std::ifstream in(video, std::ios::binary);
  http.Serve(
      "/road.webm",
      {200, {{"Content-Type", "video/webm"}}, std::string(std::istreambuf_iterator<char>(in), {})});
  http.Serve("/road.html",
             HtmlResponse("<body style='margin:0'><video autoplay muted loop src='/road.webm' "
                          "style='width:320px;height:240px'></video><script>"
                          "const v = document.querySelector('video');"
                          "v.addEventListener('timeupdate', () => {"
                          " if (v.currentTime > 0.2) document.title = 'playing'; });</script>"));
  return http.Url("/road.html");
}

// (UnloadWeb before the end: none, close, shutdown; the end: return, exit, thread-exit)
class ExitRoads : public Lifecycle,
                  public ::testing::WithParamInterface<std::tuple<std::string, std::string>> {};

// The host gives its memory back after its last poll, while the page animates, plays a video
// or holds a dialog open, then ends its process one way or another (on another thread also
// while its own thread goes on calling the library). Nothing may be written into
// the memory once it is gone (it faults), and the end must be clean: exit status 0, no signal.
// QUILLO_EXIT_ROAD_RUNS and QUILLO_EXIT_ROAD_SEED give longer runs and other seeds.
TEST_P(ExitRoads, NothingIsWrittenAfterTheMemoryIsGoneAndTheEndIsClean) {
  const auto& [unload, exitWay] = GetParam();
  const std::string video = ServeVideoPage(lib(), server());
  ASSERT_FALSE(video.empty()) << "gst-launch-1.0 could not encode WebM (./run installs it)";
  const long runs = EnvOr("QUILLO_EXIT_ROAD_RUNS", 6);
  const long seedBase = EnvOr("QUILLO_EXIT_ROAD_SEED", 1) * 100000 +
                        static_cast<long>(std::hash<std::string>{}(unload + exitWay) % 1000) * 100;
  const char* const pages[] = {"animate", "video", "dialog"};
  const char* const memories[] = {"heap", "mapped"};
  int crashes = 0, failures = 0;
  std::string report;
  for (long i = 0; i < runs; ++i) {
    const std::string page = pages[i % 3], memory = memories[(i / 3) % 2];
    const std::string seed = std::to_string(seedBase + i);
    const int status = RunHost(lib(), {{"exit-road", memory, unload, exitWay, page, seed, video}});
    if (status == 0) continue;
    (WIFSIGNALED(status) ? crashes : failures) += 1;
    report += "  " + page + " page, " + memory + " memory, seed " + seed + ": " +
              DescribeStatus(status) + "\n";
  }
  std::printf("exit roads: %s then %s: %ld runs, %d crashes, %d other failures\n%s", unload.c_str(),
              exitWay.c_str(), runs, crashes, failures, report.c_str());
  EXPECT_EQ(crashes, 0) << report;
  EXPECT_EQ(failures, 0) << report;
}

INSTANTIATE_TEST_SUITE_P(Roads, ExitRoads,
                         ::testing::Combine(::testing::Values("none", "close", "shutdown"),
                                            ::testing::Values("return", "exit", "thread-exit",
                                                              "thread-exit-busy")),
                         [](const auto& info) {
                           std::string name =
                               std::get<0>(info.param) + "_" + std::get<1>(info.param);
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

}  // namespace
}  // namespace quillo_test
