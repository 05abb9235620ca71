// Paces the view's frames to the browser's frame rate. The engine draws its
// next frame only once told that the last one is done ("frame complete"), so
// the ticks that tell it are the view's frame clock. A tick is sent at once
// when a frame arrives a whole interval after the last tick, otherwise at the
// next point of the rate's grid, so timer and polling delays do not add up
// frame after frame. UI thread only; owned by the frame sink.
#pragma once

#include <glib.h>

#include <cstdint>
#include <functional>

#include "wpe/process/one_shot_timer.h"

namespace quillo::engine {

class FramePacer {
 public:
  using Tick = std::function<void()>;

  // frameRate: frames per second, 60 when not positive, at most 1000.
  FramePacer(int frameRate, Tick tick) : m_intervalUs(IntervalUs(frameRate)), m_tick(tick) {}
  // A new rate, from the next tick on.
  void SetFrameRate(int frameRate) { m_intervalUs = IntervalUs(frameRate); }
  FramePacer(const FramePacer&) = delete;
  FramePacer& operator=(const FramePacer&) = delete;

  // A frame arrived: tick now if due, else once the next grid point comes
  // (one timer at a time).
  void FrameArrived();
  // No more ticks (the view goes).
  void Stop() { m_timer.Cancel(); }

  static int64_t IntervalUs(int frameRate);
  // The time a tick sent at `now` counts as, after the last at `last`: the
  // next grid point while less than a frame late, else `now` (the grid
  // restarts there).
  static int64_t TickTime(int64_t last, int64_t interval, int64_t now);
  // How long a frame arriving at `now` waits for its tick (0: at once).
  static int64_t WaitUs(int64_t last, int64_t interval, int64_t now);

 private:
  void TickNow();

  int64_t m_intervalUs;
  const Tick m_tick;
  int64_t m_lastTickUs = 0;  // monotonic microseconds
  OneShotTimer m_timer;
};

}  // namespace quillo::engine
