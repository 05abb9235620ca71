// What UpdateWeb reports about a page: the URL of HTML source, the order of URL and title, and
// a title that changed again before it was collected.
#include "support/e2e_fixture.h"

namespace quillo_test {
namespace {

struct HtmlSourceCase {
  const char* name;
  friend void PrintTo(const HtmlSourceCase& c, std::ostream* os) { *os << c.name; }
  std::string html;
  std::string url;  // the URL the host is told
};

class HtmlSourceUrl : public E2ETest, public ::testing::WithParamInterface<HtmlSourceCase> {};

TEST_P(HtmlSourceUrl, IsReportedAsBase64DataUrl) {
  PixelBuffer& buffer = NewBuffer(32, 32);
  Load(buffer, kHtmlSource + GetParam().html);
  ASSERT_TRUE(host().PollUntil([&] { return !host().Texts(UPDATE_URL).empty(); }, "a URL notice"));
  EXPECT_EQ(host().Texts(UPDATE_URL).front(), GetParam().url);
  EXPECT_TRUE(host().violations().empty()) << host().violations().front();
}

INSTANTIATE_TEST_SUITE_P(
    Source, HtmlSourceUrl,
    ::testing::Values(HtmlSourceCase{"Abc", "abc", "data:text/html;base64,YWJj"},
                      HtmlSourceCase{"Empty", "", "data:text/html;base64,"},
                      // Padding and the base64 characters + and / are percent-encoded.
                      HtmlSourceCase{"Padding", "ab", "data:text/html;base64,YWI%3D"},
                      // Bytes outside ASCII are encoded as they are.
                      HtmlSourceCase{"Utf8", "<p>\xC3\x9F\xC3\xA4</p>",
                                     "data:text/html;base64,PHA%2Bw5%2FDpDwvcD4%3D"}),
    [](const auto& info) { return std::string(info.param.name); });

class Notices : public E2ETest {};

TEST_F(Notices, UrlComesBeforeTitle) {
  PixelBuffer& buffer = NewBuffer(32, 32);
  Load(buffer, kHtmlSource + "<title>ordered</title><p>x</p>");
  ASSERT_TRUE(host().WaitForTitle("ordered"));

  std::optional<size_t> first_url, first_title;
  for (size_t i = 0; i < host().notices().size(); ++i) {
    const int bits = host().notices()[i].bits;
    if ((bits & UPDATE_URL) && !first_url) first_url = i;
    if ((bits & UPDATE_TITLE) && !first_title) first_title = i;
  }
  ASSERT_TRUE(first_url.has_value()) << "the title came without any URL notice:\n"
                                     << host().Recent();
  EXPECT_LT(*first_url, *first_title) << host().Recent();
  EXPECT_EQ(host().notices()[*first_url].text.rfind("data:text/html;base64,", 0), 0u);
  EXPECT_TRUE(host().violations().empty()) << host().violations().front();
}

// The page sets its title twice in one script; only the newer one is there to report.
TEST_F(Notices, TitleChangedTwiceBeforeCollectedGivesTheNewest) {
  PixelBuffer& buffer = NewBuffer(32, 32);
  Load(buffer,
       kHtmlSource + "<script>document.title = 'first'; document.title = 'second';</script>");
  ASSERT_TRUE(host().WaitForTitle("second"));
  // Give anything still queued a few hundred units of engine work to arrive.
  const size_t target = host().calls() + 300;
  ASSERT_TRUE(host().PollUntil([&] { return host().calls() >= target; }, "300 more polls"));
  EXPECT_FALSE(host().SawTitle("first")) << host().Recent();
  EXPECT_EQ(host().Texts(UPDATE_TITLE).back(), "second");
}

// Titles as a browser tab shows them: the page's own title, its address when it names none
// (written as Chromium writes it on a tab), and never an empty title between two pages.
TEST_F(Notices, UntitledPageShowsItsAddressAndNoTitleIsEmpty) {
  HttpServer& http = server();
  http.Serve("/titled", HtmlResponse("<title>named</title><p>x</p>"));
  http.Serve("/untitled", HtmlResponse("<p>no title</p>"));
  PixelBuffer& buffer = NewBuffer(32, 32);
  const std::string untitled = "127.0.0.1:" + std::to_string(http.port()) + "/untitled";

  Load(buffer, http.Url("/titled"));
  ASSERT_TRUE(host().WaitForTitle("named"));
  Load(buffer, http.Url("/untitled?q=1"));
  ASSERT_TRUE(host().WaitForTitle(untitled + "?q=1"));
  size_t from = host().notices().size();
  Load(buffer, http.Url("/titled"));
  ASSERT_TRUE(host().WaitForTitle("named", from));
  // A script that empties the title of a loaded page: the tab shows the address again.
  lib().ExecuteJavaScript("document.title = ''");
  ASSERT_TRUE(host().WaitForTitle("127.0.0.1:" + std::to_string(http.port()) + "/titled"));
  // HTML source without a title shows its data URL.
  from = host().notices().size();
  Load(buffer, kHtmlSource + "abc");
  ASSERT_TRUE(host().WaitForTitle("data:text/html;base64,YWJj", from));

  for (const std::string& title : host().Texts(UPDATE_TITLE))
    EXPECT_FALSE(title.empty()) << "an empty title was reported:\n" << host().Recent();
}

}  // namespace
}  // namespace quillo_test
