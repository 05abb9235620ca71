// The views interface's process-wide state on the host's side: which thread is the host's, the
// views by handle, the views engine, and whether the interface runs or has shut down. The C
// functions of quillo/views.h (views_exports.cpp) are thin calls into it.
//
// Threads: every method on the host's thread, which Enter checks first (the first call claims
// it); m_hostThread and m_phase are atomics so that a call from another thread is told apart
// without a race. One instance for the process, kept until the process ends.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "quillo/views.h"
#include "views/handle_table.h"
#include "views/host_view.h"
#include "views/views_engine.h"

namespace quillo::views {

class ViewClient;

class ViewsRuntime {
 public:
  static ViewsRuntime& Get();

  // Checks that a call named name may run: not in a forked child, not after shutdown, on the
  // host's thread (the first call makes its thread the host's). QUILLO_OK, or the refusal,
  // logged. Any thread.
  int Enter(const char16_t* name);
  // Logs why the current call is refused and returns result.
  int Refuse(int result, const std::string& why);

  // The live view of handle into *view: QUILLO_OK or QUILLO_ERROR_BAD_HANDLE (logged).
  int Find(quillo_view* handle, HostView** view);

  int Create(const quillo_view_config* config, const std::string& url, quillo_view** out);
  int Destroy(quillo_view* handle);
  // New memory, or a new scale for the same memory: new frames of that geometry, handed to the
  // engine side; the memory before is not written again once this returns.
  int Resize(HostView& view, int width, int height, void* pixels, size_t stride, double scale);
  int Pump();
  int Shutdown();
  // quillo_register_scheme: the scheme for every view, registered with the engine now or as it
  // starts.
  int RegisterScheme(const std::string& scheme);
  // Hands fn to the view's engine side, run on the engine thread in the order of the calls
  // (dropped when the engine side is gone).
  void Post(const HostView& view, std::function<void(ViewClient&)> fn);

  // Called in the child of a fork: from then on every call is refused.
  static void OnForkedChild();
  static bool Forked();

 private:
  enum class Phase : int { kIdle, kRunning, kShutDown };

  ViewsRuntime() = default;
  ~ViewsRuntime();
  int StartEngine();

  std::atomic<std::thread::id> m_hostThread{};
  std::atomic<int> m_phase{static_cast<int>(Phase::kIdle)};
  // Host's thread only.
  const char16_t* m_call = u"";  // the call running now, for log lines
  CefRefPtr<ViewsEngine> m_engine;
  HandleTable<HostView> m_views{QUILLO_MAX_VIEWS};
  std::set<std::string> m_schemes;  // registered by the host
  // Views whose notices the host left unread past kMaxWaitingNotices: their frames wait.
  bool m_stallLogged = false;
  // When the pump last looked for requests that wait long for the host's answer.
  std::chrono::steady_clock::time_point m_lastWaitCheck{};
};

}  // namespace quillo::views
