// A corpus of hostile pages, served from the loopback server: each is opened, touched (a
// click, a key) and left for a plain page, which must then show. The host's process survives
// each; a page that blocks its own process or exhausts its memory costs only that page.
#include <string>

#include "support/e2e_fixture.h"

namespace quillo_test {
namespace {

struct HostilePage {
  const char* name;
  std::string html;
};

std::string Script(const std::string& body) {
  return "<script>" + body + "</script>";
}

const HostilePage kPages[] = {
    {"BeforeUnloadGuard", "<title>hostile</title><input autofocus>" +
                              Script("addEventListener('beforeunload', e => { e.preventDefault();"
                                     " e.returnValue = 'stay'; return 'stay'; });")},
    {"EndlessScript", "<title>hostile</title>" + Script("setTimeout(() => { for (;;) {} }, 200);")},
    {"DialogsInALoop",
     "<title>hostile</title>" +
         Script("setTimeout(() => { for (let i = 0; ; ++i) { alert(i); confirm(i);"
                " prompt(i, 'x'); } }, 100);")},
    {"SelfNavigationEveryMillisecond",
     "<title>hostile</title>" +
         Script("setTimeout(() => { location.href = '?' + Math.random(); }, 1);"
                "setInterval(() => history.pushState({}, '', '?' + Math.random()), 1);")},
    {"CancelsEveryLoadItDoesNotStart",
     "<title>hostile</title>" + Script("setInterval(() => window.stop(), 1);")},
    {"HoardsMemory",
     // 8 MiB every 10 ms up to 1 GiB, held until the page is left (capped, so that the test
     // cannot take the machine).
     "<title>hostile</title>" +
         Script("const hoard = []; setInterval(() => { if (hoard.length >= 128) return;"
                " const a = new Float64Array(1 << 20); a.fill(Math.random()); hoard.push(a);"
                "}, 10);")},
    {"ThousandsOfFramesAndPopups",
     "<title>hostile</title>" +
         Script(
             "for (let i = 0; i < 2000; ++i) {"
             " const f = document.createElement('iframe'); f.src = 'about:blank#' + i;"
             " document.body.appendChild(f); window.open('about:blank', '_blank'); }"
             "document.onclick = () => { for (let i = 0; i < 500; ++i) window.open('/x' + i); };")},
    {"HugeTitles",
     "<title>hostile</title>" + Script("let n = 0; setInterval(() => { document.title ="
                                       " '\\u00fc\\ud83d\\ude00'.repeat(200000 + (++n)); }, 5);")},
};

class HostilePages : public E2ETest, public ::testing::WithParamInterface<HostilePage> {};

TEST_P(HostilePages, TheHostSurvivesAndTheNextPageShows) {
  lib().SetDebugEnable(true);  // a failure shows the log
  server().Serve("/hostile", HtmlResponse(GetParam().html));
  server().Serve("/next", HtmlResponse("<title>next</title><body style='margin:0;"
                                       "background:rgb(0,160,80)'>"));
  PixelBuffer& buffer = NewBuffer(96, 72);
  Load(buffer, server().Url("/hostile"));
  // Opened: a while of polling (dialogs left unanswered), then a click and a key.
  ASSERT_TRUE(host().PollUntil([&] { return host().SawUrl(server().Url("/hostile")); },
                               "the hostile page's navigation"));
  ASSERT_TRUE(host().PollUntil([&] { return host().calls() > 400; }, "a while on the page"));
  lib().InputWeb(INPUT_MOUSE | INPUT_MOUSE_DOWN, 20, 20);
  lib().InputWeb(INPUT_MOUSE | INPUT_MOUSE_UP, 20, 20);
  lib().InputWeb(INPUT_KEY | INPUT_KEY_DOWN, 'A', 'a');
  lib().InputWeb(INPUT_KEY | INPUT_KEY_CHAR, 'a', 'a');
  lib().InputWeb(INPUT_KEY | INPUT_KEY_UP, 'A', 'a');
  ASSERT_TRUE(host().PollUntil([&] { return host().calls() > 800; }, "a while after the touch"));
  // Left.
  const size_t from = host().notices().size();
  Load(buffer, server().Url("/next"));
  ASSERT_TRUE(host().WaitForTitle("next", from));
  EXPECT_TRUE(WaitForView(buffer, 0, {{48, 36, {0, 160, 80}}}, "the next page"));
  for (const Notice& n : host().notices()) {
    if (n.has_text) {
      EXPECT_LT(n.text.size(), 4096u) << Describe(n).substr(0, 200);
    }
  }
  EXPECT_TRUE(host().violations().empty()) << host().violations()[0];
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostilePages, ::testing::ValuesIn(kPages),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillo_test
