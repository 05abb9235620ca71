// What a view's page and its host say to each other, end to end: scripts with results, pages
// that post to the host and await its answers, zoom, the User-Agent, the frame-rate cap, hidden
// views, a host that stops pumping, and the page's web process ending.
#include <signal.h>
#include <unistd.h>

#include <set>
#include <thread>

#include "support/processes.h"
#include "support/views_fixture.h"

namespace quillo_test {
namespace {

// The last title of view (empty before the first).
std::string LastTitle(ViewsHost& host, quillo_view* view) {
  std::string title;
  for (const ViewNotice& n : host.Notices(view))
    if (n.kind == QUILLO_NOTICE_TITLE) title = n.text;
  return title;
}

// Scripts and what their SCRIPT_RESULT notices say: the value as JSON, or the exception.
TEST_F(ViewsTest, ScriptResultsComeBackAsJsonOrTheExceptionsMessage) {
  ViewMemory& m = NewMemory(100, 100);
  quillo_view* view = host().CreateHtml(ViewsHost::ConfigFor(m), "<title>page</title>");
  ASSERT_TRUE(view);
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_LOAD_FINISHED));
  struct Case {
    const char* script;
    int code;
    std::string text;  // exact for values, a part of the message for exceptions
  };
  const Case cases[] = {
      {"1 + 2", 1, "3"},
      {"'a\"b\\\\c\\u00e9'", 1, "\"a\\\"b\\\\c\xC3\xA9\""},
      {"({x: [1, 2.5, true], y: null})", 1, "{\"x\":[1,2.5,true],\"y\":null}"},
      {"undefined", 1, ""},
      {"(() => 1)", 1, ""},
      {"Promise.resolve(5)", 1, ""},
      {"document.title = 'changed'; 7", 1, "7"},
      {"throw new Error('boom')", 0, "boom"},
      {"noSuchThing.x", 0, "noSuchThing"},
      {"(", 0, "SyntaxError"},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    ASSERT_EQ(api().quillo_view_eval(view, cases[i].script, 1000 + i), QUILLO_OK);
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        int results = 0;
        for (const ViewNotice& n : host().Notices(view))
          results += n.kind == QUILLO_NOTICE_SCRIPT_RESULT;
        return results >= static_cast<int>(std::size(cases));
      },
      "every script's result"));
  // One result per request, in the order of the calls.
  size_t next = 0;
  for (const ViewNotice& n : host().Notices(view)) {
    if (n.kind != QUILLO_NOTICE_SCRIPT_RESULT) continue;
    ASSERT_LT(next, std::size(cases)) << Describe(n);
    const Case& c = cases[next];
    EXPECT_EQ(n.id, 1000 + next) << c.script;
    EXPECT_EQ(n.code, c.code) << c.script << ": " << n.text;
    if (c.code == 1)
      EXPECT_EQ(n.text, c.text) << c.script;
    else
      EXPECT_NE(n.text.find(c.text), std::string::npos) << c.script << ": " << n.text;
    ++next;
  }
  EXPECT_TRUE(host().WaitForTitle(view, "changed"));
  EXPECT_EQ(api().quillo_view_eval(view, nullptr, 1), QUILLO_ERROR_NULL_ARGUMENT);
}

