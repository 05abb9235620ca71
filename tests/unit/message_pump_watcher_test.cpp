// The pump watcher against a real GLib context: a loop that iterates only when
// the watcher asks must still dispatch every event, and must not be asked
// again and again for nothing.
#include "wpe/process/message_pump_watcher.h"

#include <glib-unix.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

namespace quillo::engine {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The embedder's side: a word the watcher raises and the loop takes, as
// UpdateWeb takes the application's.
struct Schedules {
  std::atomic<uint32_t> raised{0};  // bumped per call, waited on by the loop
  std::atomic<int> calls{0};
  void Raise() {
    calls.fetch_add(1);
    raised.fetch_add(1);
    raised.notify_one();
  }
};

gboolean CountAndRemove(gpointer counter) {
  static_cast<std::atomic<int>*>(counter)->fetch_add(1);
  return G_SOURCE_REMOVE;
}

// A timer on the calling thread's own context (g_timeout_add would use the global one).
void AddTimer(GMainContext* context, guint ms, std::atomic<int>* counter) {
  GSource* timer = g_timeout_source_new(ms);
  g_source_set_callback(timer, CountAndRemove, counter, nullptr);
  g_source_attach(timer, context);
  g_source_unref(timer);
}

// A UI thread that owns its context and dispatches only when scheduled, with
// events thrown at it from another thread, from its own dispatches and from
// its own code between works, in a seeded random order.
void RunRandomHost(unsigned seed) {
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  constexpr int kEvents = 400;
  std::atomic<int> dispatched{0};
  std::atomic<int> expected{0};
  std::atomic<bool> driverDone{false};
  std::atomic<bool> finish{false};
  std::atomic<bool> uiReady{false};
  Schedules schedules;
  GMainContext* context = g_main_context_new_with_flags(G_MAIN_CONTEXT_FLAGS_OWNERLESS_POLLING);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  std::atomic<int> bytesRead{0};

  std::thread ui([&] {
    g_main_context_push_thread_default(context);
    // Bytes written by the driver are read by a descriptor source of the context.
    GSource* reader = g_unix_fd_source_new(pipeFds[0], G_IO_IN);
    g_source_set_callback(reader,
                          G_SOURCE_FUNC(+[](gint fd, GIOCondition, gpointer data) -> gboolean {
                            char byte;
                            if (read(fd, &byte, 1) == 1)
                              static_cast<std::atomic<int>*>(data)->fetch_add(1);
                            return G_SOURCE_CONTINUE;
                          }),
                          &bytesRead, nullptr);
    g_source_attach(reader, context);
    MessagePumpWatcher watcher;
    ASSERT_TRUE(watcher.Start([&] { schedules.Raise(); }));
    std::mt19937 rng(seed + 1000);
    uint32_t seen = 0;
    watcher.Arm(context);  // as after the first work
    uiReady.store(true);
    while (!finish.load()) {
      // Sleep until asked, as the host's polls post a work only when asked.
      uint32_t now = schedules.raised.load();
      if (now == seen) {
        schedules.raised.wait(now);
        continue;
      }
      seen = now;
      for (int i = 0; i < 64 && g_main_context_iteration(context, FALSE); ++i) {
      }
      watcher.Arm(context);
      // Now and then, code between works adds a timer (as a history move does).
      // Counted before the driver's end is read, so that the end's count includes it or
      // it is not added.
      if (rng() % 8 == 0) {
        expected.fetch_add(1);
        if (driverDone.load())
          expected.fetch_sub(1);
        else
          AddTimer(context, rng() % 5, &dispatched);
      }
    }
    watcher.Stop();
    g_source_destroy(reader);
    g_source_unref(reader);
    g_main_context_pop_thread_default(context);
  });

  while (!uiReady.load()) std::this_thread::yield();
  std::mt19937 rng(seed);
  for (int i = 0; i < kEvents; ++i) {
    switch (rng() % 4) {
      case 0: {  // a descriptor turns readable
        expected.fetch_add(1);
        char byte = 1;
        ASSERT_EQ(write(pipeFds[1], &byte, 1), 1);
        break;
      }
      case 1: {  // a task from another thread
        expected.fetch_add(1);
        GSource* idle = g_idle_source_new();
        g_source_set_callback(idle, CountAndRemove, &dispatched, nullptr);
        g_source_attach(idle, context);
        g_source_unref(idle);
        break;
      }
      case 2: {  // a timer from another thread
        expected.fetch_add(1);
        AddTimer(context, rng() % 20, &dispatched);
        break;
      }
      default: {  // a task whose dispatch starts a timer on the UI thread
        expected.fetch_add(2);
        GSource* idle = g_idle_source_new();
        g_source_set_callback(
            idle,
            +[](gpointer data) -> gboolean {
              auto* counter = static_cast<std::atomic<int>*>(data);
              counter->fetch_add(1);
              AddTimer(g_main_context_get_thread_default(), 3, counter);
              return G_SOURCE_REMOVE;
            },
            &dispatched, nullptr);
        g_source_attach(idle, context);
        g_source_unref(idle);
        break;
      }
    }
    if (rng() % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
  }
  driverDone.store(true);
  // The loop is never nudged meanwhile: what is not dispatched now was never asked for.
  const auto deadline = Clock::now() + 20s;
  while (dispatched.load() + bytesRead.load() != expected.load() && Clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  finish.store(true);
  schedules.raised.fetch_add(1);
  schedules.raised.notify_one();
  ui.join();
  EXPECT_EQ(dispatched.load() + bytesRead.load(), expected.load())
      << "an event was never dispatched";
  // Each event asks for at most a few works; a watcher that polled a ready set
  // again would ask thousands of times.
  EXPECT_LE(schedules.calls.load(), 4 * expected.load() + 16);
  close(pipeFds[0]);
  close(pipeFds[1]);
  g_main_context_unref(context);
}

TEST(MessagePumpWatcher, ALoopThatWorksOnlyWhenAskedDispatchesEveryEvent) {
  for (unsigned seed : {1u, 2u, 3u}) RunRandomHost(seed);
}

TEST(MessagePumpWatcher, AnIdleContextAsksForNothingUntilAnEvent) {
  GMainContext* context = g_main_context_new_with_flags(G_MAIN_CONTEXT_FLAGS_OWNERLESS_POLLING);
  g_main_context_push_thread_default(context);
  Schedules schedules;
  MessagePumpWatcher watcher;
  ASSERT_TRUE(watcher.Start([&] { schedules.Raise(); }));
  watcher.Arm(context);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(schedules.calls.load(), 0);

  // A task from another thread asks for exactly one work until the next arm.
  std::atomic<int> ran{0};
  std::thread([&] {
    GSource* idle = g_idle_source_new();
    g_source_set_callback(idle, CountAndRemove, &ran, nullptr);
    g_source_attach(idle, context);
    g_source_unref(idle);
  }).join();
  const auto deadline = Clock::now() + 10s;
  while (schedules.calls.load() == 0 && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(schedules.calls.load(), 1);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(schedules.calls.load(), 1);
  EXPECT_TRUE(g_main_context_iteration(context, FALSE));
  EXPECT_EQ(ran.load(), 1);
  watcher.Arm(context);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(schedules.calls.load(), 1);

  // A timer the owning thread starts between two works (outside any dispatch) is not lost.
  AddTimer(context, 5, &ran);
  while (schedules.calls.load() == 1 && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(schedules.calls.load(), 2);

  watcher.Stop();
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
}

TEST(MessagePumpWatcher, TooManyDescriptorsOrNoThreadMeansAWorkAfterEveryWork) {
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  std::vector<int> fds;
  std::vector<GSource*> sources;
  for (int i = 0; i <= MessagePumpWatcher::kMaxDescriptors; ++i) {
    int pair[2];
    ASSERT_EQ(pipe(pair), 0);
    fds.insert(fds.end(), {pair[0], pair[1]});
    GSource* source = g_unix_fd_source_new(pair[0], G_IO_IN);
    g_source_set_callback(source, G_SOURCE_FUNC(+[](gint, GIOCondition, gpointer) -> gboolean {
                            return G_SOURCE_CONTINUE;
                          }),
                          nullptr, nullptr);
    g_source_attach(source, context);
    sources.push_back(source);
  }
  Schedules schedules;
  MessagePumpWatcher watcher;
  ASSERT_TRUE(watcher.Start([&] { schedules.Raise(); }));
  watcher.Arm(context);
  EXPECT_EQ(schedules.calls.load(), 1);
  watcher.Stop();
  MessagePumpWatcher notStarted;
  notStarted.Arm(context);  // no thread, no callback: nothing to call, no crash

  for (GSource* source : sources) {
    g_source_destroy(source);
    g_source_unref(source);
  }
  for (int fd : fds) close(fd);
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
}

}  // namespace
}  // namespace quillo::engine
