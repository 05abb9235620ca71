// Ends a web process that keeps a new main-frame load from starting: script that never
// returns, or dialogs that nobody answers, opened in a loop. Each load asked for through the
// frame must start within kStartGrace; otherwise the guard's callback runs (the browser then
// terminates the web process and asks for the load again in a fresh one).
//
// Thread: the UI (engine) thread only.
#pragma once

#include <glib.h>

#include <functional>
#include <string>

namespace quillo::engine {

class StuckPageGuard {
 public:
  static constexpr guint kStartGraceMs = 5000;
  using Expired = std::function<void(const std::u16string& url)>;

  explicit StuckPageGuard(Expired onExpired) : m_onExpired(std::move(onExpired)) {}
  ~StuckPageGuard() { Disarm(); }
  StuckPageGuard(const StuckPageGuard&) = delete;
  StuckPageGuard& operator=(const StuckPageGuard&) = delete;

  // A load of url was asked for: it must start within the grace (restarts the clock).
  void Arm(const std::u16string& url, GMainContext* context);
  // The load started, or the view goes.
  void Disarm();

 private:
  static gboolean OnTimeout(gpointer self);

  Expired m_onExpired;
  GSource* m_timer = nullptr;
  std::u16string m_url;
};

}  // namespace quillo::engine
