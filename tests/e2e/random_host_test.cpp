// A random host, seeded and reproducible: thousands of export calls in random order with random
// but plausible arguments and random gaps, polling between them, from a cold start. The host's
// memory lies between guard pages and is taken back as soon as it is no longer handed over, so a
// stray write kills the process; a watchdog aborts a hang. After the sequence the last URL asked
// for must show and its title arrive, every text must be whole UTF-8, and UnloadWeb(1) must
// return. Each case prints its seed; QUILLO_RANDOM_HOST_SEED runs one seed again,
// QUILLO_RANDOM_HOST_CALLS sets the length (./run soak uses long runs).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/e2e_fixture.h"
#include "support/guarded_memory.h"
#include "support/sockets.h"

namespace quillo_test {
namespace {

using Clock = std::chrono::steady_clock;

long EnvOr(const char* name, long fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atol(value) : fallback;
}

bool ValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

// Aborts the process when the host's thread has made no progress for too long.
class Watchdog {
 public:
  explicit Watchdog(unsigned seed) : seed_(seed), thread_([this] { Run(); }) {}
  ~Watchdog() {
    stop_.store(true);
    thread_.join();
  }
  void Beat(const char* step) {
    step_.store(step);
    beat_.store(Clock::now().time_since_epoch().count());
  }

 private:
  void Run() {
    Beat("start");
    while (!stop_.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const auto last = Clock::time_point(Clock::duration(beat_.load()));
      if (Clock::now() - last > std::chrono::seconds(60)) {
        std::fprintf(stderr, "random host: seed %u hangs in %s\n", seed_, step_.load());
        std::fflush(stderr);
        std::abort();
      }
    }
  }
  unsigned seed_;
  std::atomic<bool> stop_{false};
  std::atomic<Clock::rep> beat_{0};
  std::atomic<const char*> step_{"start"};
  std::thread thread_;
};

class RandomHost : public E2ETest, public ::testing::WithParamInterface<int> {
 protected:
  void TearDown() override {
    E2ETest::TearDown();  // the engine is shut down before the memory goes
    memories_.clear();
  }

