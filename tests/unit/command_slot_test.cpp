// The lock-free slot tables: claiming, publishing, consuming and giving up.
#include "controller/command_slot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace quillo {
namespace {

using namespace std::chrono_literals;

TEST(CommandTable, TakesTheLowestFreeSlotAndRunsInPostingOrder) {
  CommandTable table;
  ASSERT_TRUE(table.TryPost(CMD_INPUT, 1, 0, 0));  // slot 0
  ASSERT_TRUE(table.TryPost(CMD_INPUT, 2, 0, 0));  // slot 1
  ASSERT_TRUE(table.TryPost(CMD_INPUT, 3, 0, 0));  // slot 2
  EXPECT_EQ(table.StateOf(0), SLOT_READY);
  EXPECT_EQ(table.StateOf(2), SLOT_READY);
  EXPECT_EQ(table.StateOf(3), SLOT_FREE);

  // Free slot 0; the next post lands there, and still runs after the others,
  // which were posted before it.
  table.Reset(0);
  ASSERT_TRUE(table.TryPost(CMD_INPUT, 4, 0, 0));
  EXPECT_EQ(table.StateOf(0), SLOT_READY);
  std::vector<int> order;
  int ran = table.ConsumePass([&](int32_t, int32_t p1, int32_t, int32_t) { order.push_back(p1); });
  EXPECT_EQ(ran, 3);
  EXPECT_EQ(order, (std::vector<int>{2, 3, 4}));
  for (int i = 0; i < kSlotCount; ++i) EXPECT_EQ(table.StateOf(i), SLOT_FREE);
}

TEST(CommandTable, OneScanPostsNothingWhenFull) {
  CommandTable table;
  for (int i = 0; i < kSlotCount; ++i) ASSERT_TRUE(table.TryPost(CMD_MESSAGE_LOOP_WORK, i, 0, 0));
  EXPECT_FALSE(table.TryPost(CMD_MESSAGE_LOOP_WORK, 99, 0, 0));
  std::vector<int> seen;
  table.ConsumePass([&](int32_t, int32_t p1, int32_t, int32_t) { seen.push_back(p1); });
  EXPECT_EQ(seen.size(), static_cast<size_t>(kSlotCount));
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 99), 0);
}

TEST(CommandTable, ProducersAgainstAConsumerLoseAndRepeatNothing) {
  CommandTable table;
  constexpr int kProducers = 4;
  constexpr int kPerProducer = 1500;
  constexpr int kTotal = kProducers * kPerProducer;
  std::atomic<bool> producing{true};
  std::vector<int> runs(kTotal, 0);

  // The host posts from one thread in the library, but the protocol itself
  // must hold for several producers too; the consumer sleeps whenever a pass
  // finds nothing, as the library's threads do.
  std::thread consumer([&] {
    int consumed = 0;
    while (consumed < kTotal) {
      int ran = table.ConsumePass([&](int32_t command, int32_t p1, int32_t p2, int32_t p3) {
        EXPECT_EQ(command, CMD_INPUT);
        EXPECT_EQ(p2, p1 * 3);  // the parameters arrive whole with their command
        EXPECT_EQ(p3, -p1);
        if (p1 >= 0 && p1 < kTotal) ++runs[p1];
      });
      consumed += ran;
      if (ran == 0) table.WaitForWork([] { return false; });
    }
  });
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kPerProducer; ++i) {
        int id = p * kPerProducer + i;
        EXPECT_TRUE(table.PostWhile(producing, 0ms, CMD_INPUT, id, id * 3, -id));
      }
    });
  }
  for (auto& t : producers) t.join();
  consumer.join();
  for (int id = 0; id < kTotal; ++id) ASSERT_EQ(runs[id], 1) << "command " << id;
}

// A consumer that passes back to back, against one producer posting as fast
// as slots free up: posts land in slots the pass has already scanned and in
// slots it has yet to reach, and still run in the order they were posted.
TEST(CommandTable, BackToBackPassesRunInPostingOrder) {
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    CommandTable table;
    std::atomic<bool> running{true};
    constexpr int kPosts = 20000;
    std::vector<int> order;
    order.reserve(kPosts);
    std::thread consumer([&] {
      while (static_cast<int>(order.size()) < kPosts)
        table.ConsumePass([&](int32_t, int32_t p1, int32_t, int32_t) { order.push_back(p1); });
    });
    for (int id = 0; id < kPosts; ++id)
      EXPECT_TRUE(table.PostWhile(running, 0ms, CMD_INPUT, id, 0, 0));
    consumer.join();
    for (int id = 0; id < kPosts; ++id) ASSERT_EQ(order[id], id) << "run out of posting order";
  }
}

