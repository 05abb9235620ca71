#include "cef/wpe/frame_pacer.h"

#include "cef/wpe/engine_context.h"

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
  const int64_t wait = WaitUs(m_lastTickUs, m_intervalUs, g_get_monotonic_time());
  if (wait == 0) {
    TickNow();
    return;
  }
  if (m_timer != nullptr) return;
  m_timer = g_timeout_source_new(static_cast<guint>((wait + 999) / 1000));
  g_source_set_callback(
      m_timer,
      [](gpointer self) -> gboolean {
        auto* pacer = static_cast<FramePacer*>(self);
        g_source_unref(pacer->m_timer);
        pacer->m_timer = nullptr;
        pacer->TickNow();
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
  g_source_attach(m_timer, EngineContext::Get().MainContext());
}

void FramePacer::Stop() {
  if (m_timer == nullptr) return;
  g_source_destroy(m_timer);
  g_source_unref(m_timer);
  m_timer = nullptr;
}

}  // namespace quillo::engine
