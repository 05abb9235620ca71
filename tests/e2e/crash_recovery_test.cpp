// A web process that ends at any moment around what the host asks for: a load, a history move
// or a script sent while the process is dying, or before the host has heard of its end, is
// carried out in the fresh process; the host hears of each end once (-2). A seeded random host
// kills the web process before or after its calls, and keeps a model of the history to know
// which page each step must end on.
#include <signal.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/e2e_fixture.h"
#include "support/processes.h"
#include "support/waits.h"

namespace quillo_test {
namespace {

constexpr int kWidth = 80, kHeight = 60;
constexpr int kPages = 5;
constexpr int kSteps = 8;
const std::string kErrorTitle = "Page failed to load";

Rgb PageColour(int k) {
  return {40 + 50 * k, 200 - 40 * k, (90 * k) % 256};
}

enum class Action { kLoad, kBack, kForward, kScript };
enum class Kill {
  kBeforeUnheard,  // killed, then the call before any poll could report the end
  kBeforeHeard,    // killed, the end heard (-2 and the error page), then the call
  kAfter,          // the call, a while of polling, then killed
};

const char* Name(Action a) {
  switch (a) {
    case Action::kLoad:
      return "load";
    case Action::kBack:
      return "back";
    case Action::kForward:
      return "forward";
    case Action::kScript:
      return "script";
  }
  return "?";
}

const char* Name(Kill k) {
  switch (k) {
    case Kill::kBeforeUnheard:
      return "killed before, unheard";
    case Kill::kBeforeHeard:
      return "killed before, heard";
    case Kill::kAfter:
      return "killed after";
  }
  return "?";
}

// The titles of the history's entries and the current one, as the host expects them.
struct History {
  std::vector<std::string> titles;
  size_t current = 0;

