// The engine layer's contract, driven through its CEF-shaped interface alone: the order of a
// browser's create, load and close callbacks; a failed load's error before its load end; the
// paint buffer's contract; a dialog answered after its browser closed; entries off the UI
// thread stopped in debug builds.
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_harness.h"
#include "support/sockets.h"
#include "wpe/process/engine_context.h"

namespace quillo_engine_test {
namespace {

constexpr uint32_t kRed = 0xFFFF0000;  // B, G, R, A read as a little-endian word
constexpr uint32_t kBlue = 0xFF0000FF;

// The events without the titles, whose place among the load events is the engine's own.
std::vector<std::string> WithoutTitles(const std::vector<std::string>& events, size_t from = 0) {
  std::vector<std::string> kept;
  for (size_t i = from; i < events.size(); ++i)
    if (events[i].rfind("title ", 0) != 0) kept.push_back(events[i]);
  return kept;
}

// ---- create, load and close ---------------------------------------------------------------

struct CloseCase {
  const char* name;
  friend void PrintTo(const CloseCase& c, std::ostream* os) { *os << c.name; }
  bool force;
  std::string script;  // the page's own
};

class Lifecycle : public EngineTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(Lifecycle, CreateLoadAndCloseCallbacksComeInOrderAndNothingAfterTheClose) {
  CefRefPtr<RecordingClient> client = new RecordingClient(160, 120);
  const std::string url = ColourPage("one", "red", GetParam().script);
  CefRefPtr<CefBrowser> browser = Create(client, url);
  ASSERT_TRUE(browser);
  // Created before it returns, and nothing else yet: the load starts in a later work.
  ASSERT_EQ(client->events(), std::vector<std::string>{"created"});

  ASSERT_TRUE(PumpUntil([&] { return client->Saw("loading 0") && client->Saw("title one"); },
                        "the page loaded"))
      << client->Describe();
  EXPECT_EQ(WithoutTitles(client->events()),
            (std::vector<std::string>{"created", "loading 1", "start", "end 200", "loading 0"}))
      << client->Describe();
  EXPECT_FALSE(browser->IsLoading());
  EXPECT_TRUE(browser->HasDocument());
  EXPECT_EQ(browser->GetMainFrame()->GetURL().ToString(), url);

