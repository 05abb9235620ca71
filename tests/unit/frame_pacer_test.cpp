// The frame clock's grid: ticks stay on the rate's grid while frames come less
// than an interval late, and the grid restarts after a pause.
#include "wpe/frame/frame_pacer.h"

#include <gtest/gtest.h>

#include <random>

namespace quillo::engine {
namespace {

TEST(FramePacer, RateIsClampedAndDefaultsToSixty) {
  EXPECT_EQ(FramePacer::IntervalUs(0), 1000000 / 60);
  EXPECT_EQ(FramePacer::IntervalUs(-5), 1000000 / 60);
  EXPECT_EQ(FramePacer::IntervalUs(30), 1000000 / 30);
  EXPECT_EQ(FramePacer::IntervalUs(5000), 1000);
}

// A host whose frames come with random delays: simulated with the pacer's own
// arithmetic (a timer fires when its wait is over, possibly late). Over a long
// run the ticks must keep to the grid of the first one, never come closer than
// an interval, and the count must match the elapsed time.
TEST(FramePacer, JitteredFramesKeepToTheGrid) {
  const int64_t interval = FramePacer::IntervalUs(60);
  std::mt19937 random(7);
  std::uniform_int_distribution<int64_t> jitter(0, interval * 9 / 10);
  const int64_t start = 1000000;
  int64_t last = FramePacer::TickTime(0, interval, start);
  ASSERT_EQ(last, start);  // long after the zero tick: the grid starts here
  int64_t now = start;
  int ticks = 0;
  for (int i = 0; i < 10000; ++i) {
    // The next frame is drawn after the tick, somewhat late; its tick waits
    // for the grid point, and the timer itself may fire late too.
    now += jitter(random) / 2;
    const int64_t wait = FramePacer::WaitUs(last, interval, now);
    if (wait > 0) now += wait + jitter(random) / 2;
    const int64_t tick = FramePacer::TickTime(last, interval, now);
    ASSERT_EQ((tick - start) % interval, 0) << "tick " << i << " left the grid";
    ASSERT_EQ(tick - last, interval) << "tick " << i;
    ASSERT_LE(tick, now);
    last = tick;
    ++ticks;
  }
  EXPECT_EQ(last - start, int64_t{ticks} * interval);
}

TEST(FramePacer, PauseRestartsTheGrid) {
  const int64_t interval = 10000;
  // Less than an interval late: the grid point counts.
  EXPECT_EQ(FramePacer::TickTime(50000, interval, 65000), 60000);
  // A whole interval late or more: now counts, and the next wait is from now.
  EXPECT_EQ(FramePacer::TickTime(50000, interval, 70000), 70000);
  EXPECT_EQ(FramePacer::WaitUs(70000, interval, 72500), 7500);
  EXPECT_EQ(FramePacer::WaitUs(70000, interval, 80000), 0);
}

}  // namespace
}  // namespace quillo::engine
