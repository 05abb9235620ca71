// The host's list of refused URL prefixes: which navigations it stops, how the refused URL
// reaches the host, and how the list text is read.
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "support/data_url.h"
#include "support/e2e_fixture.h"
#include "support/keyboard.h"
#include "support/waits.h"

namespace quillo_test {
namespace {

constexpr int kWidth = 320, kHeight = 240;

// The start page: a link at (10, 10)-(210, 50) to `link`, a form posting to `action` with its
// submit button at (10, 100), a marker the host can read back, and no margins.
std::string StartPage(const std::string& link, const std::string& action) {
  return "<html><body style=\"margin:0\">"
         "<a id=\"link\" href=\"" +
         link +
         "\" style=\"position:absolute;left:10px;top:10px;width:200px;height:40px;"
         "display:block\">link</a>"
         "<form id=\"form\" action=\"" +
         action +
         "\" method=\"get\"><input type=\"hidden\" name=\"body\" value=\"hi\">"
         "<button type=\"submit\" style=\"position:absolute;left:10px;top:100px;width:100px;"
         "height:30px\">send</button></form>"
         "<script>var marker = 'start'; document.title = 'start';</script></body></html>";
}

class Filter : public E2ETest {
 protected:
  // Serves the start page and the pages around it, opens it and waits for it.
  ::testing::AssertionResult Open(const std::string& link = "tel:123",
                                  const std::string& action = "sms:555") {
    HttpServer& http = server();
    http.Serve("/start", HtmlResponse(StartPage(link, action)));
    http.Serve("/next", HtmlResponse("<title>next</title>"));
    http.Serve("/other", HtmlResponse("<title>other</title>"));
    http.Serve("/blocked", HtmlResponse("<title>blocked</title>"));
    http.Serve("/redirect", HttpResponse{302, {{"Location", "tel:999"}}, ""});
    PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
    buffer_ = &buffer;
    Load(buffer, http.Url("/start"));
    if (auto titled = host().WaitForTitle("start"); !titled) return titled;
    return host().PollUntil([&] { return host().frames() > 0; }, "a painted frame");
  }

  PixelBuffer& buffer() { return *buffer_; }

  // Waits for the refused URL to come back by UPDATE_URL.
  ::testing::AssertionResult WaitForRefusal(const std::string& url, size_t from) {
    return host().PollUntil([&] { return host().SawUrl(url, from); },
                            "UPDATE_URL with the refused \"" + url.substr(0, 80) + "\"");
  }

  // The start page is still the document shown, and no failure was reported.
  ::testing::AssertionResult StillOnStartPage(size_t from) {
    if (auto idle = IdlePolls(host()); !idle) return idle;
    for (size_t i = from; i < host().notices().size(); ++i) {
      if (host().notices()[i].bits & UPDATE_LOAD_ERROR)
        return ::testing::AssertionFailure() << "load error: " << Describe(host().notices()[i]);
    }
    const size_t check = host().notices().size();
    lib().ExecuteJavaScript("document.title = 'still ' + marker");
    return host().WaitForTitle("still start", check);
  }

  // Whether a navigation to the server's `path` went ahead.
  ::testing::AssertionResult Reached(const std::string& path, const std::string& title,
                                     size_t from) {
    if (auto titled = host().WaitForTitle(title, from); !titled) return titled;
    if (server().CountRequestsFor(path) == 0)
      return ::testing::AssertionFailure() << "no request for " << path;
    return ::testing::AssertionSuccess();
  }

