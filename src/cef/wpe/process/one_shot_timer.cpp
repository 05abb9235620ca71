#include "wpe/process/one_shot_timer.h"

#include <utility>

#include "wpe/process/engine_context.h"

namespace quillo::engine {

void OneShotTimer::Start(guint delayMs, std::function<void()> task) {
  QUILLO_REQUIRE_UI_THREAD();
  Cancel();
  m_task = std::move(task);
  m_source = g_timeout_source_new(delayMs);
  g_source_set_callback(m_source, &OneShotTimer::OnFire, this, nullptr);
  g_source_attach(m_source, EngineContext::Get().MainContext());
}

void OneShotTimer::Cancel() {
  m_task = nullptr;
  if (m_source == nullptr) return;
  g_source_destroy(m_source);
  g_source_unref(m_source);
  m_source = nullptr;
}

gboolean OneShotTimer::OnFire(gpointer self) {
  auto* timer = static_cast<OneShotTimer*>(self);
  g_source_unref(std::exchange(timer->m_source, nullptr));
  // Taken out first: the task may start this timer again, or end its owner.
  std::function<void()> task = std::move(timer->m_task);
  timer->m_task = nullptr;
  if (task) task();
  return G_SOURCE_REMOVE;
}

}  // namespace quillo::engine