TEST(CommandTable, PostWhileGivesUpOnceTheFlagDrops) {
  CommandTable table;
  std::atomic<bool> running{false};
  // Stopped before the first scan: dropped at once, even with room.
  EXPECT_FALSE(table.PostWhile(running, 5ms, CMD_INPUT, 0, 0, 0));
  EXPECT_EQ(table.StateOf(0), SLOT_FREE);

  // Full table: the producer waits in steps, then gives up when stopped.
  running.store(true);
  for (int i = 0; i < kSlotCount; ++i) ASSERT_TRUE(table.TryPost(CMD_INPUT, i, 0, 0));
  std::atomic<int> outcome{-1};
  std::thread producer(
      [&] { outcome.store(table.PostWhile(running, 5ms, CMD_INPUT, 42, 0, 0) ? 1 : 0); });
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(outcome.load(), -1) << "must wait while the table is full";
  running.store(false);
  producer.join();
  EXPECT_EQ(outcome.load(), 0);
  std::set<int> held;
  table.ConsumePass([&](int32_t, int32_t p1, int32_t, int32_t) { held.insert(p1); });
  EXPECT_EQ(held.count(42), 0u);
}

TEST(CommandTable, AWaitingProducerTakesTheFirstFreedSlot) {
  CommandTable table;
  std::atomic<bool> running{true};
  for (int i = 0; i < kSlotCount; ++i) ASSERT_TRUE(table.TryPost(CMD_INPUT, i, 0, 0));
  std::thread producer([&] { EXPECT_TRUE(table.PostWhile(running, 5ms, CMD_INPUT, 11, 0, 0)); });
  std::this_thread::sleep_for(20ms);
  table.Reset(7);
  producer.join();
  std::vector<int> order;
  table.ConsumePass([&](int32_t, int32_t p1, int32_t, int32_t) { order.push_back(p1); });
  ASSERT_EQ(order.size(), static_cast<size_t>(kSlotCount));
  EXPECT_EQ(order.back(), 11) << "posted last, so run last although it sits in slot 7";
  EXPECT_EQ(table.StateOf(7), SLOT_FREE);
}

// Waits up to 30 s for done(); false if it never came.
template <typename Done>
bool WaitUntil(Done&& done) {
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(100us);
  }
  return true;
}

// The loop of the library's consumer threads: passes until `stop`, sleeping
// whenever a pass ran nothing.
class SleepingConsumer {
 public:
  explicit SleepingConsumer(CommandTable& table) : m_table(table) {
    m_thread = std::thread([this] {
      while (!m_stop.load()) {
        const int ran =
            m_table.ConsumePass([this](int32_t command, int32_t p1, int32_t p2, int32_t p3) {
              if (command != CMD_INPUT || p2 != p1 * 7 || p3 != ~p1) m_torn.fetch_add(1);
              m_order.push_back(p1);
              m_ran.fetch_add(1);
            });
        if (ran == 0) {
          m_sleeps.fetch_add(1);
          m_table.WaitForWork([this] { return m_stop.load(); });
        }
      }
      m_ended.store(true);
    });
  }
  ~SleepingConsumer() {
    if (!m_thread.joinable()) return;
    m_stop.store(true);
    m_table.Wake();
    m_thread.join();
  }

  // Stops the consumer the way StopLoopIO does: the word, then a wake.
  bool StopAndJoin() {
    m_stop.store(true);
    m_table.Wake();
    const bool ended = WaitUntil([this] { return m_ended.load(); });
    if (!ended) m_table.TryPost(CMD_INPUT, -1, -7, 0);  // unstick it, so that join returns
    m_thread.join();
    return ended;
  }

  int Ran() const { return m_ran.load(); }
  int Sleeps() const { return m_sleeps.load(); }
  int Torn() const { return m_torn.load(); }
  // Read only after StopAndJoin.
  const std::vector<int>& Order() const { return m_order; }

 private:
  CommandTable& m_table;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_ended{false};
  std::atomic<int> m_ran{0};
  std::atomic<int> m_sleeps{0};
  std::atomic<int> m_torn{0};
  std::vector<int> m_order;  // consumer thread
};