 private:
  PixelBuffer* buffer_ = nullptr;
};

// ---- ways of navigating -------------------------------------------------------------------

struct WayCase {
  const char* name;
  friend void PrintTo(const WayCase& c, std::ostream* os) { *os << c.name; }
  std::function<void(LibraryCopy&, HostInput&)> navigate;
  std::string refused;  // the URL that comes back
};

class RefusedNavigation : public Filter, public ::testing::WithParamInterface<WayCase> {};

TEST_P(RefusedNavigation, IsReportedAndThePageStays) {
  ASSERT_TRUE(Open());
  lib().ReserveInvalidRedirectUrlSchemes("tel:;sms:");
  const size_t from = host().notices().size();
  HostInput input(lib(), host());
  GetParam().navigate(lib(), input);
  ASSERT_TRUE(WaitForRefusal(GetParam().refused, from));
  EXPECT_TRUE(StillOnStartPage(from));
  EXPECT_TRUE(host().violations().empty()) << host().violations().front();
}

INSTANTIATE_TEST_SUITE_P(
    Ways, RefusedNavigation,
    ::testing::Values(
        WayCase{"LinkClick", [](LibraryCopy&, HostInput& input) { input.Click(60, 30); },
                "tel:123"},
        WayCase{"Script",
                [](LibraryCopy& lib, HostInput&) { lib.ExecuteJavaScript("location = 'tel:1'"); },
                "tel:1"},
        WayCase{"FormSubmission", [](LibraryCopy&, HostInput& input) { input.Click(50, 115); },
                "sms:555?body=hi"},
        WayCase{
            "ServerRedirect",
            [](LibraryCopy& lib, HostInput&) { lib.ExecuteJavaScript("location = '/redirect'"); },
            "tel:999"},
        WayCase{"SubFrame",
                [](LibraryCopy& lib, HostInput&) {
                  lib.ExecuteJavaScript(
                      "const f = document.createElement('iframe'); f.src = 'sms:77';"
                      "document.body.appendChild(f);");
                },
                "sms:77"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Filter, RefusedServerRedirectOfHostLoad) {
  ASSERT_TRUE(Open());
  lib().ReserveInvalidRedirectUrlSchemes("tel:");
  const size_t from = host().notices().size();
  Load(buffer(), server().Url("/redirect"));
  ASSERT_TRUE(WaitForRefusal("tel:999", from));
  EXPECT_TRUE(StillOnStartPage(from));
}

// Both notices pending at once: the refused URL is collected first, the main-frame URL on the
// next call. The start of a load and the refusal of its redirect are raised one after the other
// on the engine thread; the host polls slowly and writes a line into the log before each poll
// (replacing the list by the same list), so the log tells whether both fell between the same
// two polls. When they did not, the load is tried again.
TEST_F(Filter, RefusedUrlIsReportedBeforePendingMainFrameUrl) {
  lib().SetDebugEnable(true);
  ASSERT_TRUE(Open());
  const char* const kList = "tel:";
  const std::string marker = "CWebApplication::ReserveInvalidRedirectUrlSchemes";
  lib().ReserveInvalidRedirectUrlSchemes(kList);
  const std::string main_url = server().Url("/redirect");
  for (int attempt = 0; attempt < 10; ++attempt) {
    const size_t from = host().notices().size();
    const size_t log_from = LogLines().size();
    Load(buffer(), main_url);
    for (int i = 0; i < 200 && host().Texts(UPDATE_URL, from).size() < 2; ++i) {
      lib().ReserveInvalidRedirectUrlSchemes(kList);
      host().Update();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const auto urls = host().Texts(UPDATE_URL, from);
    ASSERT_EQ(urls.size(), 2u) << host().Recent();

    const auto lines = LogLines();
    const auto started =
        FindLineContaining(lines, "CWebClient::OnBeforeBrowse url[" + main_url + "]", log_from);
    const auto refused = FindLineContaining(lines, "=> invalid url : tel:999", log_from);
    ASSERT_TRUE(started && refused) << "the log lacks the start of the load or the refusal";
    if (*started > *refused) continue;
    bool polled_between = false;
    for (size_t i = *started + 1; i < *refused; ++i) {
      polled_between |= lines[i].find(marker) != std::string::npos;
    }
    if (polled_between) continue;

    EXPECT_EQ(urls[0], "tel:999") << host().Recent();
    EXPECT_EQ(urls[1], main_url) << host().Recent();
    return;
  }
  FAIL() << "in ten loads the start of the load and the refusal never fell between the same "
            "two polls";
}

TEST_F(Filter, SubFrameToRefusedHttpPrefixIsStopped) {
  ASSERT_TRUE(Open());
  const std::string blocked = server().Url("/blocked");
  lib().ReserveInvalidRedirectUrlSchemes(blocked.c_str());
  const size_t from = host().notices().size();
  lib().ExecuteJavaScript(("const f = document.createElement('iframe'); f.src = '" + blocked +
                           "?frame=1'; document.body.appendChild(f);")
                              .c_str());
  ASSERT_TRUE(WaitForRefusal(blocked + "?frame=1", from));
  EXPECT_TRUE(StillOnStartPage(from));
  EXPECT_EQ(server().CountRequestsFor("/blocked"), 0u) << "the refused frame was loaded";
}

// ---- reading the list ---------------------------------------------------------------------

TEST_F(Filter, ListGivenBeforeLoadWebIsForgotten) {
  HttpServer& http = server();
  http.Serve("/blocked", HtmlResponse("<title>blocked</title>"));
  lib().ReserveInvalidRedirectUrlSchemes(http.Url("/blocked").c_str());
  PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
  Load(buffer, http.Url("/blocked"));
  EXPECT_TRUE(Reached("/blocked", "blocked", 0));
}

TEST_F(Filter, EmptyEntriesAreSkipped) {
  ASSERT_TRUE(Open());
  lib().ReserveInvalidRedirectUrlSchemes(";;tel:;");
  size_t from = host().notices().size();
  lib().ExecuteJavaScript("location = 'tel:42'");
  ASSERT_TRUE(WaitForRefusal("tel:42", from));
  ASSERT_TRUE(StillOnStartPage(from));
  // An empty entry would be a prefix of every URL.
  from = host().notices().size();
  lib().ExecuteJavaScript("location = '/next'");
  EXPECT_TRUE(Reached("/next", "next", from));
}

TEST_F(Filter, EntryWithLeadingBlankNeverMatches) {
  ASSERT_TRUE(Open());
  lib().ReserveInvalidRedirectUrlSchemes((" " + server().Url("/next")).c_str());
  const size_t from = host().notices().size();
  lib().ExecuteJavaScript("location = '/next'");
  EXPECT_TRUE(Reached("/next", "next", from));
}

TEST_F(Filter, EntryIsAPrefixNotASchemeName) {
  ASSERT_TRUE(Open());
  lib().ReserveInvalidRedirectUrlSchemes("tel");
  const size_t from = host().notices().size();
  lib().ExecuteJavaScript("location = 'telx:1'");
  ASSERT_TRUE(WaitForRefusal("telx:1", from));
  EXPECT_TRUE(StillOnStartPage(from));
}

TEST_F(Filter, SecondListReplacesTheFirst) {
  ASSERT_TRUE(Open());
  lib().ReserveInvalidRedirectUrlSchemes(server().Url("/next").c_str());
  lib().ReserveInvalidRedirectUrlSchemes(server().Url("/other").c_str());
  size_t from = host().notices().size();
  lib().ExecuteJavaScript("location = '/other'");
  ASSERT_TRUE(WaitForRefusal(server().Url("/other"), from));
  ASSERT_TRUE(StillOnStartPage(from));
  EXPECT_EQ(server().CountRequestsFor("/other"), 0u);
  from = host().notices().size();
  lib().ExecuteJavaScript("location = '/next'");
  EXPECT_TRUE(Reached("/next", "next", from));
}

TEST_F(Filter, EmptyListLeavesOnlyMailto) {
  ASSERT_TRUE(Open("mailto:someone@example.org"));
  lib().SetDebugEnable(true);
  lib().ReserveInvalidRedirectUrlSchemes(server().Url("/next").c_str());
  lib().ReserveInvalidRedirectUrlSchemes("");
  // mailto: is still refused, silently.
  size_t from = host().notices().size();
  HostInput(lib(), host()).Click(60, 30);
  size_t polls = 0;
  ASSERT_TRUE(host().PollUntil(
      [&] {
        return ++polls % 16 == 0 &&
               AnyLineContains(LogLines(), "=> mailto url : mailto:someone@example.org");
      },
      "the log line of the refused mailto: link"));
  ASSERT_TRUE(StillOnStartPage(from));
  for (const auto& url : host().Texts(UPDATE_URL, from)) {
    EXPECT_EQ(url.find("mailto:"), std::string::npos) << "the host was told of " << url;
  }
  // Everything else goes ahead.
  from = host().notices().size();
  lib().ExecuteJavaScript("location = '/next'");
  EXPECT_TRUE(Reached("/next", "next", from));
}

TEST_F(Filter, MailtoCaughtByListedPrefixIsReported) {
  ASSERT_TRUE(Open("mailto:someone@example.org"));
  lib().ReserveInvalidRedirectUrlSchemes("mailto:");
  const size_t from = host().notices().size();
  HostInput(lib(), host()).Click(60, 30);
  ASSERT_TRUE(WaitForRefusal("mailto:someone@example.org", from));
  EXPECT_TRUE(StillOnStartPage(from));
}

// ---- long URLs ----------------------------------------------------------------------------

TEST_F(Filter, RefusedUrlOfMaximumLengthComesBackWhole) {
  ASSERT_TRUE(Open());
  lib().ReserveInvalidRedirectUrlSchemes("tel:");
  std::string url = "tel:";
  while (url.size() < 2047) url += char('0' + url.size() % 10);
  const size_t from = host().notices().size();
  lib().ExecuteJavaScript(("location = '" + url + "'").c_str());
  ASSERT_TRUE(WaitForRefusal(url, from));
  EXPECT_TRUE(StillOnStartPage(from));
}

TEST_F(Filter, LongerRefusedUrlIsCutToFit) {
  ASSERT_TRUE(Open());
  lib().ReserveInvalidRedirectUrlSchemes("tel:");
  std::string url = "tel:";
  while (url.size() < 3000) url += char('0' + url.size() % 10);
  const size_t from = host().notices().size();
  lib().ExecuteJavaScript(("location = '" + url + "'").c_str());
  std::string got;
  ASSERT_TRUE(host().PollUntil(
      [&] {
        for (const auto& u : host().Texts(UPDATE_URL, from)) {
          if (u.rfind("tel:", 0) == 0) {
            got = u;
            return true;
          }
        }
        return false;
      },
      "UPDATE_URL with the refused long URL"));
  EXPECT_LE(got.size(), 2047u);
  EXPECT_GT(got.size(), 2000u) << "cut far shorter than the buffer";
  EXPECT_EQ(url.compare(0, got.size(), got), 0) << "not the start of the refused URL";
  EXPECT_TRUE(IsValidUtf8(got));
  EXPECT_TRUE(StillOnStartPage(from));
}

}  // namespace
}  // namespace quillo_test
