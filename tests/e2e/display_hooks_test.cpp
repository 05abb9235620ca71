// The hooks that only watch the page: the count of live script contexts stays exact when
// cross-site loads move the page into another web process.
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

}  // namespace
}  // namespace quillo_test
