// What the engine sends to a web server: the Accept-Language header, and cookies kept or
// deleted across a reopened browser, with the page's other storage kept and nothing on disk.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/e2e_fixture.h"

namespace quillo_test {
namespace {

struct LanguageCase {
  const char* name;
  friend void PrintTo(const LanguageCase& c, std::ostream* os) { *os << c.name; }
  std::string language;  // given to LoadWeb
  std::string prefix;    // what the header starts with; empty: the engine's own default
};

class AcceptLanguage : public E2ETest, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(AcceptLanguage, HeaderStartsWithTheLanguageGiven) {
  HttpServer& http = server();
  http.Serve("/lang", HtmlResponse("<title>lang</title>"));
  PixelBuffer& buffer = NewBuffer(32, 32);
  Load(buffer, http.Url("/lang"), 0, GetParam().language);
  ASSERT_TRUE(host().PollUntil([&] { return http.CountRequestsFor("/lang") > 0; },
                               "the page's request to the server"));

  const auto header = http.RequestsFor("/lang").front().Header("Accept-Language");
  ASSERT_TRUE(header.has_value()) << "the request carries no Accept-Language header";
  if (GetParam().prefix.empty()) {
    EXPECT_FALSE(header->empty());
    EXPECT_FALSE(StartsWithIgnoringCase(*header, "de")) << *header;
  } else {
    EXPECT_TRUE(StartsWithIgnoringCase(*header, GetParam().prefix)) << *header;
  }
}

INSTANTIATE_TEST_SUITE_P(Language, AcceptLanguage,
                         ::testing::Values(LanguageCase{"German", "de-DE", "de-DE"},
                                           LanguageCase{"List", "fr-CA,en", "fr-CA"},
                                           LanguageCase{"Empty", "", ""}),
                         [](const auto& info) { return std::string(info.param.name); });

struct CookieCase {
  const char* name;
  friend void PrintTo(const CookieCase& c, std::ostream* os) { *os << c.name; }
  int options;
  bool kept;  // whether the cookie survives the reopened browser
};

class Cookies : public E2ETest, public ::testing::WithParamInterface<CookieCase> {};

// Local storage and IndexedDB are not cookies: the delete option leaves them, and everything
// lives in memory only (no file under the engine's data and cache folders holds it).
TEST_P(Cookies, SurviveReopenUnlessDeleteOptionIsSet) {
  namespace fs = std::filesystem;
  const fs::path home = fs::temp_directory_path() / ("quillo-home-" + std::to_string(getpid()));
  fs::create_directories(home);
  for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"})
    setenv(name, home.c_str(), 1);
  lib().SetDebugEnable(true);  // the close is seen in the log
  HttpServer& http = server();
  http.Serve("/set", HtmlResponse("<script>"
                                  "localStorage.setItem('quillo_local', 'local_kept');"
                                  "const open = indexedDB.open('quillo_db', 1);"
                                  "open.onupgradeneeded = () => open.result.createObjectStore('s');"
                                  "open.onsuccess = () => {"
                                  "  const t = open.result.transaction('s', 'readwrite');"
                                  "  t.objectStore('s').put('idb_kept', 'k');"
                                  "  t.oncomplete = () => document.title = 'set';"
                                  "};</script>",
                                  {{"Set-Cookie", "quillo_probe=kept; Path=/; HttpOnly"}}));
  http.Serve("/live", HtmlResponse("<title>live</title>"));
  http.Serve("/reopened",
             HtmlResponse("<script>"
                          "const local = localStorage.getItem('quillo_local');"
                          "const open = indexedDB.open('quillo_db', 1);"
                          "open.onupgradeneeded = () => open.result.createObjectStore('s');"
                          "open.onsuccess = () => {"
                          "  const get = open.result.transaction('s').objectStore('s').get('k');"
                          "  get.onsuccess = () => document.title = 'stored:' + local + ',' +"
                          "    get.result;"
                          "};</script>"));
  const int options = GetParam().options;

  PixelBuffer& buffer = NewBuffer(32, 32);
  Load(buffer, http.Url("/set"), options);
  ASSERT_TRUE(host().WaitForTitle("set"));

  // Loading into the live browser never deletes cookies: the server gets it back.
  Load(buffer, http.Url("/live"), options);
  ASSERT_TRUE(host().WaitForTitle("live"));
  ASSERT_FALSE(http.RequestsFor("/live").empty());
  const std::string live_cookie = http.RequestsFor("/live").front().Header("Cookie").value_or("");
  ASSERT_NE(live_cookie.find("quillo_probe=kept"), std::string::npos)
      << "the engine did not keep the cookie at all; Cookie: \"" << live_cookie << "\"";

  ASSERT_TRUE(CloseBrowser());
  Load(buffer, http.Url("/reopened"), options);
  ASSERT_TRUE(host().PollUntil([&] { return http.CountRequestsFor("/reopened") > 0; },
                               "the reopened browser's request"));
  const std::string cookie = http.RequestsFor("/reopened").front().Header("Cookie").value_or("");
  if (GetParam().kept) {
    EXPECT_NE(cookie.find("quillo_probe=kept"), std::string::npos)
        << "Cookie: \"" << cookie << "\"";
  } else {
    EXPECT_EQ(cookie.find("quillo_probe"), std::string::npos) << "Cookie: \"" << cookie << "\"";
  }
  EXPECT_TRUE(host().WaitForTitle("stored:local_kept,idb_kept"));

  Shutdown();
  for (const auto& entry : fs::recursive_directory_iterator(home)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    for (const char* probe : {"quillo_probe", "local_kept", "idb_kept", "quillo_db"})
      EXPECT_EQ(bytes.find(probe), std::string::npos) << probe << " on disk in " << entry.path();
  }
  std::error_code ignored;
  fs::remove_all(home, ignored);
}

INSTANTIATE_TEST_SUITE_P(
    Options, Cookies,
    ::testing::Values(CookieCase{"Default", 0, true},
                      CookieCase{"PaintBitsOnly", PAINT_SWAP_RED_BLUE | PAINT_BOTTOM_UP, true},
                      CookieCase{"DeleteCookies", LOAD_DELETE_COOKIES, false},
                      CookieCase{"DeleteCookiesWithPaintBits",
                                 LOAD_DELETE_COOKIES | PAINT_SWAP_RED_BLUE, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillo_test