// A page posts fifty strings in one go: each is a MESSAGE notice of its own, in order, and each
// promise settles as the host answers it (resolved with the host's text, or rejected with an
// Error of it). The function's name is the host's; an empty name gives the page none.
TEST_F(ViewsTest, PageMessagesComeEveryOneInOrderAndAwaitTheHost) {
  ViewMemory& m = NewMemory(100, 100);
  quillo_view_config config = ViewsHost::ConfigFor(m);
  config.post_function = "gameCall";
  quillo_view* view =
      host().CreateHtml(config,
                        "<script>"
                        "onload = async () => {"
                        "  const answers = await Promise.allSettled("
                        "      Array.from({length: 50}, (_, i) => gameCall(i === 7 ? {toString: () "
                        "=> 'seven'} : i)));"
                        "  document.title = answers.map(a => a.status === 'fulfilled' ? a.value"
                        "      : 'X' + a.reason.message).join(',') + ' ' + typeof quilloPost;"
                        "};</script>");
  ViewMemory& other = NewMemory(100, 100);
  quillo_view_config none = ViewsHost::ConfigFor(other);
  none.post_function = "";
  quillo_view* silent =
      host().CreateHtml(none,
                        "<script>onload = () => document.title = typeof quilloPost + ' ' + typeof "
                        "gameCall</script>");
  ASSERT_TRUE(view && silent);

  auto messages = [&] {
    std::vector<ViewNotice> found;
    for (const ViewNotice& n : host().Notices(view))
      if (n.kind == QUILLO_NOTICE_MESSAGE) found.push_back(n);
    return found;
  };
  ASSERT_TRUE(host().PumpUntil([&] { return messages().size() >= 50; }, "fifty messages"));
  const auto posted = messages();
  ASSERT_EQ(posted.size(), 50u);
  std::set<uint64_t> ids;
  for (size_t i = 0; i < posted.size(); ++i) {
    EXPECT_EQ(posted[i].text, i == 7 ? "seven" : std::to_string(i)) << "message " << i;
    ids.insert(posted[i].id);
  }
  EXPECT_EQ(ids.size(), 50u) << "message ids repeat";
  // Answered in reverse order: even ones resolved, odd ones rejected.
  for (size_t i = posted.size(); i-- > 0;) {
    const std::string text = "r" + std::to_string(i);
    ASSERT_EQ(api().quillo_view_reply(view, posted[i].id, i % 2 == 0, text.c_str()), QUILLO_OK);
  }
  EXPECT_EQ(api().quillo_view_reply(view, posted[0].id, 1, "again"), QUILLO_ERROR_NOT_FOUND);
  EXPECT_EQ(api().quillo_view_reply(view, 987654, 1, "never"), QUILLO_ERROR_NOT_FOUND);
  std::string expected;
  for (int i = 0; i < 50; ++i)
    expected += (i ? "," : "") + std::string(i % 2 ? "Xr" : "r") + std::to_string(i);
  expected += " undefined";
  EXPECT_TRUE(host().WaitForTitle(view, expected)) << LastTitle(host(), view);
  EXPECT_TRUE(host().WaitForTitle(silent, "undefined undefined"));

  // A message left unanswered when its page goes: answering it later settles nothing in the
  // next page, whose own messages start afresh.
  const size_t from = host().Notices(view).size();
  ASSERT_EQ(api().quillo_view_load_html(
                view,
                "<script>onload = () => gameCall('first').then(a => document.title = a, "
                "e => document.title = 'X' + e.message)</script>"),
            QUILLO_OK);
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_MESSAGE, nullptr, from));
  const ViewNotice first =
      host().Notices(view)[host().Find(view, QUILLO_NOTICE_MESSAGE, nullptr, from)];
  const size_t second = host().Notices(view).size();
  ASSERT_EQ(api().quillo_view_load_html(view,
                                        "<script>onload = () => gameCall('second').then("
                                        "a => document.title = JSON.stringify(a), "
                                        "e => document.title = 'X' + e.message)</script>"),
            QUILLO_OK);
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_MESSAGE, nullptr, second));
  const ViewNotice next =
      host().Notices(view)[host().Find(view, QUILLO_NOTICE_MESSAGE, nullptr, second)];
  EXPECT_EQ(next.text, "second");
  EXPECT_NE(next.id, first.id);
  EXPECT_EQ(api().quillo_view_reply(view, first.id, 1, "stale"), QUILLO_OK);
  // The answer reaches the page as it was, whatever it holds.
  const char kTricky[] = "fresh \"quoted\" \\ back\nline </script> ');throw 1;// \xC3\xA9";
  EXPECT_EQ(api().quillo_view_reply(view, next.id, 1, kTricky), QUILLO_OK);
  EXPECT_TRUE(host().WaitForTitle(
      view, "\"fresh \\\"quoted\\\" \\\\ back\\nline </script> ');throw 1;// \xC3\xA9\""))
      << LastTitle(host(), view);
  const std::string stale = "stale";
  EXPECT_EQ(host().Find(view, QUILLO_NOTICE_TITLE, &stale), -1);
}

