// What a careless or broken host sends: null and empty texts, oversized and
// invalid texts, impossible rectangles, null memory, words out of range, and
// every export before the engine, after a close and after the final shutdown.
// The library must stay up, keep its notice contract and never write outside
// the host's memory.
#include <glib.h>

#include <climits>
#include <string>

#include "support/e2e_fixture.h"

namespace quillo_test {
namespace {

class HostileInput : public E2ETest {
 protected:
  // Sends every export its worst arguments; none of them may crash or block.
  void SendGarbageToEveryExport() {
    lib().ExecuteJavaScript(nullptr);
    lib().ExecuteJavaScript("");
    lib().ExecuteJavaScript("\xFF\xFE invalid \xC3(");
    lib().ReserveInvalidRedirectUrlSchemes(nullptr);
    lib().ReserveInvalidRedirectUrlSchemes("");
    lib().ReserveInvalidRedirectUrlSchemes(";;;\xFF;");
    lib().GoBackForwardHome(INT_MIN);
    lib().GoBackForwardHome(INT_MAX);
    const int words[] = {0,      -1,     INT_MIN, INT_MAX, 0xFFFF, 0x1010 | 0x800 | 0xF,
                         0x1040, 0x2050, 0x3010,  0x4000,  0x2060, 0x2070};
    for (int word : words) lib().InputWeb(word, INT_MIN, INT_MAX);
    lib().InputWeb(0x1010, -100000, 100000);  // a click far outside the view
    lib().InputWeb(0x1020, -100000, 100000);
    lib().InputWeb(0x2050, 0, 0x7FFFFFFF);
    void* text = nullptr;
    int value = 0;
    lib().UpdateWeb(nullptr, nullptr);
    lib().UpdateWeb(&text, nullptr);
    lib().UpdateWeb(nullptr, &value);
    lib().SetDebugEnableByte(0xFF);
  }
};

TEST_F(HostileInput, BeforeTheFirstLoadWebNothingHappens) {
  SendGarbageToEveryExport();
  void* text = Host::kTextSentinel;
  int value = Host::kValueSentinel;
  EXPECT_EQ(lib().UpdateWeb(&text, &value), -1);
  EXPECT_EQ(text, Host::kTextSentinel);
  EXPECT_EQ(value, Host::kValueSentinel);
  lib().UnloadWeb(false);
  lib().UnloadWeb(true);
}

TEST_F(HostileInput, NullAndOversizedArgumentsToLoadWeb) {
  // No memory, no URL, no language: the engine starts and stays sound.
  lib().LoadWeb(0, 0, 64, 48, nullptr, nullptr, -1, nullptr);
  ASSERT_TRUE(host().WaitUntilReady());
  SendGarbageToEveryExport();
  ASSERT_TRUE(host().PollUntil([&] { return host().calls() > 200; }, "200 polls"));
  EXPECT_TRUE(host().violations().empty()) << host().violations().front();

  // A long language, a long URL with invalid bytes, on the live browser.
  std::string url = kHtmlSource + "<title>" + std::string(100 * 1024, 'x') + "\xFF\xC3</title>";
  lib().LoadWeb(0, 0, 64, 48, nullptr, url.c_str(), 0, "de-DE-1996-extra-long");
  ASSERT_TRUE(host().PollUntil(
      [&] {
        // The engine itself keeps titles to 1,000 characters; the URL
        // notice carries the long text.
        bool longTitle = false, longUrl = false;
        for (const std::string& title : host().Texts(UPDATE_TITLE))
          longTitle |= title.size() >= 1000;
        for (const std::string& u : host().Texts(UPDATE_URL)) longUrl |= u.size() >= 2000;
        return longTitle && longUrl;
      },
      "the long title and URL"));
  for (const std::string& title : host().Texts(UPDATE_TITLE)) {
    EXPECT_LE(title.size(), 2047u);
    EXPECT_TRUE(g_utf8_validate(title.data(), static_cast<gssize>(title.size()), nullptr))
        << "title cut inside a character";
  }
  for (const std::string& u : host().Texts(UPDATE_URL)) {
    EXPECT_LE(u.size(), 2047u);
    EXPECT_TRUE(g_utf8_validate(u.data(), static_cast<gssize>(u.size()), nullptr));
  }
  EXPECT_TRUE(host().violations().empty()) << host().violations().front();
}

struct Rect {
  const char* name;
  int x, y, width, height;
};

class HostileRect : public HostileInput, public ::testing::WithParamInterface<Rect> {};

TEST_P(HostileRect, NothingIsWrittenOutsideTheHostsMemory) {
  const Rect r = GetParam();
  // The host hands over memory for the rectangle it names (none for empty ones).
  const int w = r.width > 0 ? r.width : 1;
  const int h = r.height > 0 ? r.height : 1;
  PixelBuffer& buffer = NewBuffer(w, h);
  buffer.FillUnpainted();
  lib().LoadWeb(r.x, r.y, r.width, r.height, buffer.data(),
                (kHtmlSource + "<title>rect</title><body style='background:red'>").c_str(), 0,
                "en");
  ASSERT_TRUE(host().WaitForTitle("rect"));
  ASSERT_TRUE(host().PollUntil([&] { return host().calls() > 300; }, "300 polls"));
  std::string where;
  EXPECT_TRUE(buffer.GuardsIntact(&where)) << where;
  if (r.width <= 0 || r.height <= 0) {
    EXPECT_TRUE(buffer.AllUnpainted());
  }
}

INSTANTIATE_TEST_SUITE_P(Views, HostileRect,
                         ::testing::Values(Rect{"Zero", 0, 0, 0, 0},
                                           Rect{"Negative", -5, -5, -20, -30},
                                           Rect{"NegativeWidth", 0, 0, -64, 48},
                                           Rect{"OffsetOrigin", -1000, 2000, 40, 30},
                                           Rect{"OnePixel", 0, 0, 1, 1},
                                           Rect{"Wide", 0, 0, 9000, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostileInput, AfterACloseAndAfterTheFinalShutdown) {
  lib().SetDebugEnable(true);
  PixelBuffer& buffer = NewBuffer(64, 48);
  Load(buffer, kHtmlSource + "<title>up</title>");
  ASSERT_TRUE(host().WaitForTitle("up"));
  ASSERT_TRUE(CloseBrowser());
  SendGarbageToEveryExport();

  // The page opens again after the close.
  Load(buffer, kHtmlSource + "<title>again</title>");
  ASSERT_TRUE(host().WaitForTitle("again"));

  Shutdown();
  // After the final shutdown nothing may block (the test's time limit would
  // catch a wait on a table no thread empties) or restart: LoadWeb logs and
  // returns, posts find no engine, polls answer without pixels.
  SendGarbageToEveryExport();
  buffer.FillUnpainted();
  lib().LoadWeb(0, 0, 64, 48, buffer.data(), (kHtmlSource + "<title>late</title>").c_str(), 0,
                "en");
  for (int i = 0; i < 20; ++i) lib().GoBackForwardHome(0);  // would fill a dead table
  for (int i = 0; i < 50; ++i) {
    void* text = nullptr;
    int value = 0;
    int r = lib().UpdateWeb(&text, &value);
    EXPECT_FALSE(r > 0 && (r & UPDATE_TITLE)) << "a page came back after the final shutdown";
  }
  EXPECT_TRUE(buffer.AllUnpainted());
}

}  // namespace
}  // namespace quillo_test