  std::vector<std::unique_ptr<GuardedMemory>> memories_;
};

TEST_P(RandomHost, SurvivesAndShowsTheLastUrl) {
  const long fixedSeed = EnvOr("QUILLO_RANDOM_HOST_SEED", 0);
  const unsigned seed = static_cast<unsigned>(
      fixedSeed != 0 ? fixedSeed : GetParam() + EnvOr("QUILLO_RANDOM_HOST_SEED_OFFSET", 0));
  const long calls = EnvOr("QUILLO_RANDOM_HOST_CALLS", 400);
  std::printf("random host: seed %u, %ld calls (QUILLO_RANDOM_HOST_SEED=%u runs it again)\n", seed,
              calls, seed);
  std::fflush(stdout);
  std::mt19937 rng(seed);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto chance = [&](int percent) { return pick(1, 100) <= percent; };
  Watchdog watchdog(seed);
  const uint16_t refusedPort = UnusedLoopbackPort();

  // What the host has handed over: the memory of the open page (or of the last one, until a
  // later opening returns), and the state it believes the library is in.
  GuardedMemory* painted = nullptr;
  bool pageOpen = false;
  long exportCalls = 0;
  double longestMs = 0;
  std::string longestStep = "none";
  int pageNumber = 0;
  std::vector<std::string> titlesAsked;

  auto timed = [&](const char* step, auto&& call) {
    watchdog.Beat(step);
    const auto start = Clock::now();
    call();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (ms > longestMs) longestMs = ms, longestStep = step;
    ++exportCalls;
  };
  auto newPage = [&](const std::string& title) {
    titlesAsked.push_back(title);
    const int shade = pick(0, 255);
    std::string extra;
    if (chance(20)) extra += "<input autofocus value='text'>";
    if (chance(20)) extra += "<a href='#next'>link</a><select><option>a<option>b</select>";
    if (chance(10))
      extra +=
          "<script>addEventListener('beforeunload', e => { e.preventDefault();"
          " e.returnValue = 'x'; });</script>";
    if (chance(5)) extra += "<script>alert('hello')</script>";
    return kHtmlSource + "<title>" + title + "</title><body style='margin:0;background:rgb(" +
           std::to_string(shade) + ",40,80)'>" + extra + "</body>";
  };
  auto load = [&](const std::string& url) {
    const int w = pick(16, 96), h = pick(16, 96);
    GuardedMemory* memory = memories_.emplace_back(std::make_unique<GuardedMemory>(w, h)).get();
    const int options = (chance(30) ? PAINT_SWAP_RED_BLUE : 0) |
                        (chance(30) ? PAINT_BOTTOM_UP : 0) | (chance(10) ? LOAD_DELETE_COOKIES : 0);
    const char* languages[] = {"en-US", "de", "fr-CH,fr;q=0.9", "", "ja-JP-u-ca-japanese"};
    const char* language = languages[pick(0, 4)];
    timed("LoadWeb", [&] {
      lib().LoadWeb(pick(-8, 8), pick(-8, 8), w, h, memory->data(), url.c_str(), options, language);
    });
    if (pageOpen) {
      memory->Revoke();  // not used: the open page keeps its memory
      return;
    }
    // A new opening: the memory of the page before is no longer handed over.
    if (painted) painted->Revoke();
    painted = memory;
    pageOpen = true;
  };
  auto poll = [&](int n) {
    for (int i = 0; i < n; ++i) {
      int r = 0;
      timed("UpdateWeb", [&] { r = host().Update(); });
      if (r != -1 && (r & UPDATE_JS_DIALOG) && chance(70))
        timed("InputWeb dialog", [&] { lib().InputWeb(INPUT_DIALOG, pick(0, 1), 0); });
    }
  };

  lib().SetDebugEnable(chance(50));
  std::vector<std::string> urls;
  for (long step = 0; step < calls; ++step) {
    const int what = pick(0, 99);
    if (what < 14) {
      std::string url;
      const int kind = pick(0, 9);
      if (kind < 7)
        url = newPage("page " + std::to_string(++pageNumber) +
                      (chance(20) ? " \xC3\xBC\xF0\x9F\x98\x80" : ""));
      else if (kind == 7)
        url = "about:blank";
      else
        url = "http://127.0.0.1:" + std::to_string(refusedPort) + "/";
      load(url);
    } else if (what < 20) {
      timed("UnloadWeb(0)", [&] { lib().UnloadWeb(false); });
      pageOpen = false;
    } else if (what < 60) {
      static const int kEvents[] = {INPUT_MOUSE | INPUT_MOUSE_MOVE, INPUT_MOUSE | INPUT_MOUSE_DOWN,
                                    INPUT_MOUSE | INPUT_MOUSE_UP,   INPUT_MOUSE | INPUT_MOUSE_WHEEL,
                                    INPUT_KEY | INPUT_KEY_DOWN,     INPUT_KEY | INPUT_KEY_UP,
                                    INPUT_KEY | INPUT_KEY_CHAR,     INPUT_KEY | INPUT_FOCUS_IN,
                                    INPUT_KEY | INPUT_FOCUS_OUT,    INPUT_DIALOG};
      int event = kEvents[pick(0, 9)];
      if (chance(20)) event |= pick(0, 7) << 8;
      if (chance(3)) event = pick(0, 0xFFFF);
      const int a = chance(90) ? pick(-10, 120) : pick(-100000, 100000);
      const int b = chance(90) ? pick(-10, 120) : pick(0, 0x10FFFF);
      timed("InputWeb", [&] { lib().InputWeb(event, a, b); });
    } else if (what < 66) {
      timed("GoBackForwardHome", [&] { lib().GoBackForwardHome(pick(0, 3)); });
    } else if (what < 74) {
      static const char* kScripts[] = {
          "document.title = 'script ' + Math.random();",
          "document.body.style.background = 'rgb(1,2,3)';",
          "history.back();",
          "confirm('sure?');",
          "document.body.innerHTML += '<p>' + 'x'.repeat(1000) + '</p>';",
          "throw new Error('boom');",
          "for (let i = 0; i < 1e5; ++i) {}",
          "\xC3(",
      };
      timed("ExecuteJavaScript", [&] { lib().ExecuteJavaScript(kScripts[pick(0, 7)]); });
    } else if (what < 77) {
      static const char* kPrefixes[] = {"", "tel:;sms:", "about:", ";;;", "data:"};
      timed("ReserveInvalidRedirectUrlSchemes",
            [&] { lib().ReserveInvalidRedirectUrlSchemes(kPrefixes[pick(0, 4)]); });
    } else if (what < 79) {
      timed("SetDebugEnable", [&] { lib().SetDebugEnable(chance(50)); });
    } else if (what < 82 && pageOpen && !titlesAsked.empty()) {
      // The host lets the page settle for a moment (or gives up: scripts and history moves
      // may have taken it elsewhere).
      const std::string& title = titlesAsked.back();
      const auto until = Clock::now() + std::chrono::seconds(2);
      while (Clock::now() < until && !host().SawTitle(title)) {
        poll(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    } else {
      poll(pick(1, 5));
    }
    if (chance(70)) std::this_thread::sleep_for(std::chrono::microseconds(pick(0, 3000)));
    if (chance(50)) poll(1);
  }

  // Settled: the last URL asked for shows and its title arrives.
  const std::string finalTitle = "final " + std::to_string(seed);
  const size_t from = host().notices().size();
  lib().SetDebugEnable(true);                  // a failure shows the log of the settling
  lib().ReserveInvalidRedirectUrlSchemes("");  // the host may have refused data: itself
  load(newPage(finalTitle));
  watchdog.Beat("settle");
  ASSERT_TRUE(host().PollUntil(
      [&] {
        watchdog.Beat("settle");
        if (!host().notices().empty() && (host().notices().back().bits & UPDATE_JS_DIALOG))
          lib().InputWeb(INPUT_DIALOG, 1, 0);
        return host().SawTitle(finalTitle, from);
      },
      "the last page's title (seed " + std::to_string(seed) + ")"))
      << "seed " << seed;

  for (const Notice& n : host().notices())
    if (n.has_text) {
      EXPECT_TRUE(ValidUtf8(n.text)) << "seed " << seed << ": " << Describe(n);
    }
  EXPECT_TRUE(host().violations().empty()) << "seed " << seed << ": " << host().violations()[0];

  size_t shown = 0;
  for (const std::string& title : titlesAsked) shown += host().SawTitle(title) ? 1 : 0;
  timed("UnloadWeb(1)", [&] { Shutdown(); });
  std::printf(
      "random host: seed %u: %ld export calls, %zu of %zu pages shown, longest host-thread block "
      "%.1f ms (%s)\n",
      seed, exportCalls, shown, titlesAsked.size(), longestMs, longestStep.c_str());
}

INSTANTIATE_TEST_SUITE_P(Seed, RandomHost, ::testing::Values(1, 2, 3));

}  // namespace
}  // namespace quillo_test
