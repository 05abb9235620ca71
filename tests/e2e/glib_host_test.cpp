// A host that runs GLib itself: the engine works on a main context of its
// own, so the host's iterations of the global default context neither take
// the engine's work nor disturb it, and the host's own sources stay the
// host's.
#include <glib.h>

#include <atomic>
#include <thread>

#include "support/e2e_fixture.h"

namespace quillo_test {
namespace {

class GlibHost : public E2ETest {};

TEST_F(GlibHost, EngineWorkStaysOffTheDefaultContext) {
  // The host's own source on the default context, counting who dispatches it.
  std::atomic<int> hostDispatches{0};
  guint source = g_timeout_add(
      1,
      [](gpointer data) -> gboolean {
        ++*static_cast<std::atomic<int>*>(data);
        return G_SOURCE_CONTINUE;
      },
      &hostDispatches);

  PixelBuffer& buffer = NewBuffer(120, 80);
  Load(buffer,
       kHtmlSource + "<title>glib</title><body style='margin:0;background:rgb(0,0,255)'></body>");
  // Iterate the default context as a GTK host would, between polls.
  ASSERT_TRUE(host().PollUntil(
      [&] {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        return host().SawTitle("glib");
      },
      "the title while the host iterates the default context"));
  ASSERT_TRUE(WaitForView(buffer, 0, {{60, 40, {0, 0, 255}}}, "the page's colour"));

  // The host's source keeps running under the host's iterations.
  const int before = hostDispatches.load();
  ASSERT_TRUE(host().PollUntil(
      [&] {
        g_main_context_iteration(nullptr, FALSE);
        return hostDispatches.load() > before + 5;
      },
      "the host's own timeout source"));
  g_source_remove(source);

  // The page still reacts after the host stopped iterating.
  lib().ExecuteJavaScript("document.title = 'still'");
  EXPECT_TRUE(host().WaitForTitle("still"));
}

TEST_F(GlibHost, HostSourcesAreNotDispatchedByTheEngineThread) {
  // A source on the default context that the host never iterates must never
  // run: the engine thread does not iterate the default context either.
  std::atomic<int> dispatched{0};
  guint source = g_idle_add(
      [](gpointer data) -> gboolean {
        ++*static_cast<std::atomic<int>*>(data);
        return G_SOURCE_CONTINUE;
      },
      &dispatched);
  PixelBuffer& buffer = NewBuffer(64, 48);
  Load(buffer, kHtmlSource + "<title>quiet</title>");
  ASSERT_TRUE(host().WaitForTitle("quiet"));
  ASSERT_TRUE(host().PollUntil([&] { return host().frames() >= 1; }, "a painted frame"));
  EXPECT_EQ(dispatched.load(), 0) << "the library iterated the host's default main context";
  g_source_remove(source);
}

}  // namespace
}  // namespace quillo_test
