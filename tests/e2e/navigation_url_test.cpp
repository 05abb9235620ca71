// The URL of a navigation reaches the host when the navigation starts, whoever starts it, and
// each server redirect adds its target, reported once and logged as a redirect.
#include <string>

#include "support/e2e_fixture.h"
#include "support/keyboard.h"
#include "support/sockets.h"
#include "support/waits.h"

namespace quillo_test {
namespace {

// How the page starts a navigation to a URL.
struct Start {
  const char* name;
  friend void PrintTo(const Start& s, std::ostream* os) { *os << s.name; }
  // The page's HTML for a navigation to `url`; it titles itself "ready".
  std::string (*page)(const std::string& url);
  // Starts the navigation once the page is ready.
  void (*go)(LibraryCopy& lib, Host& host);
};

std::string LinkPage(const std::string& url) {
  return "<title>ready</title><a id=\"go\" href=\"" + url +
         "\" style=\"position:absolute;left:0;top:0;width:100px;height:50px;display:block;"
         "background:blue\">go</a>";
}

std::string ScriptPage(const std::string& url) {
  return "<title>ready</title><script>function go() { location.href = '" + url + "'; }</script>";
}

std::string FormPage(const std::string& url) {
  return "<title>ready</title><form id=\"f\" method=\"get\" action=\"" + url +
         "\"><input name=\"q\" value=\"1\"></form>";
}

const Start kStarts[] = {
    {"LinkClick", LinkPage,
     [](LibraryCopy& lib, Host& host) { HostInput(lib, host).Click(50, 25); }},
    {"ScriptLocation", ScriptPage, [](LibraryCopy& lib, Host&) { lib.ExecuteJavaScript("go()"); }},
    {"FormSubmission", FormPage,
     [](LibraryCopy& lib, Host&) {
       lib.ExecuteJavaScript("document.getElementById('f').submit()");
     }},
};

class PageNavigation : public E2ETest, public ::testing::WithParamInterface<Start> {
 protected:
  void Open(const std::string& target) {
    HttpServer& http = server();
    http.Serve("/start", HtmlResponse(GetParam().page(target)));
    PixelBuffer& buffer = NewBuffer(200, 100);
    Load(buffer, http.Url("/start"));
    ASSERT_TRUE(host().WaitForTitle("ready"));
  }
};

// A server that never answers: the URL is reported all the same, while the page waits.
TEST_P(PageNavigation, UrlIsReportedWhenItStarts) {
  SilentServer slow;
  ASSERT_TRUE(slow.ok());
  const std::string target = slow.Url("/slow");
  Open(target);
  const size_t from = host().notices().size();
  GetParam().go(lib(), host());
  const std::string expected = GetParam().page == FormPage ? target + "?q=1" : target;
  EXPECT_TRUE(host().PollUntil([&] { return host().SawUrl(expected, from); },
                               "UPDATE_URL " + expected + " before any answer"));
  EXPECT_TRUE(host().Texts(UPDATE_LOAD_ERROR, from).empty()) << host().Recent();
}

// Checks the URL notices from `from` on and the log for a navigation to `hop` that the server
// redirected to `landed`: the log has the start and then the redirect, and the host hears of
// each at most once, in order, and of `landed` last. (A URL notice holds one URL: when the
// redirect comes before the host's next UpdateWeb call, only the newer one is there to report.)
void ExpectStartThenRedirect(const Host& host, const std::vector<std::string>& log, size_t from,
                             const std::string& hop, const std::string& landed) {
  const std::vector<std::string> urls = host.Texts(UPDATE_URL, from);
  const std::vector<std::string> both = {hop, landed}, last = {landed};
  EXPECT_TRUE(urls == both || urls == last) << host.Recent();
  std::vector<std::string> browsed;
  for (const std::string& line : log) {
    if (line.find("CWebClient::OnBeforeBrowse url[" + hop + "]") != std::string::npos)
      browsed.push_back(line.find("redirect[false]") != std::string::npos ? "start" : "?");
    if (line.find("CWebClient::OnBeforeBrowse url[" + landed + "]") != std::string::npos)
      browsed.push_back(line.find("redirect[true]") != std::string::npos ? "redirect" : "?");
  }
  EXPECT_EQ(browsed, (std::vector<std::string>{"start", "redirect"}));
}

// /hop answers with a redirect to /landed.
TEST_P(PageNavigation, RedirectReportsStartThenTarget) {
  lib().SetDebugEnable(true);
  HttpServer& http = server();
  http.Serve("/hop", HttpResponse{302, {{"Location", "/landed"}}, ""});
  http.Serve("/landed", HtmlResponse("<title>landed</title>"));
  const std::string hop = http.Url("/hop");
  Open(hop);
  const size_t from = host().notices().size();
  GetParam().go(lib(), host());
  ASSERT_TRUE(host().WaitForTitle("landed", from));
  ASSERT_TRUE(IdlePolls(host(), 100));
  ExpectStartThenRedirect(host(), LogLines(), from,
                          GetParam().page == FormPage ? hop + "?q=1" : hop, http.Url("/landed"));
}

INSTANTIATE_TEST_SUITE_P(Ways, PageNavigation, ::testing::ValuesIn(kStarts),
                         [](const auto& info) { return std::string(info.param.name); });

class HostNavigation : public E2ETest {};

// The host's own load through a redirect.
TEST_F(HostNavigation, RedirectReportsStartThenTarget) {
  lib().SetDebugEnable(true);
  HttpServer& http = server();
  http.Serve("/hop", HttpResponse{302, {{"Location", "/landed"}}, ""});
  http.Serve("/landed", HtmlResponse("<title>landed</title>"));
  PixelBuffer& buffer = NewBuffer(64, 48);
  Load(buffer, http.Url("/hop"));
  ASSERT_TRUE(host().WaitForTitle("landed"));
  ASSERT_TRUE(IdlePolls(host(), 100));
  ExpectStartThenRedirect(host(), LogLines(), 0, http.Url("/hop"), http.Url("/landed"));
}

}  // namespace
}  // namespace quillo_test
