// Moves through the history with GoBackForwardHome, and the count of script contexts the log
// keeps while frames come and go.
#include <string>

#include "support/e2e_fixture.h"
#include "support/waits.h"

namespace quillo_test {
namespace {

constexpr int kWidth = 160, kHeight = 120;

class History : public E2ETest {
 protected:
  // Pages /a, /b and /c, each titled with its letter.
  void ServePages() {
    for (const char* name : {"a", "b", "c"}) {
      server().Serve(std::string("/") + name,
                     HtmlResponse(std::string("<title>") + name + "</title><p>" + name + "</p>"));
    }
  }

  std::string Url(const std::string& name) { return server().Url("/" + name); }

  // Loads the page into the browser (the first call creates it) and waits for its title.
  ::testing::AssertionResult Visit(const std::string& name) {
    const size_t from = host().notices().size();
    if (buffer_ == nullptr) buffer_ = &NewBuffer(kWidth, kHeight);
    Load(*buffer_, Url(name));
    return host().WaitForTitle(name, from);
  }

  // Moves in the given direction and waits until the page `name` is shown and its URL was
  // reported.
  ::testing::AssertionResult Move(int direction, const std::string& name) {
    const size_t from = host().notices().size();
    lib().GoBackForwardHome(direction);
    if (auto titled = host().WaitForTitle(name, from); !titled)
      return titled << "after GoBackForwardHome(" << direction << ")";
    return host().PollUntil(
        [&] { return host().SawUrl(Url(name), from); },
        "UPDATE_URL " + Url(name) + " after GoBackForwardHome(" + std::to_string(direction) + ")");
  }

