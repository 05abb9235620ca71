// A timer on the UI thread's main context that runs its task once, after a
// delay, inside a message-loop work. The task may start the timer again.
// Destroying or cancelling the timer drops a task that has not run.
//
// Thread: the UI (engine) thread only.
#pragma once

#include <glib.h>

#include <functional>

namespace quillo::engine {

class OneShotTimer {
 public:
  OneShotTimer() = default;
  ~OneShotTimer() { Cancel(); }
  OneShotTimer(const OneShotTimer&) = delete;
  OneShotTimer& operator=(const OneShotTimer&) = delete;

  // Runs task once after delayMs; a task still pending is dropped first.
  void Start(guint delayMs, std::function<void()> task);
  void Cancel();
  bool IsPending() const { return m_source != nullptr; }

 private:
  static gboolean OnFire(gpointer self);

  GSource* m_source = nullptr;
  std::function<void()> m_task;
};

}  // namespace quillo::engine
