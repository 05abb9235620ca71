// The views' engine: a thread of the library's own that starts the engine (CefInitialize on
// it, so it is the engine's UI thread), runs the host's calls handed over as tasks, and does a
// message-loop work whenever the host's pump asks for it and, while the host keeps pumping,
// whenever the engine asks for one itself; and the views' engine-side clients, found by their
// handles. Between works the thread sleeps on its wake word.
//
// Works between pumps are what a page's round trips need: a script's result, a page's message
// or a painted frame is then ready for the host's next pump instead of the one after. A host that
// stops pumping for longer than kPumpLease stops the engine at its next work, as before.
//
// The host's calls travel as tasks through a lock-free queue (the host's thread pushes, the
// engine thread pops); what the engine has to say travels back as events through another
// (the engine thread pushes, the host's thread pops). The host's thread never waits for the
// engine thread, except in Stop.
//
// Threads: Start, State, Post, Pump, TakeEvent and Stop on the host's thread; Emit, the client
// table and the tasks on the engine thread; OnScheduleMessagePumpWork on any thread. The
// runtime owns this object and keeps it until the process ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <unordered_map>

#include "cef_app.h"
#include "cef_scheme.h"
#include "views/spsc_queue.h"
#include "views/view_event.h"

namespace quillo::views {

class ViewClient;

class ViewsEngine : public CefApp, public CefBrowserProcessHandler, public CefSchemeHandlerFactory {
 public:
  enum class State : int { kIdle, kStarting, kRunning, kFailed, kStopped };
  using Task = std::function<void(ViewsEngine&)>;

  ViewsEngine() = default;
  ~ViewsEngine() override;

  // ---- Host's thread.
  // Starts the engine thread (once); the engine starts on it.
  void Start();
  State GetState() const { return static_cast<State>(m_state.load()); }
  // Queues task for the engine thread, which runs the tasks in the order they were posted, at
  // its next work (the next Pump asks for one).
  void Post(Task task);
  // Asks the engine thread for a work when the engine asked for one or tasks wait, and renews
  // the lease under which the engine's own requests wake it; never waits.
  void Pump();
  // The oldest event the engine thread emitted; false when none waits.
  bool TakeEvent(ViewEvent* event) { return m_events.Pop(event); }
  // Closes every client's browser, stops the engine and ends the thread; returns when it has
  // ended. The tasks posted before run first.
  void Stop();

  // ---- Engine thread.
  void Emit(ViewEvent event) { m_events.Push(std::move(event)); }
  // The client of the view with this handle, or null (never made, or gone).
  ViewClient* Find(uint64_t view) const;
  void Adopt(uint64_t view, CefRefPtr<ViewClient> client);
  void Forget(uint64_t view);
  // Requests of scheme from every view's page come to the view's client from now on.
  void RegisterScheme(const std::string& scheme);

  // CefApp
  CefRefPtr<CefBrowserProcessHandler> GetBrowserProcessHandler() override { return this; }
  // CefBrowserProcessHandler
  void OnScheduleMessagePumpWork(int64_t delay_ms) override;  // any thread
  // CefSchemeHandlerFactory: the handler of the view whose page asked (none for another).
  CefRefPtr<CefResourceHandler> Create(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                       const CefString& scheme_name,
                                       CefRefPtr<CefRequest> request) override;

 private:
  static constexpr uint32_t kWakeWork = 0x1;
  static constexpr uint32_t kWakeStop = 0x2;
  static constexpr int64_t kPumpLeaseNs = 500'000'000;

  void Run();       // the engine thread
  void RunTasks();  // engine thread
  void CloseAll();  // engine thread

  std::atomic<int> m_state{static_cast<int>(State::kIdle)};  // written by both, read anywhere
  std::thread m_thread;  // started by Start, joined by Stop (host's thread)
  // The engine thread's wake word: kWakeWork and kWakeStop bits, set by the host's thread and
  // taken by the engine thread with an exchange.
  std::atomic<uint32_t> m_wake{0};
  // Raised by the engine (any thread) when it has work; taken by Pump. Raised at first, so that
  // the first pumps drive the engine until it reports for itself.
  std::atomic<bool> m_workAsked{true};
  // When the host's thread last pumped (steady clock, ns; 0 before the first pump). The engine's
  // own requests for work wake the engine thread directly only within kPumpLease of it.
  std::atomic<int64_t> m_lastPumpNs{0};
  bool m_tasksPosted = false;     // host's thread: tasks posted since the last Pump
  SpscQueue<Task> m_tasks;        // host's thread -> engine thread
  SpscQueue<ViewEvent> m_events;  // engine thread -> host's thread
  // Engine thread only: the clients of the views the engine holds.
  std::unordered_map<uint64_t, CefRefPtr<ViewClient>> m_clients;

  IMPLEMENT_REFCOUNTING(ViewsEngine);
};

}  // namespace quillo::views
