// Failed loads: what the host is told (code, text, the error page's URL) and what the page then
// shows; loads that fail without a word (cancelled, handed-off schemes); failures in sub-frames.
#include <functional>
#include <string>

#include "support/data_url.h"
#include "support/e2e_fixture.h"
#include "support/sockets.h"
#include "support/waits.h"

namespace quillo_test {
namespace {

constexpr int kWidth = 320, kHeight = 240;
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kWhite{255, 255, 255};
const std::string kErrorTitle = "Page failed to load";
const std::string kDataHtml = "data:text/html;base64,";

// A red page with a title, loaded first so that a failure has something to replace.
const std::string kStartPage = kHtmlSource + "<title>start</title>" +
                               SplitPageHtml(kRed, kRed, "<script>var marker = 1;</script>");

// URL notices from `from` on whose URL is an HTML data URL that decodes to an error page.
std::vector<std::string> ErrorPagesShown(const Host& host, size_t from = 0) {
  std::vector<std::string> pages;
  for (const auto& url : host.Texts(UPDATE_URL, from)) {
    const auto page = DecodeBase64DataUrl(url);
    if (page && page->find(kErrorTitle) != std::string::npos) pages.push_back(*page);
  }
  return pages;
}

class Failures : public E2ETest {
 protected:
  // Opens the red start page and waits until it is shown.
  ::testing::AssertionResult OpenStartPage() {
    PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
    buffer_ = &buffer;
    Load(buffer, kStartPage);
    if (auto titled = host().WaitForTitle("start"); !titled) return titled;
    return WaitForView(buffer, 0, {{0, 0, kRed}, {kWidth - 1, kHeight - 1, kRed}},
                       "the start page");
  }

  PixelBuffer& buffer() { return *buffer_; }

 private:
  PixelBuffer* buffer_ = nullptr;
};

// ---- reported failures --------------------------------------------------------------------

struct FailureCase {
  const char* name;
  friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
  std::function<std::string(const LibraryCopy&)> url;
  int code;
  std::string error;  // the engine's error name
};

class ReportedFailure : public Failures, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ReportedFailure, IsReportedAloneThenShownAsErrorPage) {
  const std::string url = GetParam().url(lib());
  ASSERT_FALSE(url.empty());
  const std::string text = "net::" + GetParam().error;
  ASSERT_TRUE(OpenStartPage());

  const size_t from = host().notices().size();
  Load(buffer(), url);
  ASSERT_TRUE(
      host().PollUntil([&] { return !NoticeIndices(host(), UPDATE_LOAD_ERROR, from).empty(); },
                       "UPDATE_LOAD_ERROR for " + url));
  const size_t error_at = NoticeIndices(host(), UPDATE_LOAD_ERROR, from).front();
  const Notice error = host().notices()[error_at];
  EXPECT_EQ(error.bits, UPDATE_LOAD_ERROR) << Describe(error);
  EXPECT_EQ(error.value, GetParam().code) << Describe(error);
  EXPECT_EQ(error.text, text) << Describe(error);

  // Then the error page's own navigation.
  ASSERT_TRUE(host().PollUntil(
      [&] {
        for (const auto& u : host().Texts(UPDATE_URL, error_at)) {
          if (u.rfind(kDataHtml, 0) == 0) return true;
        }
        return false;
      },
      "UPDATE_URL with the error page's data URL"));
  std::string page_url;
  for (const auto& u : host().Texts(UPDATE_URL, error_at)) {
    if (u.rfind(kDataHtml, 0) == 0) {
      page_url = u;
      break;
    }
  }
  const auto page = DecodeBase64DataUrl(page_url);
  ASSERT_TRUE(page.has_value()) << "not a base64 data URL: " << page_url;
  EXPECT_EQ(*page, ErrorPageHtml(url, GetParam().error, GetParam().code, text));