  void Push(const std::string& title) {
    titles.resize(current + 1);
    titles.push_back(title);
    current = titles.size() - 1;
  }
  const std::string& Current() const { return titles[current]; }
};

class CrashRecovery : public E2ETest, public ::testing::WithParamInterface<int> {
 protected:
  // UPDATE_LOAD_ERROR notices with -2 from notice index `from` on.
  size_t CrashesHeard(size_t from) {
    size_t n = 0;
    for (size_t i : NoticeIndices(host(), UPDATE_LOAD_ERROR, from))
      n += host().notices()[i].value == -2;
    return n;
  }
  // The text of the last title notice from `from` on ("" when none).
  std::string LastTitle(size_t from) {
    const auto titles = host().Texts(UPDATE_TITLE, from);
    return titles.empty() ? "" : titles.back();
  }
  // Kills the web process that shows the page, as a crash or the out-of-memory killer would
  // (a process the engine keeps in reserve is left alone: its end is not the page's).
  ::testing::AssertionResult KillWebProcesses() {
    if (!host().PollUntil([] { return !PageProcesses().empty(); }, "a web process with a page"))
      return ::testing::AssertionFailure() << "no web process to kill";
    for (pid_t pid : PageProcesses()) kill(pid, SIGKILL);
    return ::testing::AssertionSuccess();
  }
  void PollFor(std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) {
      host().Update();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
};

TEST_P(CrashRecovery, WhatTheHostAskedForAroundAnEndIsCarriedOut) {
  lib().SetDebugEnable(true);  // a failure shows the log
  for (int k = 0; k < kPages; ++k)
    server().Serve("/p" + std::to_string(k), HtmlResponse("<title>p" + std::to_string(k) +
                                                          "</title><body style='margin:0;"
                                                          "background:" +
                                                          CssColour(PageColour(k)) + "'>"));
  std::mt19937 random(static_cast<unsigned>(GetParam()));
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
  Load(buffer, server().Url("/p0"));
  ASSERT_TRUE(host().WaitForTitle("p0"));
  History history{{"p0"}, 0};

  for (int step = 0; step < kSteps; ++step) {
    // What the host asks for: a page other than the current one, a move that can be made in
    // the history as the call finds it (with the error page of an end heard before), or a
    // script that names the step.
    const Kill kill = static_cast<Kill>(pick(3));
    History found = history;
    if (kill == Kill::kBeforeHeard) found.Push(kErrorTitle);
    std::vector<Action> possible = {Action::kLoad, Action::kScript};
    if (found.current > 0) possible.push_back(Action::kBack);
    if (found.current + 1 < found.titles.size()) possible.push_back(Action::kForward);
    const Action action = possible[pick(static_cast<int>(possible.size()))];
    const auto wait = std::chrono::milliseconds(pick(301));
    int page = pick(kPages);
    if ("p" + std::to_string(page) == history.Current()) page = (page + 1) % kPages;
    const std::string script = "s" + std::to_string(step);
    const std::string what = "seed " + std::to_string(GetParam()) + ", step " +
                             std::to_string(step) + ": " + Name(action) + ", " + Name(kill) + ", " +
                             std::to_string(wait.count()) + " ms";
    auto act = [&] {
      switch (action) {
        case Action::kLoad:
          Load(buffer, server().Url("/p" + std::to_string(page)));
          break;
        case Action::kBack:
          lib().GoBackForwardHome(HISTORY_BACK);
          break;
        case Action::kForward:
          lib().GoBackForwardHome(HISTORY_FORWARD);
          break;
        case Action::kScript:
          lib().ExecuteJavaScript(("document.title = '" + script + "'").c_str());
          break;
      }
    };
    // The model after the call.
    auto apply = [&](History& h) {
      switch (action) {
        case Action::kLoad:
          h.Push("p" + std::to_string(page));
          break;
        case Action::kBack:
          --h.current;
          break;
        case Action::kForward:
          ++h.current;
          break;
        case Action::kScript:
          break;
      }
    };

    const size_t from = host().notices().size();
    std::string expected;
    if (kill == Kill::kAfter) {
      act();
      PollFor(wait);
      ASSERT_TRUE(KillWebProcesses()) << what;
      // Either the call had taken effect before the end (then the error page shows, and a
      // script that had run is gone with its page), or it had not (then it is carried out in
      // the fresh process); or the process killed was one the page was leaving for a new one
      // (then there is no end to hear, and the call is carried out).
      History done = history;
      apply(done);
      const std::string carriedOut = action == Action::kScript ? script : done.Current();
      // The end is heard, or the call's outcome shows; then, after a while of polling in which
      // an end would have been heard, the page after the end.
      ASSERT_TRUE(
          host().PollUntil([&] { return CrashesHeard(from) > 0 || LastTitle(from) == carriedOut; },
                           "the end heard or the call carried out"))
          << what;
      ASSERT_TRUE(IdlePolls(host()));
      if (CrashesHeard(from) > 0) {
        const size_t heard = NoticeIndices(host(), UPDATE_LOAD_ERROR, from).back();
        ASSERT_TRUE(
            host().PollUntil([&] { return !LastTitle(heard).empty(); }, "a title after the end"))
            << what;
        ASSERT_TRUE(IdlePolls(host()));
      }
      const bool ended = CrashesHeard(from) > 0;
      const std::string last =
          LastTitle(ended ? NoticeIndices(host(), UPDATE_LOAD_ERROR, from).back() : from);
      EXPECT_TRUE(last == carriedOut || (ended && last == kErrorTitle))
          << what << ": the page shows \"" << last << "\", not \"" << carriedOut << "\""
          << (ended ? " or the error page\n" : "\n") << host().Recent();
      if (ended && (last == kErrorTitle || action == Action::kScript)) done.Push(kErrorTitle);
      history = done;
      expected = last;
      EXPECT_LE(CrashesHeard(from), 1u) << what << ": one end heard twice\n" << host().Recent();
    } else {
      ASSERT_TRUE(KillWebProcesses()) << what;
      if (kill == Kill::kBeforeHeard) {
        ASSERT_TRUE(host().WaitForTitle(kErrorTitle, from)) << what;
        history = found;
      } else {
        std::this_thread::sleep_for(wait);  // no poll: the end is not reported yet
        // Nothing else navigates after this end, so its error page shows, and the script
        // runs there.
        if (action == Action::kScript) history.Push(kErrorTitle);
      }
      act();
      apply(history);
      expected = action == Action::kScript ? script : history.Current();
      ASSERT_TRUE(host().WaitForTitle(expected, from)) << what;
      ASSERT_TRUE(IdlePolls(host()));
      EXPECT_EQ(LastTitle(from), expected) << what << ": a later title replaced it\n"
                                           << host().Recent();
      EXPECT_EQ(CrashesHeard(from), 1u) << what << ": the end must be heard once\n"
                                        << host().Recent();
    }
    // A page of the host's shows in its colour.
    if (expected.size() == 2 && expected[0] == 'p') {
      const Rgb colour = PageColour(expected[1] - '0');
      EXPECT_TRUE(WaitForView(buffer, 0, {{kWidth / 2, kHeight / 2, colour}}, expected)) << what;
    }
    if (HasFailure()) break;
  }
  EXPECT_TRUE(host().violations().empty()) << host().violations().front();
}

INSTANTIATE_TEST_SUITE_P(Seed, CrashRecovery, ::testing::Values(1, 2, 3, 4));

// A fresh web process that ends too before the page asked for again commits in it (the engine
// may hand the load to a process killed with the last one, or the killer strikes twice) is the
// same end: the host hears -2 once, and the page it asked for still comes, not the error page.
TEST_F(E2ETest, AFreshProcessEndingBeforeItsPageCommitsIsTheSameEnd) {
  lib().SetDebugEnable(true);  // a failure shows the log
  server().Serve("/p0", HtmlResponse("<title>p0</title>"));
  HttpResponse slow = HtmlResponse(
      "<title>slow</title><body style='margin:0;background:" + CssColour(PageColour(3)) + "'>");
  slow.delay = std::chrono::milliseconds(1500);  // the load waits, uncommitted, in each process
  server().Serve("/slow", slow);
  PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
  Load(buffer, server().Url("/p0"));
  ASSERT_TRUE(host().WaitForTitle("p0"));
  const size_t from = host().notices().size();
  Load(buffer, server().Url("/slow"));
  for (size_t asked = 1; asked <= 3; ++asked) {
    // The process that waits for the page's answer, killed while it waits.
    ASSERT_TRUE(host().PollUntil([&] { return server().CountRequestsFor("/slow") >= asked; },
                                 "the load asked for in a web process"));
    if (asked == 3) break;
    ASSERT_EQ(server().CountRequestsFor("/slow"), asked);
    for (pid_t pid : PageProcesses()) kill(pid, SIGKILL);
  }
  ASSERT_TRUE(host().WaitForTitle("slow", from));
  ASSERT_TRUE(IdlePolls(host()));
  size_t heard = 0;
  for (size_t i : NoticeIndices(host(), UPDATE_LOAD_ERROR, from))
    heard += host().notices()[i].value == -2;
  EXPECT_EQ(heard, 1u) << host().Recent();
  const auto titles = host().Texts(UPDATE_TITLE, from);
  EXPECT_EQ(titles.back(), "slow") << host().Recent();
  EXPECT_TRUE(WaitForView(buffer, 0, {{kWidth / 2, kHeight / 2, PageColour(3)}}, "the page"));
}

}  // namespace
}  // namespace quillo_test
