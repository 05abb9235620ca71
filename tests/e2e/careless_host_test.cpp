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

}  // namespace
}  // namespace quillo_test
