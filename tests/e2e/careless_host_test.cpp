// Hosts that do ordinary but careless things: leave a page that guards against unloading,
// call LoadWeb twice in quick succession, close and reopen without polling, close before the
// engine is up. The host's memory lies between guard pages and is taken back (made
// inaccessible) as soon as the host no longer hands it over, so a stray paint kills the test.
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "support/e2e_fixture.h"
#include "support/guarded_memory.h"
#include "support/log_file.h"
#include "support/sockets.h"
#include "support/waits.h"

namespace quillo_test {
namespace {

std::string ColourPage(const std::string& title, const Rgb& colour, const std::string& extra = "") {
  return "<title>" + title + "</title><body style='margin:0;background:" + CssColour(colour) +
         "'>" + extra + "</body>";
}

// A page that asks before it is left, as forms with unsaved changes do.
std::string GuardPage(const std::string& title) {
  return ColourPage(title, {200, 0, 0},
                    "<script>addEventListener('beforeunload', e => {"
                    " e.preventDefault(); e.returnValue = 'unsaved changes'; });"
                    "addEventListener('click', () => { document.title = 'touched'; });</script>");
}

class CarelessHost : public E2ETest {
 protected:
  GuardedMemory& NewMemory(int width, int height) {
    return *memories_.emplace_back(std::make_unique<GuardedMemory>(width, height));
  }
  void LoadInto(GuardedMemory& memory, const std::string& url) {
    LoadMemory(memory.data(), memory.width(), memory.height(), url);
  }
  // Whether the pixel at (x, y) of the memory shows the colour (B, G, R, A order).
  static bool Shows(const GuardedMemory& memory, int x, int y, const Rgb& c) {
    const uint8_t* p = memory.data() + (static_cast<size_t>(y) * memory.width() + x) * 4;
    return std::abs(p[0] - c.b) <= 3 && std::abs(p[1] - c.g) <= 3 && std::abs(p[2] - c.r) <= 3;
  }
  ::testing::AssertionResult WaitForColour(const GuardedMemory& memory, const Rgb& c,
                                           const std::string& what) {
    return host().PollUntil(
        [&] { return Shows(memory, memory.width() / 2, memory.height() / 2, c); }, what);
  }
  void Click(int x, int y) {
    lib().InputWeb(INPUT_MOUSE | INPUT_MOUSE_MOVE, x, y);
    lib().InputWeb(INPUT_MOUSE | INPUT_MOUSE_DOWN, x, y);
    lib().InputWeb(INPUT_MOUSE | INPUT_MOUSE_UP, x, y);
  }
  void TearDown() override {
    E2ETest::TearDown();  // the engine is shut down before the memory goes
    memories_.clear();
  }

