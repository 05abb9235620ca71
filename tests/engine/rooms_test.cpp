// A room of the browser on its own: built around a fake browser side instead of BrowserImpl,
// on a real view, so the test holds what the room hands its browser (the posts to the UI
// thread) and decides when the view goes.
#include <wpe/webkit.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/engine_harness.h"
#include "wpe/frame/frame_sink.h"
#include "wpe/navigation/stuck_page_guard.h"
#include "wpe/page/script_dialogs.h"
#include "wpe/room/browser_side.h"
#include "wpe/room/frame_impl.h"
#include "wpe/view_host.h"

namespace quillo_engine_test {
namespace {

using quillo::engine::BrowserSide;
using quillo::engine::BrowserState;
using quillo::engine::FrameImpl;

class FakeBrowser : public CefBrowser {
 public:
  CefRefPtr<CefBrowserHost> GetHost() override { return nullptr; }
  bool CanGoBack() override { return false; }
  void GoBack() override {}
  bool CanGoForward() override { return false; }
  void GoForward() override {}
  bool IsLoading() override { return false; }
  void Reload() override {}
  void StopLoad() override {}
  int GetIdentifier() override { return 1000; }
  bool IsSame(CefRefPtr<CefBrowser> that) override { return that.get() == this; }
  bool IsPopup() override { return false; }
  bool HasDocument() override { return true; }
  CefRefPtr<CefFrame> GetMainFrame() override { return nullptr; }
  CefRefPtr<CefFrame> GetFocusedFrame() override { return nullptr; }
  IMPLEMENT_REFCOUNTING(FakeBrowser);
};

// The side a room sees; its posts wait here until the test runs them.
class FakeSide : public BrowserSide {
 public:
  explicit FakeSide(CefRefPtr<CefClient> client) : client_(client) {}

  CefBrowser* Browser() override { return browser_.get(); }
  CefClient& Client() override { return *client_; }
  FrameImpl& MainFrame() override { return *frame_; }
  BrowserState& State() override { return state_; }
  WebKitWebView* View() const override { return view; }
  bool ViewGone() const override { return gone; }
  void Post(std::function<void()> task) override { posted.push_back(std::move(task)); }

  // Runs what was posted, as the browser does: not once the view has gone.
  void RunPosted() {
    std::vector<std::function<void()>> tasks = std::move(posted);
    posted.clear();
    for (auto& task : tasks)
      if (!gone) task();
  }

  WebKitWebView* view = nullptr;
  bool gone = false;
  std::vector<std::function<void()>> posted;

 private:
  CefRefPtr<CefClient> client_;
  CefRefPtr<CefBrowser> browser_ = new FakeBrowser;
  CefRefPtr<FrameImpl> frame_ = new FrameImpl(nullptr, true, 1);
  BrowserState state_;
};

class Rooms : public EngineTest {
 protected:
  std::string Title() {
    const gchar* title = webkit_web_view_get_title(side_->view);
    return title ? title : "";
  }
  void RunScript(const char* script) {
    webkit_web_view_run_javascript(side_->view, script, nullptr, nullptr, nullptr);
  }

