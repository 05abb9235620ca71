// Staying up under abuse: a web process that dies, many close-and-reopen
// cycles, bursts of input while a page loads, and fast polling alongside.
// Counts can be raised for soak runs (QUILLO_SOAK_CYCLES, QUILLO_SOAK_EVENTS,
// QUILLO_SOAK_POLL_SECONDS); the defaults keep the suite quick.
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "support/e2e_fixture.h"
#include "support/processes.h"
#include "support/threads.h"
#include "support/waits.h"

namespace quillo_test {
namespace {

long EnvOr(const char* name, long fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atol(value) : fallback;
}

// Open descriptors, without the files under /proc and /sys that the engine's
// memory-pressure monitor opens once, some time after start.
size_t OpenFileDescriptors() {
  size_t n = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
    if (target.rfind("/proc/", 0) == 0 || target.rfind("/sys/", 0) == 0) continue;
    ++n;
  }
  return n;
}

long ResidentKiB() {
  return quillo_test::ResidentKiB(getpid());
}

class Reliability : public E2ETest {};

TEST_F(Reliability, AKilledWebProcessIsReportedAndTheNextLoadShowsAPage) {
  PixelBuffer& buffer = NewBuffer(80, 60);
  Load(buffer, kHtmlSource + "<title>alive</title><body style='background:rgb(0,255,0)'>");
  ASSERT_TRUE(host().WaitForTitle("alive"));
  ASSERT_TRUE(
      host().PollUntil([] { return !Children("WPEWebProcess").empty(); }, "the web process"));
  const size_t from = host().notices().size();
  for (pid_t pid : Children("WPEWebProcess")) kill(pid, SIGKILL);

  // The host hears of it as a failed load, and the host's process is fine.
  ASSERT_TRUE(host().PollUntil(
      [&] {
        for (size_t i = from; i < host().notices().size(); ++i)
          if (host().notices()[i].bits == UPDATE_LOAD_ERROR) return true;
        return false;
      },
      "a load error after the web process died"));
  for (size_t i = from; i < host().notices().size(); ++i) {
    if (host().notices()[i].bits != UPDATE_LOAD_ERROR) continue;
    EXPECT_EQ(host().notices()[i].value, -2);
    EXPECT_EQ(host().notices()[i].text, "net::ERR_FAILED");
    break;
  }
  // A new load brings a page back in a new web process.
  Load(buffer, kHtmlSource + "<title>back</title><body style='background:rgb(0,0,255)'>");
  ASSERT_TRUE(host().WaitForTitle("back"));
  EXPECT_TRUE(WaitForView(buffer, 0, {{40, 30, {0, 0, 255}}}, "the page after the crash"));
  // And the home move works as well.
  lib().GoBackForwardHome(0);
  EXPECT_TRUE(host().WaitForTitle("alive", from));
}

// The web process may keep 2 GiB: a page that allocates without end has its process ended,
// which the host hears as -2, and the next load shows a page in a fresh process.
TEST_F(Reliability, APageThatAllocatesWithoutEndIsEndedAndTheNextLoadWorks) {
  PixelBuffer& buffer = NewBuffer(80, 60);
  // 64 MiB every 10 ms, each page of it touched, held for good.
  Load(buffer, kHtmlSource +
                   "<title>hoarding</title><script>const hoard = []; setInterval(() => {"
                   " const a = new Uint8Array(64 << 20);"
                   " for (let i = 0; i < a.length; i += 4096) a[i] = 1; hoard.push(a);"
                   "}, 10);</script>");
  ASSERT_TRUE(host().WaitForTitle("hoarding"));
  long peakKiB = 0;
  ASSERT_TRUE(host().PollUntil(
      [&] {
        for (pid_t pid : Children("WPEWebProcess"))
          peakKiB = std::max(peakKiB, quillo_test::ResidentKiB(pid));
        return !NoticeIndices(host(), UPDATE_LOAD_ERROR).empty();
      },
      "the end of the web process that allocates without end", std::chrono::seconds(120)));
  const Notice& error = host().notices()[NoticeIndices(host(), UPDATE_LOAD_ERROR).front()];
  EXPECT_EQ(error.value, -2);
  EXPECT_EQ(error.text, "net::ERR_FAILED");
  std::printf("memory limit: the web process was ended, the most seen was %ld MiB\n",
              peakKiB / 1024);
  EXPECT_GE(peakKiB / 1024, 1024) << "ended before it came near its limit";
  const size_t from = host().notices().size();
  Load(buffer, kHtmlSource + "<title>after</title><body style='background:rgb(0,0,255)'>");
  ASSERT_TRUE(host().WaitForTitle("after", from));
  EXPECT_TRUE(WaitForView(buffer, 0, {{40, 30, {0, 0, 255}}}, "the page after the end"));
  EXPECT_EQ(NoticeIndices(host(), UPDATE_LOAD_ERROR).size(), 1u) << host().Recent();
}

// A host's own limit, from the environment before its first LoadWeb: a page that holds
// 768 MiB, well inside the default, is ended under a limit of 512 MiB.
TEST_F(Reliability, AHostsOwnMemoryLimitEndsAPageThatHoldsMoreThanIt) {
  ASSERT_EQ(setenv("QUILLO_WEB_PROCESS_MEMORY_MB", "512", 1), 0);
  PixelBuffer& buffer = NewBuffer(80, 60);
  Load(buffer, kHtmlSource +
                   "<title>filling</title><script>const hoard = []; const t = setInterval(() => {"
                   " const a = new Uint8Array(64 << 20);"
                   " for (let i = 0; i < a.length; i += 4096) a[i] = 1; hoard.push(a);"
                   " if (hoard.length === 12) { clearInterval(t); document.title = 'holding'; }"
                   "}, 10);</script>");
  const bool ended = host().PollUntil(
      [&] { return !NoticeIndices(host(), UPDATE_LOAD_ERROR).empty(); },
      "the end of the web process that holds more than its limit", std::chrono::seconds(120));
  unsetenv("QUILLO_WEB_PROCESS_MEMORY_MB");
  ASSERT_TRUE(ended);
  EXPECT_EQ(host().notices()[NoticeIndices(host(), UPDATE_LOAD_ERROR).front()].value, -2);
  const size_t from = host().notices().size();
  Load(buffer, kHtmlSource + "<title>after</title><body style='background:rgb(0,0,255)'>");
  ASSERT_TRUE(host().WaitForTitle("after", from));
  EXPECT_TRUE(WaitForView(buffer, 0, {{40, 30, {0, 0, 255}}}, "the page after the end"));
}

TEST_F(Reliability, CloseAndReopenCyclesLeakNothing) {
  lib().SetDebugEnable(true);  // the close is observed through the log
  const long cycles = EnvOr("QUILLO_SOAK_CYCLES", 20);
  PixelBuffer& buffer = NewBuffer(64, 48);
  size_t fdsAtTen = 0, threadsAtTen = 0;
  long residentAtTen = 0;
  for (long cycle = 1; cycle <= cycles; ++cycle) {
    const std::string title = "cycle " + std::to_string(cycle);
    const int shade = static_cast<int>(cycle % 200) + 20;
    Load(buffer, kHtmlSource + "<title>" + title + "</title><body style='background:rgb(" +
                     std::to_string(shade) + ",0,0)'>");
    ASSERT_TRUE(host().WaitForTitle(title)) << "cycle " << cycle;
    ASSERT_TRUE(WaitForView(buffer, 0, {{32, 24, {shade, 0, 0}}}, title));
    ASSERT_TRUE(CloseBrowser()) << "cycle " << cycle;
    if (cycle == std::min<long>(10, cycles)) {
      fdsAtTen = OpenFileDescriptors();
      threadsAtTen = ThreadIds().size();
      residentAtTen = ResidentKiB();
    }
  }
  std::printf(
      "soak: cycles %ld; descriptors %zu at cycle 10, %zu at the end; threads %zu, %zu; "
      "resident memory %ld KiB, %ld KiB\n",
      cycles, fdsAtTen, OpenFileDescriptors(), threadsAtTen, ThreadIds().size(), residentAtTen,
      ResidentKiB());
  // Some slack for the engine's own lazily started helpers.
  EXPECT_LE(OpenFileDescriptors(), fdsAtTen + 4);
  EXPECT_LE(ThreadIds().size(), threadsAtTen + 2);
  if (cycles >= 100) {
    EXPECT_LE(ResidentKiB(), residentAtTen + residentAtTen / 10);
  }
}

TEST_F(Reliability, InputBurstWhileLoadingRunsEveryEventOnce) {
  const long events = EnvOr("QUILLO_SOAK_EVENTS", 20000);
  PixelBuffer& buffer = NewBuffer(200, 100);
  // The page counts key presses it receives in its field.
  Load(buffer, kHtmlSource +
                   "<title>start</title><input id=f autofocus style='width:190px'>"
                   "<script>f.addEventListener('input', () => {"
                   "  const v = f.value, want = [...v].map((c, i) => "
                   "    String.fromCharCode(97 + i % 26)).join('');"
                   "  document.title = (v === want ? 'n' : 'wrong') + v.length; });</script>");
  // Pointer moves while the page loads: the host thread only waits while the
  // table is full, and the engine keeps up when polled alongside.
  std::atomic<bool> done{false};
  std::thread poller([&] {
    while (!done.load()) {
      void* text;
      int value;
      lib().UpdateWeb(&text, &value);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  auto longest = std::chrono::steady_clock::duration::zero();
  for (long i = 0; i < events; ++i) {
    const auto before = std::chrono::steady_clock::now();
    lib().InputWeb(INPUT_MOUSE | INPUT_MOUSE_MOVE, static_cast<int>(i % 200),
                   static_cast<int>(i % 100));
    longest = std::max(longest, std::chrono::steady_clock::now() - before);
  }
  done.store(true);
  // A figure for soak runs, not an assertion: the host waits only while the table is full.
  std::printf("soak: %ld input events; longest host-thread block %.3f ms\n", events,
              std::chrono::duration<double, std::milli>(longest).count());
  poller.join();
  // The poller took the early notices; ask the page for a fresh one.
  lib().ExecuteJavaScript("document.title = 'ready'");
  ASSERT_TRUE(host().WaitForTitle("ready"));
  lib().InputWeb(INPUT_KEY | INPUT_FOCUS_IN, 0, 0);
  // Then exactly 300 characters, a to z over and over, in one burst: none lost, none typed
  // twice, none out of order (the page names any value that is not the alphabet's prefix).
  for (int i = 0; i < 300; ++i) {
    const int letter = 'a' + i % 26;
    lib().InputWeb(INPUT_KEY | INPUT_KEY_DOWN, letter - 'a' + 'A', letter);
    lib().InputWeb(INPUT_KEY | INPUT_KEY_CHAR, letter, letter);
    lib().InputWeb(INPUT_KEY | INPUT_KEY_UP, letter - 'a' + 'A', letter);
  }
  ASSERT_TRUE(host().PollUntil(
      [&] {
        const std::vector<std::string> titles = host().Texts(UPDATE_TITLE);
        return !titles.empty() && (titles.back() == "n300" || titles.back().rfind("wrong", 0) == 0);
      },
      "the 300th character"));
  const size_t after = host().calls();
  ASSERT_TRUE(host().PollUntil([&] { return host().calls() > after + 300; }, "300 more polls"));
  for (const std::string& title : host().Texts(UPDATE_TITLE)) {
    EXPECT_NE(title, "n301") << "a character was typed twice";
    EXPECT_NE(title.rfind("wrong", 0), 0u) << title << ": characters out of order or lost";
  }
}

TEST_F(Reliability, FastPollingNeverSeesATornOrStaleText) {
  const long seconds = EnvOr("QUILLO_SOAK_POLL_SECONDS", 3);
  PixelBuffer& buffer = NewBuffer(64, 48);
  // Titles count up as fast as the page can; each must arrive whole, and in order.
  Load(buffer, kHtmlSource +
                   "<title>t0</title><script>let n = 0; setInterval(() => { for (let i = 0; i < 5; "
                   "i++) document.title = 't' + (++n) + '-' + 'x'.repeat(n % 300); }, 1);"
                   "</script>");
  ASSERT_TRUE(host().WaitUntilReady());
  // Polls for the given time, and on a loaded machine on until the page has produced a few
  // titles (its timer may be starved for a while); the cap only keeps a hung page from hanging
  // the test.
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::seconds(seconds);
  const auto cap = start + std::chrono::seconds(seconds + 60);
  long last = -1;
  long seen = 0;
  long polls = 0;
  auto longest = std::chrono::steady_clock::duration::zero();
  for (auto now = start; now < cap && (now < end || seen <= 10);
       now = std::chrono::steady_clock::now()) {
    void* text = nullptr;
    int value = 0;
    const auto before = std::chrono::steady_clock::now();
    const int r = lib().UpdateWeb(&text, &value);
    longest = std::max(longest, std::chrono::steady_clock::now() - before);
    ++polls;
    if (r > 0 && (r & UPDATE_TITLE)) {
      const std::string title = static_cast<const char*>(text);
      ASSERT_FALSE(title.empty());
      ASSERT_EQ(title[0], 't') << title;
      const long n = std::atol(title.c_str() + 1);
      const size_t dash = title.find('-');
      if (dash != std::string::npos) {
        ASSERT_EQ(title.size() - dash - 1, static_cast<size_t>(n % 300)) << "torn title";
        ASSERT_EQ(title.find_first_not_of('x', dash + 1), std::string::npos) << "torn title";
      }
      // Each title at most once, and never an older one after a newer: a title published
      // while UpdateWeb collects the one before must not come again with its own notice.
      ASSERT_GT(n, last) << (n == last ? "a title came twice"
                                       : "an older title came after a newer one");
      last = n;
      ++seen;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(100));  // about 10 kHz
  }
  std::printf("soak: %ld polls in %ld s, %ld titles, longest UpdateWeb %.3f ms\n", polls, seconds,
              seen, std::chrono::duration<double, std::milli>(longest).count());
  EXPECT_GT(seen, 10);
}

}  // namespace
}  // namespace quillo_test