  browser->GetHost()->CloseBrowser(GetParam().force);
  ASSERT_TRUE(PumpUntil([&] { return client->closed(); }, "OnBeforeClose")) << client->Describe();
  // Whatever the host asks of a closed browser is dropped.
  browser->GetMainFrame()->LoadURL(ColourPage("two", "blue"));
  browser->GetMainFrame()->ExecuteJavaScript("document.title = 'late'", "", 0);
  browser->GetHost()->Invalidate(PET_VIEW);
  browser->GetHost()->SendMouseClickEvent(CefMouseEvent(), MBT_LEFT, false, 1);
  browser->GetHost()->CloseBrowser(true);
  PumpFor(500);
  EXPECT_EQ(client->events().back(), "closed") << client->Describe();
  EXPECT_EQ(client->EventsStarting("closed").size(), 1u) << client->Describe();
  EXPECT_TRUE(client->violations().empty()) << client->Describe();
}

INSTANTIATE_TEST_SUITE_P(
    Closes, Lifecycle,
    ::testing::Values(CloseCase{"Forced", true, ""},
                      // The page's unload handler runs, then the view goes.
                      CloseCase{"Asked", false, "onunload = () => { document.title = 'gone'; };"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- failed loads ---------------------------------------------------------------------------

struct FailureCase {
  const char* name;
  friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
  std::string (*url)();
  int code;
  std::string text;
};

class LoadError : public EngineTest, public ::testing::WithParamInterface<FailureCase> {};

// A failed load is reported once, between its start and its end; the frame shows the failed URL.
TEST_P(LoadError, ComesOnceBetweenTheLoadsStartAndItsEnd) {
  const std::string url = GetParam().url();
  ASSERT_FALSE(url.empty());
  CefRefPtr<RecordingClient> client = new RecordingClient(160, 120);
  CefRefPtr<CefBrowser> browser = Create(client, ColourPage("first", "red"));
  ASSERT_TRUE(PumpUntil([&] { return client->Saw("loading 0") && client->Saw("title first"); },
                        "the first page"))
      << client->Describe();

  const size_t from = client->events().size();
  browser->GetMainFrame()->LoadURL(url);
  ASSERT_TRUE(PumpUntil([&] { return client->IndexOf("loading 0", from) >= 0; }, "the load's end"))
      << client->Describe();
  PumpFor(300);  // time for a second report
  const std::string error =
      "error " + std::to_string(GetParam().code) + " " + GetParam().text + " " + url;
  EXPECT_EQ(WithoutTitles(client->events(), from),
            (std::vector<std::string>{"loading 1", "start", error, "end 0", "loading 0"}))
      << client->Describe();
  EXPECT_EQ(browser->GetMainFrame()->GetURL().ToString(), url);
  EXPECT_FALSE(browser->IsLoading());
  EXPECT_TRUE(client->violations().empty()) << client->Describe();
}

INSTANTIATE_TEST_SUITE_P(
    Causes, LoadError,
    ::testing::Values(
        FailureCase{"ClosedPort",
                    [] {
                      const uint16_t port = quillo_test::UnusedLoopbackPort();
                      return port ? "http://127.0.0.1:" + std::to_string(port) + "/" : "";
                    },
                    -102, "net::ERR_CONNECTION_REFUSED"},
        FailureCase{"MissingFile", [] { return std::string("file:///nonexistent/missing.html"); },
                    -6, "net::ERR_FILE_NOT_FOUND"},
        // The engine shows an empty document without a failure; the layer reports it.
        FailureCase{"RestrictedPort", [] { return std::string("http://127.0.0.1:9/"); }, -312,
                    "net::ERR_UNSAFE_PORT"},
        FailureCase{"UnknownScheme", [] { return std::string("foo:bar"); }, -302,
                    "net::ERR_UNKNOWN_URL_SCHEME"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the paint buffer -----------------------------------------------------------------------

// Each paint's buffer is the whole view at its size, rows width*4 bytes apart, B, G, R, A; its
// dirty rectangles lie inside the view and cover everything that changed since the paint before
// (the client checks every pixel of every paint); the first paint and an Invalidate cover the
// whole view. A box that moves over a still page gives paints that cover less.
TEST_F(EngineTest, EveryPaintKeepsTheBufferContract) {
  constexpr int kWidth = 157, kHeight = 93;  // odd sizes, rows not a multiple of 16 bytes
  CefRefPtr<RecordingClient> client = new RecordingClient(kWidth, kHeight);
  const std::string html =
      "<!DOCTYPE html><html><head><title>paint</title></head>"
      "<body style='margin:0;overflow:hidden'>"
      "<div style='position:absolute;left:0;top:0;width:100%;height:50%;background:#f00'></div>"
      "<div style='position:absolute;left:0;top:50%;width:100%;height:50%;background:#00f'></div>"
      "<div id='box' style='position:absolute;left:0;top:10px;width:12px;height:12px;"
      "background:#0f0'></div><script>"
      "let n = 0;"
      "const step = () => { box.style.left = (n * 3) + 'px';"
      "  if (++n < 40) requestAnimationFrame(step); else document.title = 'still'; };"
      "requestAnimationFrame(step);</script></body></html>";
  CefRefPtr<CefBrowser> browser = Create(client, PageUrl(html));
  ASSERT_TRUE(PumpUntil([&] { return client->Saw("title still"); }, "the box's last move"))
      << client->Describe();
  PumpFor(200);
  EXPECT_GE(client->partial_paints(), 5) << "paints: " << client->paints();
  EXPECT_EQ(client->PixelAt(0, kHeight - 1), kBlue);
  EXPECT_EQ(client->PixelAt(kWidth - 1, 0), kRed);
  EXPECT_EQ(client->PixelAt(39 * 3 + 5, 15), 0xFF00FF00u) << "the box at its last place";
  EXPECT_EQ(client->PixelAt(5, 15), kRed) << "the box's first place, painted over";

  const int whole = client->whole_paints();
  browser->GetHost()->Invalidate(PET_VIEW);
  ASSERT_TRUE(PumpUntil([&] { return client->whole_paints() > whole; }, "the whole view again"));
  EXPECT_EQ(client->PixelAt(kWidth - 1, kHeight - 1), kBlue);
  EXPECT_TRUE(client->violations().empty()) << client->Describe();
}

// ---- dialogs --------------------------------------------------------------------------------

struct DialogCase {
  const char* name;
  friend void PrintTo(const DialogCase& c, std::ostream* os) { *os << c.name; }
  bool closeFirst;  // the browser closes before the answer comes
  bool force;       // how it closes
};

class DialogAnswer : public EngineTest, public ::testing::WithParamInterface<DialogCase> {};

// The handler keeps the dialog's callback and answers it from another thread. Before the close
// the page gets the answer; a browser that closes with the dialog open closes (the page does
// not wait for an answer that cannot come), and an answer after the close does nothing.
TEST_P(DialogAnswer, ReachesThePageOnlyWhileItsBrowserLives) {
  CefRefPtr<RecordingClient> client = new RecordingClient(120, 90);
  client->KeepDialogs();
  CefRefPtr<CefBrowser> browser =
      Create(client, ColourPage("asking", "white",
                                "onload = () => setTimeout(() => {"
                                "  document.title = 'answer:' + confirm('sure?'); }, 0);"));
  ASSERT_TRUE(PumpUntil([&] { return client->Saw("dialog confirm sure?"); }, "the dialog"))
      << client->Describe();
  ASSERT_EQ(client->dialogs().size(), 1u);
  CefRefPtr<CefJSDialogCallback> callback = client->dialogs()[0];

  if (GetParam().closeFirst) {
    browser->GetHost()->CloseBrowser(GetParam().force);
    ASSERT_TRUE(PumpUntil([&] { return client->closed(); }, "OnBeforeClose")) << client->Describe();
  }
  std::thread([callback] { callback->Continue(true, CefString()); }).join();
  callback->Continue(false, CefString());  // a second answer, on the UI thread, is ignored
  if (GetParam().closeFirst) {
    PumpFor(500);
    EXPECT_EQ(client->events().back(), "closed") << client->Describe();
  } else {
    ASSERT_TRUE(PumpUntil([&] { return client->Saw("title answer:true"); }, "the page's answer"))
        << client->Describe();
    EXPECT_FALSE(client->Saw("title answer:false")) << client->Describe();
  }
  EXPECT_TRUE(client->violations().empty()) << client->Describe();
}

INSTANTIATE_TEST_SUITE_P(Answers, DialogAnswer,
                         ::testing::Values(DialogCase{"WhileOpen", false, false},
                                           DialogCase{"AfterAForcedClose", true, true},
                                           // The page is stuck in its dialog: the close grace
                                           // runs out and the view goes by force.
                                           DialogCase{"AfterAnAskedClose", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- threads --------------------------------------------------------------------------------

// An engine entry written for the UI thread stops the process, naming itself, when another
// thread calls it (debug builds; release builds compile the check out).
TEST_F(EngineTest, AnEntryOffTheUiThreadStopsTheProcessInDebugBuilds) {
#if QUILLO_THREAD_CHECKS
  using quillo::engine::EngineContext;
  EngineContext::Get().BeginCloseWait();  // on the UI thread: nothing happens
  EngineContext::Get().EndCloseWait();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(std::thread([] { EngineContext::Get().BeginCloseWait(); }).join(),
               "BeginCloseWait.* runs off the engine's UI thread");
#else
  GTEST_SKIP() << "thread checks are compiled out of this build";
#endif
}

}  // namespace
}  // namespace quillo_engine_test