// Zoom scales the page's CSS size, the User-Agent reaches the server and the page, and a frame
// rate of 2 keeps an animation to about two frames a second.
TEST_F(ViewsTest, ZoomUserAgentAndFrameRateCap) {
  server().Serve("/ua", HtmlResponse("<script>const report = () => document.title = "
                                     "[innerWidth, navigator.userAgent].join(' ');"
                                     "onresize = report; report()</script>"));
  ViewMemory& m = NewMemory(400, 200);
  quillo_view_config config = ViewsHost::ConfigFor(m);
  config.user_agent = "QuilloTest/1";
  config.zoom = 2;
  quillo_view* view = host().Create(config, server().Url("/ua"));
  ASSERT_TRUE(view);
  ASSERT_TRUE(host().WaitForTitle(view, "200 QuilloTest/1")) << LastTitle(host(), view);
  ASSERT_EQ(api().quillo_view_set_zoom(view, 1), QUILLO_OK);
  ASSERT_TRUE(host().WaitForTitle(view, "400 QuilloTest/1")) << LastTitle(host(), view);
  ASSERT_EQ(api().quillo_view_set_user_agent(view, "QuilloTest/2"), QUILLO_OK);
  ASSERT_EQ(api().quillo_view_reload(view), QUILLO_OK);
  ASSERT_TRUE(host().WaitForTitle(view, "400 QuilloTest/2")) << LastTitle(host(), view);
  const auto requests = server().RequestsFor("/ua");
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests.front().Header("User-Agent").value_or(""), "QuilloTest/1");
  EXPECT_EQ(requests.back().Header("User-Agent").value_or(""), "QuilloTest/2");
  EXPECT_EQ(api().quillo_view_set_zoom(view, 0.1), QUILLO_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(api().quillo_view_set_frame_rate(view, 0), QUILLO_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(api().quillo_view_set_frame_rate(view, 241), QUILLO_ERROR_BAD_ARGUMENT);

  // An animation that changes every frame, capped at 2 frames a second: in the time the host
  // watches, at most two frames a second (and one or two of the frame before) reach it.
  ASSERT_EQ(api().quillo_view_load_html(
                view,
                "<body style='margin:0'><div id=d style='width:50px;height:50px'></div>"
                "<script>let n = 0; const step = () => { d.style.background ="
                " `rgb(${n++ % 256},0,0)`; requestAnimationFrame(step); }; step()</script>"),
            QUILLO_OK);
  ASSERT_TRUE(host().PumpUntil([&] { return host().FrameCount(view) > 5; }, "the animation"));
  ASSERT_EQ(api().quillo_view_set_frame_rate(view, 2), QUILLO_OK);
  host().PumpFor(std::chrono::milliseconds(300));  // the frames paced before the cap
  const int before = host().FrameCount(view);
  const auto start = std::chrono::steady_clock::now();
  host().PumpFor(std::chrono::milliseconds(1500));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int frames = host().FrameCount(view) - before;
  EXPECT_LE(frames, static_cast<int>(seconds * 2) + 2) << "frames in " << seconds << " s";
  ASSERT_EQ(api().quillo_view_set_frame_rate(view, 60), QUILLO_OK);
  EXPECT_TRUE(host().PumpUntil([&] { return host().FrameCount(view) > before + frames + 20; },
                               "the animation at 60 frames a second again"));
}

// A hidden view paints nothing and its page is hidden (no animation frames); shown again, it
// goes on with the same page, not reloaded.
TEST_F(ViewsTest, AHiddenViewPaintsNothingAndComesBackWithoutAReload) {
  ViewMemory& m = NewMemory(120, 80);
  quillo_view* view = host().CreateHtml(
      ViewsHost::ConfigFor(m),
      "<body style='margin:0'><div id=d style='width:50px;height:50px'></div><script>"
      "let frames = 0; const step = () => { frames++; d.style.background ="
      " `rgb(${frames % 256},0,0)`; requestAnimationFrame(step); }; step();"
      "document.onvisibilitychange = () => document.title = document.visibilityState +"
      " ' ' + (frames > 0 ? 'animated' : 'still');</script>");
  ASSERT_TRUE(view);
  ASSERT_TRUE(host().PumpUntil([&] { return host().FrameCount(view) > 5; }, "the animation"));
  ASSERT_EQ(api().quillo_view_set_hidden(view, 1), QUILLO_OK);
  ASSERT_TRUE(host().WaitForTitle(view, "hidden animated"));
  host().PumpFor(std::chrono::milliseconds(200));  // a frame on its way before
  const int frames = host().FrameCount(view);
  ASSERT_EQ(api().quillo_view_eval(view, "frames", 1), QUILLO_OK);
  host().PumpFor(std::chrono::milliseconds(600));
  ASSERT_EQ(api().quillo_view_eval(view, "frames", 2), QUILLO_OK);
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        int n = 0;
        for (const ViewNotice& notice : host().Notices(view))
          n += notice.kind == QUILLO_NOTICE_SCRIPT_RESULT;
        return n == 2;
      },
      "the page's frame counts"));
  std::vector<std::string> counts;
  for (const ViewNotice& notice : host().Notices(view))
    if (notice.kind == QUILLO_NOTICE_SCRIPT_RESULT) counts.push_back(notice.text);
  EXPECT_EQ(counts[0], counts[1]) << "the hidden page ran animation frames";
  EXPECT_EQ(host().FrameCount(view), frames) << "the hidden view painted";

  const size_t from = host().Notices(view).size();
  ASSERT_EQ(api().quillo_view_set_hidden(view, 0), QUILLO_OK);
  ASSERT_TRUE(host().WaitForTitle(view, "visible animated", from));
  EXPECT_TRUE(host().PumpUntil([&] { return host().FrameCount(view) > frames + 5; },
                               "the animation again"));
  EXPECT_EQ(host().Find(view, QUILLO_NOTICE_LOAD_STARTED, nullptr, from), -1) << "reloaded";
}