  ASSERT_TRUE(host().WaitForTitle(kErrorTitle, from));
  EXPECT_TRUE(WaitForView(buffer(), 0, {{kWidth - 1, kHeight - 1, kWhite}}, "the error page"));
  ASSERT_TRUE(IdlePolls(host()));
  EXPECT_EQ(NoticeIndices(host(), UPDATE_LOAD_ERROR, from).size(), 1u) << host().Recent();
  EXPECT_TRUE(host().violations().empty()) << host().violations().front();
}

// The engine's other causes (a missing file, a restricted port, an unknown scheme) reach the
// load handler the same way; the engine layer's contract tests check each of them
// (tests/engine), and the error page's text for each code is the client's unit test.
INSTANTIATE_TEST_SUITE_P(Causes, ReportedFailure,
                         ::testing::Values(FailureCase{
                             "ClosedPort",
                             [](const LibraryCopy&) {
                               const uint16_t port = UnusedLoopbackPort();
                               return port ? "http://127.0.0.1:" + std::to_string(port) + "/" : "";
                             },
                             -102, "ERR_CONNECTION_REFUSED"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The markup survives the engine's URL parsing in a URL of an unknown scheme, so it reaches
// the error page as it is; there it must be text.
TEST_F(Failures, MarkupInFailedUrlIsShownAsText) {
  ASSERT_TRUE(OpenStartPage());
  const std::string url = "foo:\"><script>document.title='pwned'</script>";
  const size_t from = host().notices().size();
  Load(buffer(), url);
  ASSERT_TRUE(host().WaitForTitle(kErrorTitle, from));
  ASSERT_TRUE(IdlePolls(host()));
  EXPECT_FALSE(host().SawTitle("pwned")) << "script from the failed URL ran";
  const auto pages = ErrorPagesShown(host(), from);
  ASSERT_EQ(pages.size(), 1u) << host().Recent();
  EXPECT_EQ(pages[0].find("<script"), std::string::npos) << pages[0];
  EXPECT_NE(pages[0].find("&lt;script&gt;"), std::string::npos) << pages[0];
}

// ---- silent failures ----------------------------------------------------------------------

TEST_F(Failures, LoadCancelledByNewNavigationShowsNothing) {
  SilentServer slow;
  ASSERT_TRUE(slow.ok());
  ASSERT_TRUE(OpenStartPage());

  const size_t from = host().notices().size();
  Load(buffer(), slow.Url("/never-answered"));
  ASSERT_TRUE(
      host().PollUntil([&] { return slow.Accept() > 0; }, "the request to the slow server"));
  Load(buffer(), kHtmlSource + "<title>next</title>");
  ASSERT_TRUE(host().WaitForTitle("next", from));
  ASSERT_TRUE(IdlePolls(host()));

  EXPECT_TRUE(NoticeIndices(host(), UPDATE_LOAD_ERROR, from).empty()) << host().Recent();
  EXPECT_TRUE(ErrorPagesShown(host(), from).empty()) << host().Recent();
  EXPECT_FALSE(host().SawTitle(kErrorTitle, from)) << host().Recent();
}

TEST_F(Failures, HandedOffSchemeShowsAndRecordsNothing) {
  ASSERT_TRUE(OpenStartPage());
  const size_t from = host().notices().size();
  Load(buffer(), "tapcallback:foo");
  ASSERT_TRUE(IdlePolls(host(), 1000));

  EXPECT_TRUE(NoticeIndices(host(), UPDATE_LOAD_ERROR, from).empty()) << host().Recent();
  EXPECT_TRUE(ErrorPagesShown(host(), from).empty()) << host().Recent();
  EXPECT_TRUE(host().Texts(UPDATE_TITLE, from).empty()) << host().Recent();
  EXPECT_TRUE(ProbesMatch(buffer(), 0, {{0, 0, kRed}, {kWidth - 1, kHeight - 1, kRed}}))
      << DescribeProbes(buffer(), 0, {{0, 0, kRed}, {kWidth - 1, kHeight - 1, kRed}});
  // The start page's document is still the one shown.
  lib().ExecuteJavaScript("document.title = 'still ' + marker");
  EXPECT_TRUE(host().WaitForTitle("still 1", from));
}

// ---- sub-frames ---------------------------------------------------------------------------

TEST_F(Failures, SubFrameFailureReplacesOnlyThatFrame) {
  const uint16_t closed = UnusedLoopbackPort();
  ASSERT_NE(closed, 0);
  const std::string frame_url = "http://127.0.0.1:" + std::to_string(closed) + "/inner";
  // The frame: 200 x 100 at (0, 100); the rest of the page is red.
  constexpr int kFrameX = 0, kFrameY = 100, kFrameW = 200, kFrameH = 100;
  HttpServer& http = server();
  http.Serve("/main",
             HtmlResponse("<html><body style=\"margin:0;overflow:hidden;background:rgb(255,0,0)\">"
                          "<iframe src=\"" +
                          frame_url +
                          "\" style=\"position:absolute;left:0;top:100px;width:200px;"
                          "height:100px;border:0\"></iframe>"
                          "<script>document.title = 'main';</script></body></html>"));
  PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
  Load(buffer, http.Url("/main"));
  ASSERT_TRUE(host().WaitForTitle("main"));
  ASSERT_TRUE(host().PollUntil([&] { return !NoticeIndices(host(), UPDATE_LOAD_ERROR).empty(); },
                               "UPDATE_LOAD_ERROR for the sub-frame"));
  const Notice error = host().notices()[NoticeIndices(host(), UPDATE_LOAD_ERROR).front()];
  EXPECT_EQ(error.bits, UPDATE_LOAD_ERROR);
  EXPECT_EQ(error.value, -102);
  EXPECT_EQ(error.text, "net::ERR_CONNECTION_REFUSED");

  // The error page inside the frame: white with dark text.
  auto frame_shows_error_page = [&] {
    size_t white = 0, dark = 0;
    for (int y = kFrameY; y < kFrameY + kFrameH; ++y) {
      for (int x = kFrameX; x < kFrameX + kFrameW; ++x) {
        const Bytes4 p = ViewBytes(buffer, 0, x, y);
        white += p[0] > 240 && p[1] > 240 && p[2] > 240;
        dark += p[0] < 100 && p[1] < 100 && p[2] < 100;
      }
    }
    return white > size_t(kFrameW * kFrameH / 2) && dark > 20;
  };
  ASSERT_TRUE(host().PollUntil(frame_shows_error_page, "the error page's text inside the frame"));
  ASSERT_TRUE(IdlePolls(host()));

  const std::vector<ViewProbe> outside = {{kWidth - 1, 0, kRed},
                                          {kWidth - 1, kHeight - 1, kRed},
                                          {kFrameW + 10, kFrameY + kFrameH / 2, kRed},
                                          {kFrameW / 2, kFrameY - 5, kRed},
                                          {kFrameW / 2, kFrameY + kFrameH + 5, kRed}};
  EXPECT_TRUE(ProbesMatch(buffer, 0, outside)) << DescribeProbes(buffer, 0, outside);
  EXPECT_FALSE(host().SawTitle(kErrorTitle)) << host().Recent();
  EXPECT_EQ(host().Texts(UPDATE_TITLE).back(), "main");
  // A sub-frame's navigation is no main-frame URL notice.
  for (const auto& url : host().Texts(UPDATE_URL)) {
    EXPECT_NE(url.rfind(kDataHtml, 0), 0u) << "the main frame was told of " << url;
  }
}

}  // namespace
}  // namespace quillo_test