 private:
  PixelBuffer* buffer_ = nullptr;
};

TEST_F(History, BackForwardAndHomeThroughThreePages) {
  ServePages();
  ASSERT_TRUE(Visit("a"));
  ASSERT_TRUE(Visit("b"));
  ASSERT_TRUE(Visit("c"));
  ASSERT_TRUE(Move(HISTORY_BACK, "b"));
  ASSERT_TRUE(Move(HISTORY_BACK, "a"));
  ASSERT_TRUE(Move(HISTORY_FORWARD, "b"));
  // Home is a new load of the URL the browser was created with, fetched again.
  const size_t requests_for_a = server().CountRequestsFor("/a");
  ASSERT_TRUE(Move(HISTORY_HOME, "a"));
  EXPECT_GT(server().CountRequestsFor("/a"), requests_for_a);
  // ... and it ends the forward history: c was dropped when b was left for the new load.
  ASSERT_TRUE(Move(HISTORY_BACK, "b"));
}

TEST_F(History, BackOnFreshBrowserChangesNothing) {
  lib().SetDebugEnable(true);
  ServePages();
  ASSERT_TRUE(Visit("a"));
  ASSERT_TRUE(IdlePolls(host(), 100));
  const size_t from = host().notices().size();
  const size_t requests = server().Requests().size();
  lib().GoBackForwardHome(HISTORY_BACK);
  size_t polls = 0;
  ASSERT_TRUE(host().PollUntil(
      [&] { return ++polls % 16 == 0 && AnyLineContains(LogLines(), "=> can't go back"); },
      "the log line \"=> can't go back\""));
  ASSERT_TRUE(IdlePolls(host()));
  EXPECT_TRUE(host().Texts(UPDATE_URL, from).empty()) << host().Recent();
  EXPECT_TRUE(host().Texts(UPDATE_TITLE, from).empty()) << host().Recent();
  EXPECT_EQ(server().Requests().size(), requests);
  EXPECT_FALSE(AnyLineContains(LogLines(), "=> can go back"));
}

struct ForwardCase {
  const char* name;
  friend void PrintTo(const ForwardCase& c, std::ostream* os) { *os << c.name; }
  int direction;
};

class Forward : public History, public ::testing::WithParamInterface<ForwardCase> {};

TEST_P(Forward, AnyDirectionButHomeAndBackMovesForward) {
  ServePages();
  ASSERT_TRUE(Visit("a"));
  ASSERT_TRUE(Visit("b"));
  ASSERT_TRUE(Move(HISTORY_BACK, "a"));
  ASSERT_TRUE(Move(GetParam().direction, "b"));
}

INSTANTIATE_TEST_SUITE_P(Directions, Forward,
                         ::testing::Values(ForwardCase{"Two", 2}, ForwardCase{"MinusOne", -1},
                                           ForwardCase{"Hundred", 100}),
                         [](const auto& info) { return std::string(info.param.name); });

// HTML source is shown from a data: URL; moving back onto it shows it again, whole: pixels,
// title and the page's own location.
TEST_F(History, BackAndForwardReachHtmlSourcePages) {
  ServePages();
  PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
  const std::string source =
      "<title>source</title><body style=\"margin:0;background:rgb(0,0,255)\"></body>";
  Load(buffer, kHtmlSource + source);
  ASSERT_TRUE(host().WaitForTitle("source"));
  ASSERT_TRUE(WaitForView(buffer, 0, {{kWidth / 2, kHeight / 2, {0, 0, 255}}}, "the source page"));
  const std::string data_url = host().Texts(UPDATE_URL).front();
  ASSERT_TRUE(Visit("a"));
  ASSERT_TRUE(WaitForView(buffer, 0, {{kWidth / 2, kHeight / 2, {255, 255, 255}}}, "page a"));

  size_t from = host().notices().size();
  lib().GoBackForwardHome(HISTORY_BACK);
  ASSERT_TRUE(host().WaitForTitle("source", from));
  EXPECT_TRUE(host().SawUrl(data_url, from)) << host().Recent();
  ASSERT_TRUE(WaitForView(buffer, 0, {{kWidth / 2, kHeight / 2, {0, 0, 255}}}, "back on source"));
  from = host().notices().size();
  lib().ExecuteJavaScript("document.title = 'href:' + location.href");
  EXPECT_TRUE(host().WaitForTitle("href:" + data_url, from));

  ASSERT_TRUE(Move(HISTORY_FORWARD, "a"));
  from = host().notices().size();
  lib().GoBackForwardHome(HISTORY_HOME);
  ASSERT_TRUE(host().WaitForTitle("source", from)) << "home is the HTML source the page began with";
}

// The page itself may not take the whole view to a data: URL (Chromium refuses it too); the
// host's own moves may.
TEST_F(History, PageCannotNavigateItselfToDataUrl) {
  ServePages();
  ASSERT_TRUE(Visit("a"));
  const size_t from = host().notices().size();
  lib().ExecuteJavaScript("location.href = 'data:text/html,<title>taken</title>'");
  ASSERT_TRUE(IdlePolls(host()));
  lib().ExecuteJavaScript("document.title = 'still ' + location.href");
  ASSERT_TRUE(host().WaitForTitle("still " + Url("a"), from));
  EXPECT_FALSE(host().SawTitle("taken", from)) << host().Recent();
  for (const std::string& url : host().Texts(UPDATE_URL, from))
    EXPECT_NE(url.rfind("data:", 0), 0u) << "the refused data: URL was reported";
}

// ---- script contexts ----------------------------------------------------------------------

// The counts logged by the context lines, in log order (created and released alike).
std::vector<int> LoggedCounts(const std::vector<std::string>& lines, const std::string& what) {
  std::vector<int> counts;
  for (const auto& line : lines) {
    size_t at = line.find(what);
    while (at != std::string::npos) {
      const size_t open = line.find('[', at);
      const size_t close = line.find(']', open);
      if (open == std::string::npos || close == std::string::npos) break;
      counts.push_back(std::stoi(line.substr(open + 1, close - open - 1)));
      at = line.find(what, close);
    }
  }
  return counts;
}

TEST_F(History, ContextCountFollowsFramesWithScript) {
  lib().SetDebugEnable(true);
  HttpServer& http = server();
  http.Serve("/framed",
             HtmlResponse("<script>document.title = 'outer';</script>"
                          "<iframe srcdoc=\"<script>parent.document.title = 'inner';</script>\">"
                          "</iframe>"));
  PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
  Load(buffer, http.Url("/framed"));
  ASSERT_TRUE(host().WaitForTitle("inner"));
  size_t polls = 0;
  ASSERT_TRUE(host().PollUntil(
      [&] {
        return ++polls % 16 == 0 &&
               AnyLineContains(LogLines(), "CWebApplication::OnContextCreated browser count[2]");
      },
      "the log line of the second script context"));

  // Leaving the page releases both.
  const size_t from = host().notices().size();
  Load(buffer, kHtmlSource + "<title>plain</title><p>no script</p>");
  ASSERT_TRUE(host().WaitForTitle("plain", from));
  polls = 0;
  ASSERT_TRUE(host().PollUntil(
      [&] {
        return ++polls % 16 == 0 &&
               AnyLineContains(LogLines(), "CWebApplication::OnContextReleased count[0]");
      },
      "the log line of a release back to 0"));
  ASSERT_TRUE(IdlePolls(host()));

  const auto lines = LogLines();
  EXPECT_FALSE(AnyLineContains(lines, "count[-")) << "a count below 0 was logged";
  const auto released = LoggedCounts(lines, "CWebApplication::OnContextReleased count");
  EXPECT_GE(released.size(), 2u) << "fewer releases than the two contexts of the page";
  for (const int count : LoggedCounts(lines, "CWebApplication::OnContextCreated browser count")) {
    EXPECT_GE(count, 1);
    EXPECT_LE(count, 2) << "more contexts than the page's two frames";
  }
}

}  // namespace
}  // namespace quillo_test
