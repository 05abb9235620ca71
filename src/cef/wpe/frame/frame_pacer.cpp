#include "wpe/frame/frame_pacer.h"
#include "wpe/process/ui_thread.h"

namespace quillo::engine {

int64_t FramePacer::IntervalUs(int rate) {
  if (rate <= 0) rate = 60;
  if (rate > 1000) rate = 1000;
  return 1000000 / rate;
}

int64_t FramePacer::TickTime(int64_t last, int64_t interval, int64_t now) {
  const int64_t due = last + interval;
  return now - due < interval ? due : now;
}

int64_t FramePacer::WaitUs(int64_t last, int64_t interval, int64_t now) {
  const int64_t due = last + interval;
  return now >= due ? 0 : due - now;
}

void FramePacer::TickNow() {
  m_lastTickUs = TickTime(m_lastTickUs, m_intervalUs, g_get_monotonic_time());
  m_tick();
}

void FramePacer::FrameArrived() {
  QUILLO_REQUIRE_UI_THREAD();
  const int64_t wait = WaitUs(m_lastTickUs, m_intervalUs, g_get_monotonic_time());
  if (wait == 0) {
    TickNow();
    return;
  }
  if (m_timer.IsPending()) return;
  m_timer.Start(static_cast<guint>((wait + 999) / 1000), [this] { TickNow(); });
}

}  // namespace quillo::engine
