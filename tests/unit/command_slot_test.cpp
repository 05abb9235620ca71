// The lock-free slot tables: claiming, publishing, consuming and giving up.
#include "controller/command_slot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

namespace quillo {
namespace {

using namespace std::chrono_literals;

TEST(CommandTable, TakesTheLowestFreeSlotAndRunsInSlotOrder) {
  CommandTable table;
  ASSERT_TRUE(table.TryPost(CMD_INPUT, 1, 0, 0));  // slot 0
  ASSERT_TRUE(table.TryPost(CMD_INPUT, 2, 0, 0));  // slot 1
  ASSERT_TRUE(table.TryPost(CMD_INPUT, 3, 0, 0));  // slot 2
  EXPECT_EQ(table.StateOf(0), SLOT_READY);
  EXPECT_EQ(table.StateOf(2), SLOT_READY);
  EXPECT_EQ(table.StateOf(3), SLOT_FREE);

  // Free slot 0; the next post lands there although it came after the others,
  // so it runs first.
  table.Reset(0);
  ASSERT_TRUE(table.TryPost(CMD_INPUT, 4, 0, 0));
  std::vector<int> order;
  int ran = table.ConsumePass([&](int32_t, int32_t p1, int32_t, int32_t) { order.push_back(p1); });
  EXPECT_EQ(ran, 3);
  EXPECT_EQ(order, (std::vector<int>{4, 2, 3}));
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
  constexpr int kPerProducer = 5000;
  constexpr int kTotal = kProducers * kPerProducer;
  std::atomic<bool> producing{true};
  std::vector<int> runs(kTotal, 0);

  // The host posts from one thread in the library, but the protocol itself
  // must hold for several producers too.
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
      if (ran == 0) std::this_thread::sleep_for(50us);
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
  EXPECT_EQ(order[7], 11);
}

}  // namespace
}  // namespace quillo