// A host that stops pumping stops its pages (within the engine's short lease after the last
// pump): an animation runs far fewer frames in the pause than in as long a stretch of pumping.
TEST_F(ViewsTest, AHostThatStopsPumpingStopsItsPages) {
  ViewMemory& m = NewMemory(120, 80);
  quillo_view* view = host().CreateHtml(
      ViewsHost::ConfigFor(m),
      "<body style='margin:0'><div id=d style='width:50px;height:50px'></div><script>"
      "let frames = 0; const step = () => { frames++; d.style.background ="
      " `rgb(${frames % 256},0,0)`; requestAnimationFrame(step); }; step();</script>");
  ASSERT_TRUE(view);
  ASSERT_TRUE(host().PumpUntil([&] { return host().FrameCount(view) > 5; }, "the animation"));
  // The page's frame count, read with a script.
  uint64_t id = 0;
  auto count = [&]() -> long {
    const size_t from = host().Notices(view).size();
    EXPECT_EQ(api().quillo_view_eval(view, "frames", ++id), QUILLO_OK);
    long value = -1;
    EXPECT_TRUE(host().PumpUntil(
        [&] {
          const std::vector<ViewNotice>& notices = host().Notices(view);
          for (size_t i = from; i < notices.size(); ++i)
            if (notices[i].kind == QUILLO_NOTICE_SCRIPT_RESULT && notices[i].id == id)
              value = std::stol(notices[i].text);
          return value >= 0;
        },
        "the page's frame count"));
    return value;
  };
  const long beforePause = count();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const long afterPause = count();
  host().PumpFor(std::chrono::seconds(3));
  const long afterPumping = count();
  EXPECT_LT((afterPause - beforePause) * 2, afterPumping - afterPause)
      << "animation frames: " << afterPause - beforePause << " in the pause, "
      << afterPumping - afterPause << " while pumping";
}

// The page's web process is killed: PROCESS_GONE (crashed), then the failed load; a reload
// brings the page back in a new process.
TEST_F(ViewsTest, AWebProcessThatDiesIsReportedAndReplaced) {
  ViewMemory& m = NewMemory(120, 80);
  quillo_view* view = host().CreateHtml(ViewsHost::ConfigFor(m), "<title>alive</title>");
  ASSERT_TRUE(view);
  ASSERT_TRUE(host().WaitForTitle(view, "alive"));
  ASSERT_TRUE(
      host().PumpUntil([] { return !Children("WPEWebProcess").empty(); }, "the web process"));
  const size_t from = host().Notices(view).size();
  for (pid_t pid : Children("WPEWebProcess")) kill(pid, SIGKILL);
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_PROCESS_GONE, nullptr, from));
  const int gone = host().Find(view, QUILLO_NOTICE_PROCESS_GONE, nullptr, from);
  EXPECT_EQ(host().Notices(view)[gone].code, QUILLO_GONE_CRASHED);
  ASSERT_TRUE(host().WaitFor(view, QUILLO_NOTICE_LOAD_FAILED, nullptr, from));
  const int failed = host().Find(view, QUILLO_NOTICE_LOAD_FAILED, nullptr, from);
  EXPECT_GT(failed, gone);
  EXPECT_EQ(host().Notices(view)[failed].code, -2);
  EXPECT_EQ(host().Notices(view)[failed].text, "net::ERR_FAILED");
  const size_t again = host().Notices(view).size();
  ASSERT_EQ(api().quillo_view_load_html(view, "<title>back</title>"), QUILLO_OK);
  EXPECT_TRUE(host().WaitForTitle(view, "back", again));
}

}  // namespace
}  // namespace quillo_test