  FakeSide* side_ = nullptr;
};

// Script dialogs on their own: an answer the handler does not keep goes through the side's
// post (never inside the engine's signal), and when the view goes the open dialogs are
// cancelled, so the page does not wait, whatever the handler does with its callback later.
TEST_F(Rooms, ScriptDialogsAnswerThroughTheirSideAndCancelWhenTheViewGoes) {
  CefRefPtr<RecordingClient> client = new RecordingClient(100, 80);
  FakeSide side(client.get());
  side_ = &side;
  client->OnAfterCreated(side.Browser());  // the client records for this browser
  bool closed = false, processGone = false;
  quillo::engine::ViewHost host(
      side, CefBrowserSettings(), false, [&] { closed = true; },
      [&](WebKitWebProcessTerminationReason) { processGone = true; });
  quillo::engine::FrameSink frames(side, 100, 80, 1.0, 60);
  ASSERT_TRUE(host.Create(frames));
  side.view = host.View();
  bool leaving = false;
  quillo::engine::ScriptDialogs dialogs(side, [&] { return leaving; });
  dialogs.Attach(side.view);
  host.Attach();

  webkit_web_view_load_uri(side.view, ColourPage("ready", "white").c_str());
  ASSERT_TRUE(PumpUntil([&] { return Title() == "ready"; }, "the page"));
  RunScript("setTimeout(() => { document.title = 'one:' + confirm('first'); }, 0)");
  ASSERT_TRUE(PumpUntil([&] { return client->Saw("dialog confirm first"); }, "the first dialog"));
  EXPECT_EQ(side.posted.size(), 1u) << "the answer goes through the browser's post";
  PumpFor(200);
  EXPECT_EQ(Title(), "ready") << "answered before the post ran";
  side.RunPosted();
  ASSERT_TRUE(PumpUntil([&] { return Title() == "one:false"; }, "the first dialog's answer"));

  client->KeepDialogs();
  RunScript("setTimeout(() => { document.title = 'two:' + confirm('second'); }, 0)");
  ASSERT_TRUE(PumpUntil([&] { return client->Saw("dialog confirm second"); }, "the second"));
  EXPECT_TRUE(side.posted.empty());
  side.gone = true;
  dialogs.CancelAll();
  ASSERT_TRUE(PumpUntil([&] { return Title() == "two:false"; }, "the page let go"));
  client->dialogs().back()->Continue(true, CefString());
  PumpFor(200);
  EXPECT_EQ(Title(), "two:false");

  // While the embedder's next page is on its way, a dialog is dismissed without the handler
  // hearing of it.
  side.gone = false;
  side.posted.clear();
  leaving = true;
  RunScript("setTimeout(() => { document.title = 'three:' + confirm('third'); }, 0)");
  ASSERT_TRUE(PumpUntil([&] { return !side.posted.empty(); }, "the third dialog's answer"));
  side.RunPosted();
  ASSERT_TRUE(PumpUntil([&] { return Title() == "three:false"; }, "the third dialog dismissed"));
  EXPECT_FALSE(client->Saw("dialog confirm third"));

  dialogs.Detach(side.view);
  host.Detach();
  frames.StopPacing();
  frames.ReleaseHeldBuffer();
  host.Destroy();
  PumpFor(100);
  EXPECT_FALSE(closed);
  EXPECT_FALSE(processGone);
  EXPECT_TRUE(client->violations().empty()) << client->Describe();
}

// The stuck-page guard on its own, with short graces: a load that does not start expires (one
// only claimed never does); one that started is checked while it does not commit, goes on being
// watched as long as its process answers, and expires when an answer does not come; its commit
// ends the watch, while a commit that comes before it started (an earlier navigation's) does not;
// an answer to a check that was overtaken counts for nothing; and a load asked for again after its
// expiry gets doubled graces, up to a cap, until it commits or another load is asked for.
TEST_F(Rooms, StuckPageGuardWatchesTheStartThenTheCommit) {
  std::vector<std::string> events;
  std::vector<std::function<void()>> answers;
  quillo::engine::StuckPageGuard guard(
      [&](const std::u16string& url) { events.push_back("expired " + CefString(url).ToString()); },
      [&](std::function<void()> answered) {
        events.push_back("check");
        answers.push_back(std::move(answered));
      },
      {20, 20, 20});
  auto saw = [&](const std::vector<std::string>& want) {
    return PumpUntil([&] { return events == want; }, "the guard's events");
  };

  guard.Arm(u"a");
  ASSERT_TRUE(saw({"expired a"}));
  events.clear();
  guard.Claim(u"a");  // a load in a process with no page: claimed, never expired
  guard.ExpectCommit("a");
  EXPECT_EQ(guard.Url(), u"a");
  EXPECT_TRUE(guard.RefusesNavigation("other", false));  // the page's own gives way to it
  PumpFor(100);
  EXPECT_TRUE(events.empty());
  guard.ExpectCommit("a");
  guard.Started();
  guard.CommitSeen();  // its commit ends the claim
  EXPECT_FALSE(guard.RefusesNavigation("other", false));

  events.clear();
  guard.Arm(u"b");
  guard.Started();
  ASSERT_TRUE(saw({"check"}));
  answers.back()();  // the process answers: the load is slow, not stuck
  ASSERT_TRUE(saw({"check", "check"}));
  ASSERT_TRUE(saw({"check", "check", "expired b"}));  // no answer this time

  events.clear();
  guard.Arm(u"c");
  guard.CommitSeen();  // an earlier navigation's commit: c is still to start
  ASSERT_TRUE(saw({"expired c"}));

  events.clear();
  guard.Arm(u"d");
  guard.Started();
  ASSERT_TRUE(saw({"check"}));
  std::function<void()> late = answers.back();
  guard.Arm(u"e");  // a later load takes over before d's check is answered
  guard.Started();
  late();  // d's answer counts for nothing
  ASSERT_TRUE(saw({"check", "check"}));
  guard.CommitSeen();  // e committed
  PumpFor(200);
  EXPECT_EQ(events, (std::vector<std::string>{"check", "check"}));

  // f's fresh processes keep expiring (a machine too loaded to start them within the grace).
  std::vector<guint> backOffs;
  for (int attempt = 0; attempt < 5; ++attempt) {
    events.clear();
    guard.Arm(u"f");
    backOffs.push_back(guard.BackOff());
    ASSERT_TRUE(saw({"expired f"}));
  }
  EXPECT_EQ(backOffs, (std::vector<guint>{1, 2, 4, 8, 8}));
  guard.Arm(u"f");
  guard.Started();
  guard.CommitSeen();  // it came: the next expiry starts from the plain grace
  guard.Arm(u"f");
  EXPECT_EQ(guard.BackOff(), 1u);
  guard.Arm(u"g");
  EXPECT_EQ(guard.BackOff(), 1u);
  guard.Disarm();
}

}  // namespace
}  // namespace quillo_engine_test
