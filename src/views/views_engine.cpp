#include "views/views_engine.h"

#include "diagnostics/debug_log.h"
#include "platform/engine_owner.h"
#include "platform/platform.h"
#include "platform/utf.h"
#include "views/view_client.h"

namespace quillo::views {
namespace {

// Works the engine thread does, at most, to let closing browsers go before it stops the engine.
constexpr int kMaxCloseWorks = 2000;

}  // namespace

ViewsEngine::~ViewsEngine() = default;

void ViewsEngine::Start() {
  int idle = static_cast<int>(State::kIdle);
  if (!m_state.compare_exchange_strong(idle, static_cast<int>(State::kStarting))) return;
  m_thread = std::thread(&ViewsEngine::Run, this);
}

void ViewsEngine::Post(Task task) {
  m_tasks.Push(std::move(task));
  m_tasksPosted = true;
}

void ViewsEngine::Pump() {
  m_lastPumpNs.store(platform::MonotonicNs());
  const bool asked = m_workAsked.load() && m_workAsked.exchange(false);
  if (!asked && !m_tasksPosted) return;
  m_tasksPosted = false;
  m_wake.fetch_or(kWakeWork);
  platform::WakeWordWaiter(m_wake);
}

void ViewsEngine::Stop() {
  if (!m_thread.joinable()) return;
  m_wake.fetch_or(kWakeStop);
  platform::WakeWordWaiter(m_wake);
  m_thread.join();
}

void ViewsEngine::OnScheduleMessagePumpWork(int64_t) {
  // Every delay counts as "soon": the watcher asks only when something is ready or due, and a
  // work that comes early finds nothing and asks again.
  m_workAsked.store(true);
  // While the host pumps, the work is done now rather than at its next pump. Whoever takes the
  // request (here or Pump) wakes the engine thread, so one request is one work.
  const int64_t lastPump = m_lastPumpNs.load();
  if (lastPump == 0 || platform::MonotonicNs() - lastPump > kPumpLeaseNs) return;
  if (!m_workAsked.exchange(false)) return;
  m_wake.fetch_or(kWakeWork);
  platform::WakeWordWaiter(m_wake);
}

ViewClient* ViewsEngine::Find(uint64_t view) const {
  auto it = m_clients.find(view);
  return it == m_clients.end() ? nullptr : it->second.get();
}

void ViewsEngine::Adopt(uint64_t view, CefRefPtr<ViewClient> client) {
  m_clients[view] = std::move(client);
}

void ViewsEngine::Forget(uint64_t view) {
  m_clients.erase(view);
}

void ViewsEngine::RegisterScheme(const std::string& scheme) {
  // Secure and CORS-enabled: a page from it is a secure context, and fetch and module scripts
  // reach it as they reach an https server.
  if (!CefRegisterSchemeHandlerFactory(CefString(scheme), CefString(), this) ||
      !CefAddCustomSchemeOptions(CefString(scheme), CEF_SCHEME_OPTION_SECURE |
                                                        CEF_SCHEME_OPTION_CORS_ENABLED |
                                                        CEF_SCHEME_OPTION_FETCH_ENABLED))
    QLOG(u"ViewsEngine => the scheme [%s] could not be registered",
         platform::Utf8ToUtf16(scheme).c_str());
}

CefRefPtr<CefResourceHandler> ViewsEngine::Create(CefRefPtr<CefBrowser> browser,
                                                  CefRefPtr<CefFrame>, const CefString&,
                                                  CefRefPtr<CefRequest> request) {
  for (auto& [view, client] : m_clients)
    if (client->Shows(browser)) return client->NewResource(request);
  return nullptr;
}

void ViewsEngine::RunTasks() {
  Task task;
  while (m_tasks.Pop(&task)) {
    task(*this);
    task = nullptr;  // what the task held goes on this thread
  }
}

void ViewsEngine::CloseAll() {
  for (auto& [view, client] : m_clients) client->Close();
  for (int i = 0; i < kMaxCloseWorks && !m_clients.empty(); ++i) CefDoMessageLoopWork();
  if (!m_clients.empty())
    QLOG(u"ViewsEngine => %d views did not close in time", static_cast<int>(m_clients.size()));
  m_clients.clear();
}

void ViewsEngine::Run() {
  QLOG(u"ViewsEngine => engine thread started");
  CefMainArgs args;
  CefSettings settings;
  settings.windowless_rendering_enabled = 1;
  // The engine says when it has work; the host's pump asks for a work only then.
  settings.external_message_pump = 1;
  settings.web_process_memory_limit_mb = platform::WebProcessMemoryLimitMb();
  if (!CefInitialize(args, settings, this, nullptr)) {
    QLOG(u"ViewsEngine => the engine could not start");
    m_state.store(static_cast<int>(State::kFailed));
    return;
  }
  m_state.store(static_cast<int>(State::kRunning));
  for (;;) {
    const uint32_t wake = m_wake.exchange(0);
    if (wake & kWakeStop) break;
    if (wake & kWakeWork) {
      RunTasks();
      CefDoMessageLoopWork();
      continue;
    }
    platform::WaitWhileEquals(m_wake, 0);
  }
  RunTasks();
  CloseAll();
  CefShutdown();
  m_state.store(static_cast<int>(State::kStopped));
  QLOG(u"ViewsEngine => engine thread ended");
}

}  // namespace quillo::views