 private:
  std::vector<std::unique_ptr<GuardedMemory>> memories_;
};

// ---- leaving a page that guards against unloading -------------------------------------------

enum class Leave { kLoadWeb, kCloseAndReopen, kOwnNavigation, kScriptTouch };

class BeforeUnload : public CarelessHost, public ::testing::WithParamInterface<Leave> {};

TEST_P(BeforeUnload, ThePageIsLeftAndTheNextOneShows) {
  lib().SetDebugEnable(true);
  server().Serve("/guard", HtmlResponse(GuardPage("guarded")));
  server().Serve("/next", HtmlResponse(ColourPage("next", {0, 0, 255})));
  PixelBuffer& buffer = NewBuffer(80, 60);
  Load(buffer, server().Url("/guard"));
  ASSERT_TRUE(host().WaitForTitle("guarded"));
  ASSERT_TRUE(WaitForView(buffer, 0, {{40, 30, {200, 0, 0}}}, "the guarded page"));
  // The user touches the page (the engine asks before unload only after a gesture).
  const size_t touched = host().notices().size();
  if (GetParam() == Leave::kScriptTouch) {
    lib().ExecuteJavaScript("document.title = 'touched';");
  } else {
    Click(40, 30);
  }
  ASSERT_TRUE(host().WaitForTitle("touched", touched));
  const size_t from = host().notices().size();
  switch (GetParam()) {
    case Leave::kLoadWeb:
    case Leave::kScriptTouch:
      Load(buffer, server().Url("/next"));
      break;
    case Leave::kCloseAndReopen:
      ASSERT_TRUE(CloseBrowser());
      Load(buffer, server().Url("/next"));
      break;
    case Leave::kOwnNavigation:
      lib().ExecuteJavaScript(("location.href = '" + server().Url("/next") + "';").c_str());
      break;
  }
  ASSERT_TRUE(host().WaitForTitle("next", from));
  EXPECT_TRUE(WaitForView(buffer, 0, {{40, 30, {0, 0, 255}}}, "the next page"));
  if (GetParam() != Leave::kCloseAndReopen) {
    EXPECT_GE(CountLinesContaining(LogLines(), "CWebClient::OnBeforeUnloadDialog"), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Ways, BeforeUnload,
                         ::testing::Values(Leave::kLoadWeb, Leave::kCloseAndReopen,
                                           Leave::kOwnNavigation, Leave::kScriptTouch),
                         [](const auto& info) {
                           switch (info.param) {
                             case Leave::kLoadWeb:
                               return std::string("LoadWeb");
                             case Leave::kCloseAndReopen:
                               return std::string("CloseAndReopen");
                             case Leave::kOwnNavigation:
                               return std::string("OwnNavigation");
                             case Leave::kScriptTouch:
                               return std::string("ScriptTouch");
                           }
                           return std::string("unknown");
                         });

// ---- LoadWeb and UnloadWeb in quick succession ----------------------------------------------

// The log line of a LoadWeb whose arguments other than the URL are not used.
const std::string kArgumentsIgnored = "only its URL is loaded";

// Two LoadWeb calls at start-up with `gap` microseconds between them, then reopen races in the
// same process: the first call of each opening fixes the memory; later ones only load a URL.
class StartupRace : public CarelessHost, public ::testing::WithParamInterface<int> {};

TEST_P(StartupRace, TheFirstLoadKeepsItsMemoryAndTheLastUrlShows) {
  lib().SetDebugEnable(true);
  constexpr int kW = 64, kH = 48;
  GuardedMemory& a = NewMemory(kW, kH);
  GuardedMemory& b = NewMemory(kW, kH);
  LoadInto(a, kHtmlSource + ColourPage("a", {255, 0, 0}));
  if (GetParam() > 0) std::this_thread::sleep_for(std::chrono::microseconds(GetParam()));
  LoadInto(b, kHtmlSource + ColourPage("b", {0, 255, 0}));
  b.Revoke();  // never opened with: any write into it kills the test
  ASSERT_TRUE(host().WaitForTitle("b"));
  ASSERT_TRUE(WaitForColour(a, {0, 255, 0}, "the second URL in the first call's memory"));
  EXPECT_GE(CountLinesContaining(LogLines(), kArgumentsIgnored), 1u);

  // Closed, then opened twice at once: the first of the two fixes the memory.
  GuardedMemory& c = NewMemory(kW, kH);
  GuardedMemory& d = NewMemory(kW, kH);
  lib().UnloadWeb(false);
  LoadInto(c, kHtmlSource + ColourPage("c", {0, 0, 255}));
  a.Revoke();  // handed over no more once a later opening has returned
  LoadInto(d, kHtmlSource + ColourPage("d", {255, 255, 0}));
  d.Revoke();
  size_t from = host().notices().size();
  ASSERT_TRUE(host().WaitForTitle("d", from));
  ASSERT_TRUE(WaitForColour(c, {255, 255, 0}, "the later URL in the memory of the opening"));

  // Open, close and open again without a single poll between.
  GuardedMemory& e = NewMemory(kW, kH);
  GuardedMemory& f = NewMemory(kW, kH);
  lib().UnloadWeb(false);
  LoadInto(e, kHtmlSource + ColourPage("e", {0, 255, 255}));
  c.Revoke();
  lib().UnloadWeb(false);
  LoadInto(f, kHtmlSource + ColourPage("f", {255, 0, 255}));
  e.Revoke();
  from = host().notices().size();
  ASSERT_TRUE(host().WaitForTitle("f", from));
  ASSERT_TRUE(WaitForColour(f, {255, 0, 255}, "the page of the last opening"));
}

INSTANTIATE_TEST_SUITE_P(GapMicroseconds, StartupRace, ::testing::Values(0, 300, 1000, 2000, 3000));

TEST_F(CarelessHost, ACloseBeforeTheEngineIsUpLeavesInputWorkingOnTheNextPage) {
  constexpr int kW = 64, kH = 48;
  GuardedMemory& a = NewMemory(kW, kH);
  GuardedMemory& b = NewMemory(kW, kH);
  LoadInto(a, kHtmlSource + ColourPage("a", {255, 0, 0}));
  lib().UnloadWeb(false);
  ASSERT_TRUE(IdlePolls(host(), 200));
  LoadInto(b, kHtmlSource + ColourPage("b", {0, 0, 255},
                                       "<script>addEventListener('mousedown', () => {"
                                       " document.title = 'clicked'; });</script>"));
  a.Revoke();
  ASSERT_TRUE(host().WaitForTitle("b"));
  ASSERT_TRUE(WaitForColour(b, {0, 0, 255}, "the page of the second opening"));
  const size_t from = host().notices().size();
  Click(kW / 2, kH / 2);
  EXPECT_TRUE(host().WaitForTitle("clicked", from));
}

// ---- a page that will not let go ---------------------------------------------------------------

// A dialog the page opens while the next page is on its way (here a server that never answers)
// would hold the page's process, and with it that next page, until the host answered it. It is
// dismissed: the host never hears of it, and the page's script goes on.
TEST_F(CarelessHost, ADialogOpenedWhileTheNextPageIsOnItsWayIsDismissed) {
  SilentServer silent;
  ASSERT_TRUE(silent.ok());
  PixelBuffer& buffer = NewBuffer(80, 60);
  Load(buffer, kHtmlSource + ColourPage("first", {200, 0, 0}));
  ASSERT_TRUE(host().WaitForTitle("first"));
  const size_t from = host().notices().size();
  Load(buffer, silent.Url("/never-answered"));
  lib().ExecuteJavaScript("setTimeout(() => { alert('stay'); document.title = 'went on'; }, 200)");
  ASSERT_TRUE(host().PollUntil([&] { return silent.Accept() > 0; }, "the next page's request"));
  ASSERT_TRUE(host().WaitForTitle("went on", from));
  EXPECT_TRUE(NoticeIndices(host(), UPDATE_JS_DIALOG, from).empty()) << host().Recent();
}

// ---- engine signals after the page is gone ---------------------------------------------------

// Frames whose documents never arrive fail only once the page has been closed (their
// connections are dropped after the close); none of those failures may reach the closed
// browser. Run under AddressSanitizer, a stray one is a use after free.
TEST_F(CarelessHost, FramesThatFailAfterTheCloseDoNotReachTheClosedBrowser) {
  lib().SetDebugEnable(true);  // the close is observed through the log
  PixelBuffer& buffer = NewBuffer(80, 60);
  for (int round = 0; round < 3; ++round) {
    auto silent = std::make_unique<SilentServer>();
    ASSERT_TRUE(silent->ok());
    std::string frames;
    for (int i = 0; i < 24; ++i)
      frames += "<iframe src='" + silent->Url("/frame" + std::to_string(i)) + "'></iframe>";
    const std::string title = "frames " + std::to_string(round);
    const size_t from = host().notices().size();
    Load(buffer, kHtmlSource + "<title>" + title + "</title>" + frames);
    ASSERT_TRUE(host().WaitForTitle(title, from));
    ASSERT_TRUE(host().PollUntil([&] { return silent->Accept() >= 4; }, "frame requests"));
    ASSERT_TRUE(CloseBrowser());
    silent.reset();  // the frames' connections drop now
    ASSERT_TRUE(IdlePolls(host(), 200));
  }
  Load(buffer, kHtmlSource + ColourPage("after", {0, 128, 0}));
  ASSERT_TRUE(host().WaitForTitle("after"));
  EXPECT_TRUE(WaitForView(buffer, 0, {{40, 30, {0, 128, 0}}}, "the page after the closes"));
}

}  // namespace
}  // namespace quillo_test
