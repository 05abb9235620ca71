// The client's pure parts: URL conversion, data URLs, the error page and the
// cross-thread browser reference.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "cef_parser.h"
#include "client/atomic_ref_ptr.h"
#include "client/data_url.h"
#include "client/error_page.h"
#include "client/web_client.h"

namespace quillo {
namespace {

CefRefPtr<CWebClient> MakeClient(const char* url) {
  return new CWebClient(CefRect(0, 0, 10, 10), nullptr, url, 0);
}

TEST(Urls, HtmlSourceBecomesADataUrl) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"quillo_htmlsource:abc", "data:text/html;base64,YWJj"},
      {"quillo_htmlsource:", "data:text/html;base64,"},
      // base64's '+', '/' and '=' are percent-encoded
      {"quillo_htmlsource:<a>?", "data:text/html;base64,PGE%2BPw%3D%3D"},
      {"quillo_htmlsource:\xC3\xA9", "data:text/html;base64,w6k%3D"},  // bytes as given
      {"http://x/quillo_htmlsource:abc", "http://x/quillo_htmlsource:abc"},
      {"QUILLO_HTMLSOURCE:abc", "QUILLO_HTMLSOURCE:abc"},
      {"", ""},
  };
  CefRefPtr<CWebClient> client = MakeClient(nullptr);
  for (const Case& c : cases) EXPECT_EQ(client->ConvertUrl(c.in).ToString(), c.out) << c.in;
  EXPECT_TRUE(client->ConvertUrl(nullptr).empty());
}

TEST(Urls, TheHomeUrlIsTheConvertedCreationUrl) {
  CefRefPtr<CWebClient> client = MakeClient("quillo_htmlsource:abc");
  EXPECT_EQ(client->GetHomeUrl().ToString(), "data:text/html;base64,YWJj");
  // Without a browser, loading changes nothing and does not crash.
  client->LoadUrl("about:blank");
  client->ExecuteJavaScript("1");
  client->ExecuteJavaScript(nullptr);
  EXPECT_EQ(client->GetHomeUrl().ToString(), "data:text/html;base64,YWJj");
}

TEST(Encoders, Base64AndUriEncoding) {
  EXPECT_EQ(CefBase64Encode("", 0).ToString(), "");
  EXPECT_EQ(CefBase64Encode("f", 1).ToString(), "Zg==");
  EXPECT_EQ(CefBase64Encode("fo", 2).ToString(), "Zm8=");
  EXPECT_EQ(CefBase64Encode("foobar", 6).ToString(), "Zm9vYmFy");
  EXPECT_EQ(CefURIEncode(CefString("a b+c/é"), false).ToString(), "a%20b%2Bc%2F%C3%A9");
  EXPECT_EQ(CefURIEncode(CefString("a b"), true).ToString(), "a+b");
  EXPECT_EQ(CefURIEncode(CefString("-_.~!*'()%=&?#[]"), false).ToString(),
            "-_.~!*'()%25%3D%26%3F%23%5B%5D");
  EXPECT_EQ(BuildDataUrl("abc", "text/plain"), "data:text/plain;base64,YWJj");
}

TEST(ErrorPage, ExactPage) {
  EXPECT_EQ(BuildErrorPage("http://a.invalid/", -105, "net::ERR_NAME_NOT_RESOLVED"),
            "<html><head><title>Page failed to load</title></head><body bgcolor=\"white\">"
            "<h3>Page failed to load.</h3>URL: <a href=\"http://a.invalid/\">http://a.invalid/"
            "</a><br/><br/>Error: ERR_NAME_NOT_RESOLVED (-105)<br/><br/>"
            "net::ERR_NAME_NOT_RESOLVED</body></html>");
}

TEST(ErrorPage, UnknownCodesAndEmptyText) {
  std::string page = BuildErrorPage("u", -12, "");
  EXPECT_NE(page.find("Error: UNKNOWN (-12)</body></html>"), std::string::npos) << page;
  EXPECT_EQ(page.find("(-12)<br/><br/>"), std::string::npos);
  struct Case {
    int code;
    const char* name;
  } names[] = {{0, "ERR_NONE"},
               {-3, "ERR_ABORTED"},
               {-102, "ERR_CONNECTION_REFUSED"},
               {-213, "ERR_CERT_END"},
               {-302, "ERR_UNKNOWN_URL_SCHEME"},
               {-501, "ERR_INSECURE_RESPONSE"},
               {-1, "UNKNOWN"},
               {1, "UNKNOWN"}};
  for (const Case& c : names) EXPECT_STREQ(ErrorCodeName(c.code), c.name) << c.code;
}

TEST(ErrorPage, MarkupInTheUrlOrTextIsEscaped) {
  std::string page = BuildErrorPage("http://x/\"><script>alert('x')</script>&", -2, "<b>t</b>");
  EXPECT_EQ(page.find("<script>"), std::string::npos);
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_NE(page.find("http://x/&quot;&gt;&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;&amp;"),
            std::string::npos);
  EXPECT_NE(page.find("&lt;b&gt;t&lt;/b&gt;</body>"), std::string::npos);
}

// A counted object that checks it is alive whenever it is used.
class Probe : public CefBaseRefCounted {
 public:
  explicit Probe(std::atomic<int>& live) : m_live(live) { ++m_live; }
  bool Alive() const { return m_magic == 0x600DF00D; }
  IMPLEMENT_REFCOUNTING(Probe);

 private:
  ~Probe() override {
    m_magic = 0;
    --m_live;
  }
  std::atomic<int>& m_live;
  volatile int m_magic = 0x600DF00D;
};

TEST(AtomicRefPtr, ReadersSurviveConcurrentReplacement) {
  std::atomic<int> live{0};
  {
    AtomicRefPtr<Probe> shared;
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    std::atomic<long> seen{0};
    for (int r = 0; r < 2; ++r) {
      readers.emplace_back([&] {
        while (!stop.load()) {
          CefRefPtr<Probe> p = shared.Load();
          if (p) {
            ASSERT_TRUE(p->Alive());
            ++seen;
          }
        }
      });
    }
    // Keep replacing until the readers have copied many times (bounded).
    for (int i = 0; (i < 20000 || seen.load() < 1000) && i < 50000000; ++i)
      shared.Store(i % 3 == 2 ? nullptr : new Probe(live));
    stop.store(true);
    for (auto& t : readers) t.join();
    EXPECT_GT(seen.load(), 0);
  }
  EXPECT_EQ(live.load(), 0) << "a reference leaked";
}

}  // namespace
}  // namespace quillo
