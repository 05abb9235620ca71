// Any number of browsers in one process: three at once through the engine layer, each with a
// recording client of its own, each hearing only of its own page and painting only its own view.
#include <string>
#include <vector>

#include "engine/engine_harness.h"

namespace quillo_engine_test {
namespace {

struct Page {
  int width, height;
  std::string title;
  std::string colour;  // CSS
  uint32_t bgra;       // as PixelAt reads it
};

const Page kPages[] = {
    {120, 90, "one", "#f00", 0xFFFF0000},
    {200, 60, "two", "#0f0", 0xFF00FF00},
    {64, 128, "three", "#00f", 0xFF0000FF},
};

class ManyBrowsers : public EngineTest {
 protected:
  // Every client saw only its own titles, painted only its own size and broke no contract.
  void ExpectApart(const std::vector<CefRefPtr<RecordingClient>>& clients) {
    for (size_t i = 0; i < clients.size(); ++i) {
      for (const std::string& title : clients[i]->EventsStarting("title "))
        EXPECT_EQ(title.rfind("title " + kPages[i].title, 0), 0u)
            << "browser " << i << " heard another page's title:\n"
            << clients[i]->Describe();
      EXPECT_TRUE(clients[i]->violations().empty()) << clients[i]->Describe();
    }
  }
};

TEST_F(ManyBrowsers, EachGetsItsOwnCallbacksAndPaints) {
  std::vector<CefRefPtr<RecordingClient>> clients;
  std::vector<CefRefPtr<CefBrowser>> browsers;
  for (const Page& page : kPages) {
    clients.push_back(new RecordingClient(page.width, page.height));
    clients.back()->KeepDialogs();
    browsers.push_back(Create(clients.back(), ColourPage(page.title, page.colour)));
    ASSERT_TRUE(browsers.back());
  }
  EXPECT_NE(browsers[0]->GetIdentifier(), browsers[1]->GetIdentifier());
  EXPECT_NE(browsers[1]->GetIdentifier(), browsers[2]->GetIdentifier());
  EXPECT_FALSE(browsers[0]->IsSame(browsers[2]));

  auto shows = [&](size_t i, uint32_t bgra) {
    const Page& page = kPages[i];
    return clients[i]->PixelAt(0, 0) == bgra &&
           clients[i]->PixelAt(page.width - 1, page.height - 1) == bgra;
  };
  ASSERT_TRUE(PumpUntil(
      [&] {
        for (size_t i = 0; i < clients.size(); ++i)
          if (!clients[i]->Saw("title " + kPages[i].title) || !shows(i, kPages[i].bgra))
            return false;
        return true;
      },
      "every page titled and painted"));
  ExpectApart(clients);

  // The third page waits in a dialog its handler keeps; the others go on meanwhile.
  browsers[2]->GetMainFrame()->ExecuteJavaScript(
      "setTimeout(() => { document.title = 'three:' + confirm('wait'); }, 0)", "", 0);
  ASSERT_TRUE(PumpUntil([&] { return clients[2]->Saw("dialog confirm wait"); }, "the dialog"));
  const int firstPaints = clients[0]->paints();
  browsers[1]->GetMainFrame()->ExecuteJavaScript(
      "document.title = 'two again'; document.body.style.background = '#ff0';", "", 0);
  ASSERT_TRUE(PumpUntil([&] { return clients[1]->Saw("title two again") && shows(1, 0xFFFFFF00); },
                        "the second page's new title and colour"))
      << clients[1]->Describe();
  EXPECT_EQ(clients[0]->paints(), firstPaints) << "the first page painted for the second";
  EXPECT_TRUE(shows(0, kPages[0].bgra));
  EXPECT_TRUE(shows(2, kPages[2].bgra));
  EXPECT_TRUE(clients[0]->EventsStarting("dialog").empty());
  EXPECT_TRUE(clients[1]->EventsStarting("dialog").empty());

  // One closes; the others live on, and the dialog of the third is answered.
  browsers[0]->GetHost()->CloseBrowser(true);
  ASSERT_TRUE(PumpUntil([&] { return clients[0]->closed(); }, "the first browser's close"));
  EXPECT_FALSE(clients[1]->closed());
  EXPECT_FALSE(clients[2]->closed());
  clients[2]->dialogs()[0]->Continue(true, CefString());
  browsers[1]->GetMainFrame()->ExecuteJavaScript("document.title = 'two still'", "", 0);
  ASSERT_TRUE(PumpUntil(
      [&] { return clients[2]->Saw("title three:true") && clients[1]->Saw("title two still"); },
      "both pages after the close"));

  for (auto& browser : browsers) browser->GetHost()->CloseBrowser(true);
  ASSERT_TRUE(PumpUntil([&] { return clients[1]->closed() && clients[2]->closed(); }, "closes"));
  for (const auto& client : clients)
    EXPECT_EQ(client->EventsStarting("closed").size(), 1u) << client->Describe();
  ExpectApart(clients);
}

}  // namespace
}  // namespace quillo_engine_test
