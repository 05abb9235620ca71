// The hooks that only watch the page: the count of live script contexts stays exact when
// cross-site loads move the page into another web process, and each console call of the page
// and its frames reaches the console hook once, while the page's console behaves as before.
#include <algorithm>
#include <string>

#include "support/e2e_fixture.h"
#include "support/waits.h"

namespace quillo_test {
namespace {

class DisplayHooks : public E2ETest {
 protected:
  // Polls until some log line holds `part`.
  ::testing::AssertionResult WaitForLogLine(const std::string& part) {
    size_t polls = 0;
    return host().PollUntil([&] { return ++polls % 16 == 0 && AnyLineContains(LogLines(), part); },
                            "the log line \"" + part + "\"");
  }

  // How many log lines hold `part`.
  size_t CountLines(const std::string& part) {
    const std::vector<std::string> lines = LogLines();
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.find(part) != std::string::npos;
    }));
  }

  // Polls until `count` console hook lines are in the log, then checks that no more come.
  ::testing::AssertionResult ConsoleLinesSettleAt(size_t count) {
    ::testing::AssertionResult reached =
        host().PollUntil([&] { return CountLines(kConsoleLine) >= count; },
                         std::to_string(count) + " console lines");
    if (!reached) return reached << " (seen " << CountLines(kConsoleLine) << ")";
    if (!IdlePolls(host(), 200)) return ::testing::AssertionFailure() << "the idle polls failed";
    const size_t seen = CountLines(kConsoleLine);
    if (seen != count)
      return ::testing::AssertionFailure()
             << seen << " console lines where " << count << " calls were made";
    return ::testing::AssertionSuccess();
  }

  static constexpr char kConsoleLine[] = "CWebClient::OnConsoleMessage";

  // The count in the last context line of the log, or -1.
  int LastContextCount() {
    int count = -1;
    for (const std::string& line : LogLines()) {
      if (line.find("CWebApplication::OnContext") == std::string::npos) continue;
      const size_t open = line.rfind('[');
      const size_t close = line.rfind(']');
      if (open != std::string::npos && close > open)
        count = std::stoi(line.substr(open + 1, close - open - 1));
    }
    return count;
  }
};

// Pages on two sites, one with a framed document: each load that crosses to the other site
// replaces the web process, and the old process's contexts must leave the count with it.
TEST_F(DisplayHooks, ContextCountStaysExactAcrossProcessSwaps) {
  lib().SetDebugEnable(true);
  HttpServer& http = server();
  http.Serve("/two", HtmlResponse("<script>document.title = 'two:' + location.search;</script>"
                                  "<iframe srcdoc=\"<script>1</script>\"></iframe>"));
  http.Serve("/one", HtmlResponse("<script>document.title = 'one:' + location.search;</script>"));
  const std::string other_site = "http://localhost:" + std::to_string(http.port());
  PixelBuffer& buffer = NewBuffer(64, 48);
  struct Step {
    std::string url;
    std::string title;
    int contexts;
  } steps[] = {
      {http.Url("/two?1"), "two:?1", 2},    {other_site + "/one?2", "one:?2", 1},
      {http.Url("/two?3"), "two:?3", 2},    {other_site + "/one?4", "one:?4", 1},
      {other_site + "/two?5", "two:?5", 2}, {http.Url("/one?6"), "one:?6", 1},
  };
  for (const Step& step : steps) {
    const size_t from = host().notices().size();
    Load(buffer, step.url);
    ASSERT_TRUE(host().WaitForTitle(step.title, from));
    ASSERT_TRUE(host().PollUntil([&] { return LastContextCount() == step.contexts; },
                                 "the count at " + std::to_string(step.contexts) + " after " +
                                     step.url +
                                     " (last logged: " + std::to_string(LastContextCount()) + ")"));
    // Late releases of the old process must not take it below what is live.
    ASSERT_TRUE(IdlePolls(host(), 200));
    EXPECT_EQ(LastContextCount(), step.contexts) << "after " << step.url;
  }
}

// Every console method, in a loop and from a framed document, with arguments whose own
// toString must not run (an object that counts its conversions, a symbol, a lone surrogate, a
// huge string): one hook line per call, and the page sees console as it was (return value,
// name, native source text, calls through a detached method).
TEST_F(DisplayHooks, EachConsoleCallOfThePageAndItsFramesIsReportedOnce) {
  lib().SetDebugEnable(true);
  HttpServer& http = server();
  http.Serve("/console", HtmlResponse(R"(<script>
    let results = [];
    for (let i = 0; i < 20; i++) results.push(console.log('loop', i));
    results.push(console.info('i'), console.warn('w'), console.error('e'), console.debug('d'));
    let conversions = 0;
    const counted = {toString() { conversions++; return 'x'; }};
    // The engine's own method converts `counted` and the array holding it; the
    // wrapper must add no conversion.
    results.push(console.log('objects', counted, [counted], Symbol('s'), 10n, null, undefined));
    results.push(console.log('\ud800', 'x'.repeat(200000)));
    const detached = console.warn;
    results.push(detached.call({}, 'detached'));
    const native = /^function log\(\) \{\s*\[native code\]\s*\}$/.test(String(console.log)) &&
        /^function warn\(\) \{\s*\[native code\]\s*\}$/.test(Function.prototype.toString.call(console.warn));
    const shape = console.log.name === 'log' && typeof console.error === 'function' &&
        console.log === console.log && Object.keys(console).includes('log');
    const same = results.length === 27 && results.every(r => r === undefined);
    function done(framed) {
      document.title = 'console:' + same + ':' + native + ':' + shape + ':' + conversions + ':' + framed;
    }
  </script>
  <iframe srcdoc="<script>parent.done(console.log('from the frame') === undefined)</script>">
  </iframe>)"));
  PixelBuffer& buffer = NewBuffer(64, 48);
  Load(buffer, http.Url("/console"));
  ASSERT_TRUE(host().WaitForTitle("console:true:true:true:2:true"));
  // 27 calls of the page, one of the frame.
  EXPECT_TRUE(ConsoleLinesSettleAt(28));
}

// A page that replaces console, or one of its methods, keeps its own: its replacement runs, its
// result is returned, and a replacement that calls the saved method is still reported once.
TEST_F(DisplayHooks, PageThatReplacesConsoleKeepsItsOwn) {
  lib().SetDebugEnable(true);
  HttpServer& http = server();
  http.Serve("/wrapped", HtmlResponse(R"(<script>
    const saved = console.log;
    let mine = 0;
    console.log = function (...parts) { mine++; saved.apply(console, ['wrapped', ...parts]); return 7; };
    const result = console.log('a') + console.log('b');
    document.title = 'wrapped:' + mine + ':' + result;
  </script>)"));
  http.Serve("/replaced", HtmlResponse(R"(<script>
    let calls = 0;
    window.console = {log() { calls++; return 'own'; }};
    document.title = 'replaced:' + console.log('c') + ':' + calls;
  </script>)"));
  PixelBuffer& buffer = NewBuffer(64, 48);
  Load(buffer, http.Url("/wrapped"));
  ASSERT_TRUE(host().WaitForTitle("wrapped:2:14"));
  EXPECT_TRUE(ConsoleLinesSettleAt(2));
  const size_t from = host().notices().size();
  Load(buffer, http.Url("/replaced"));
  ASSERT_TRUE(host().WaitForTitle("replaced:own:1", from));
  EXPECT_TRUE(ConsoleLinesSettleAt(2));
}

}  // namespace
}  // namespace quillo_test