// A seeded random host against a consumer that sleeps between passes: posts
// land while it sleeps, while it is about to sleep and while it runs a pass.
// Every post is run once, whole, in the order it was posted (keys typed in a
// burst reuse freed slots out of index order), and none waits for a clock: a
// lost wake-up would leave a command unrun, since nothing else wakes the
// consumer.
TEST(CommandTable, ASleepingConsumerIsWokenByEveryPost) {
  for (uint32_t seed : {1u, 2u}) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    CommandTable table;
    SleepingConsumer consumer(table);
    std::atomic<bool> running{true};
    constexpr int kPosts = 800;
    int postedToSleeper = 0;
    for (int id = 0; id < kPosts; ++id) {
      switch (random() % 4) {
        case 0:  // after the consumer has announced its sleep
          ASSERT_TRUE(WaitUntil([&] { return table.ConsumerAsleep(); }));
          ++postedToSleeper;
          break;
        case 1:  // after everything before has run: the consumer is asleep or about to be
          ASSERT_TRUE(WaitUntil([&] { return consumer.Ran() == id; })) << "post " << id - 1;
          break;
        case 2:
          std::this_thread::sleep_for(std::chrono::microseconds(random() % 200));
          break;
        default:  // at once, often into a pass in progress
          break;
      }
      ASSERT_TRUE(table.PostWhile(running, 0ms, CMD_INPUT, id, id * 7, ~id));
    }
    EXPECT_TRUE(WaitUntil([&] { return consumer.Ran() == kPosts; }))
        << consumer.Ran() << " of " << kPosts << " ran";
    EXPECT_GT(postedToSleeper, 0);
    EXPECT_GT(consumer.Sleeps(), postedToSleeper / 2);
    ASSERT_TRUE(consumer.StopAndJoin()) << "a wake for the stop word must end the sleep";
    EXPECT_EQ(consumer.Torn(), 0);
    const std::vector<int>& order = consumer.Order();
    ASSERT_EQ(order.size(), static_cast<size_t>(kPosts));
    for (int id = 0; id < kPosts; ++id) ASSERT_EQ(order[id], id) << "run out of posting order";
  }
}

// While the consumer sleeps, posts fill the lowest free slots, and one wake
// runs them in posting order in a single pass.
TEST(CommandTable, PostsToASleepingConsumerRunInPostingOrder) {
  CommandTable table;
  // Slots 0 to 2 are filled while nothing consumes; then 0 and 1 are freed.
  ASSERT_TRUE(table.TryPost(CMD_INPUT, 100, 700, ~100));
  ASSERT_TRUE(table.TryPost(CMD_INPUT, 1, 7, ~1));
  ASSERT_TRUE(table.TryPost(CMD_INPUT, 2, 14, ~2));
  table.Reset(1);
  table.Reset(0);
  ASSERT_TRUE(table.TryPost(CMD_INPUT, 3, 21, ~3));  // lands in slot 0, runs after 2
  SleepingConsumer consumer(table);
  ASSERT_TRUE(WaitUntil([&] { return consumer.Ran() == 2 && table.ConsumerAsleep(); }));
  ASSERT_TRUE(table.TryPost(CMD_INPUT, 4, 28, ~4));
  ASSERT_TRUE(WaitUntil([&] { return consumer.Ran() == 3; }));
  ASSERT_TRUE(consumer.StopAndJoin());
  EXPECT_EQ(consumer.Order(), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(consumer.Torn(), 0);
}

// The two narrow windows of a sleep, made wide: a post that lands after the
// consumer's empty pass but before it announced its sleep (its wake is skipped,
// so the consumer's last look must find the slot), and one that lands after the
// announcement but before the wait (its wake must end the wait at once).
TEST(CommandTable, PostsJustBeforeTheSleepAreNotSlept) {
  CommandTable table;
  auto waitReturns = [&table](auto&& stopWaiting) {
    std::atomic<bool> returned{false};
    std::thread consumer([&] {
      table.WaitForWork(stopWaiting);
      returned.store(true);
    });
    const bool ok = WaitUntil([&] { return returned.load(); });
    while (!returned.load()) table.Wake();  // unstick it, so that join returns
    consumer.join();
    return ok;
  };

  EXPECT_EQ(table.ConsumePass([](int32_t, int32_t, int32_t, int32_t) {}), 0);
  ASSERT_TRUE(table.TryPost(CMD_INPUT, 1, 7, ~1));  // the consumer is awake: no wake
  EXPECT_TRUE(waitReturns([] { return false; })) << "slept over a published slot";
  EXPECT_EQ(table.ConsumePass([](int32_t, int32_t, int32_t, int32_t) {}), 1);

  bool posted = false;
  EXPECT_TRUE(waitReturns([&] {
    if (!posted) posted = table.TryPost(CMD_INPUT, 2, 14, ~2);  // after the announcement
    return false;
  })) << "slept over a post that came after the last look";
  EXPECT_TRUE(posted);
  EXPECT_FALSE(table.ConsumerAsleep());
}

// A wake with nothing to do costs one pass: the consumer sleeps again rather
// than spinning, and no slot changes.
TEST(CommandTable, WakeWithoutWorkLeavesTheTableAlone) {
  CommandTable table;
  table.Wake();  // nobody asleep
  EXPECT_FALSE(table.ConsumerAsleep());
  SleepingConsumer consumer(table);
  ASSERT_TRUE(WaitUntil([&] { return table.ConsumerAsleep(); }));
  table.Wake();
  ASSERT_TRUE(WaitUntil([&] { return consumer.Sleeps() >= 2; }))
      << "a woken consumer with nothing to do sleeps again";
  EXPECT_EQ(consumer.Ran(), 0);
  for (int i = 0; i < kSlotCount; ++i) EXPECT_EQ(table.StateOf(i), SLOT_FREE);
  ASSERT_TRUE(consumer.StopAndJoin());
}

}  // namespace
}  // namespace quillo
