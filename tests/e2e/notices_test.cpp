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

}  // namespace
}  // namespace quillo_test
