// CWebApplication: the engine's application object, also its browser-process
// and render-process handler. It keeps the accept-language setting, owns the
// client, creates the windowless browser, filters navigations against the
// host's refused prefixes, carries out history moves, collects the host's
// notices for UpdateWeb and dispatches the host's input.
//
// Threads: constructed and re-set on the host's thread; OnContextInitialized,
// CreateBrowser, GoBackForwardHome and the navigation and script-context hooks
// run on the engine thread; InputWeb runs on the input thread; UpdateWeb and
// ReserveInvalidRedirectUrlSchemes on the host's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "cef_app.h"
#include "client/notice_text.h"
#include "client/web_client.h"

namespace quillo {

// The eight arguments of LoadWeb, in their order.
struct LoadArguments {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  void* pixels = nullptr;
  const char* url = nullptr;
  int options = 0;
  const char* acceptLanguage = nullptr;
};

constexpr size_t kAcceptLanguageSize = 10;

class CWebApplication : public CefApp,
                        public CefBrowserProcessHandler,
                        public CefRenderProcessHandler {
 public:
  explicit CWebApplication(const LoadArguments& args);  // host thread
  ~CWebApplication() override;

  // CefApp
  CefRefPtr<CefBrowserProcessHandler> GetBrowserProcessHandler() override { return this; }
  CefRefPtr<CefRenderProcessHandler> GetRenderProcessHandler() override { return this; }

  // CefBrowserProcessHandler (engine thread)
  void OnContextInitialized() override;
  // Any thread: the engine has work for the next message-loop work.
  void OnScheduleMessagePumpWork(int64_t delay_ms) override;

  // CefRenderProcessHandler (engine thread)
  bool OnBeforeNavigation(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                          CefRefPtr<CefRequest> request, NavigationType navigation_type,
                          bool is_redirect) override;
  void OnContextCreated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                        CefRefPtr<CefV8Context> context) override;
  void OnContextReleased(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                         CefRefPtr<CefV8Context> context) override;
  void OnUncaughtException(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                           CefRefPtr<CefV8Context> context, CefRefPtr<CefV8Exception> exception,
                           CefRefPtr<CefV8StackTrace> stackTrace) override;

  // Host thread, while no browser exists: settings for the next browser.
  void LoadWebSetting(const LoadArguments& args);
  // Engine thread.
  void CreateBrowser();
  void GoBackForwardHome(int direction);

  // Host thread.
  void ReserveInvalidRedirectUrlSchemes(const char* schemes);
  // Collects one notice word for the host; -1 while nothing can be reported.
  int UpdateWeb(void** text, int* value);

  // Input thread.
  void InputWeb(int event, int a, int b);

  // Host thread: whether the host wants a page open. A browser is created only while it is
  // wanted, so a close the host asked for also stops a browser that is still on its way.
  void SetBrowserWanted(bool wanted) { m_browserWanted.store(wanted); }

  // Host thread: true once per OnScheduleMessagePumpWork (or more); UpdateWeb posts a
  // message-loop work only then. RescheduleMessagePumpWork gives back one that found no slot.
  bool TakeScheduledPumpWork() {
    return m_pumpWorkScheduled.load() && m_pumpWorkScheduled.exchange(false);
  }
  void RescheduleMessagePumpWork() { m_pumpWorkScheduled.store(true); }

  // Between two polls the engine thread does the work the engine asks for at once, as long as
  // the host polls (the last UpdateWeb within kPollLeaseNs): a painted frame, a load's end or a
  // click's effect is then ready for the host's next poll instead of the one after. A host that
  // stops polling stops the engine at its next work, as without the lease; so does a web
  // process's end until the host has heard of it (see CWebClient::EndUnheard).
  static constexpr int64_t kPollLeaseNs = 500'000'000;
  // Host thread: called by every UpdateWeb. wakeEngine (set once, before the engine starts)
  // wakes the engine thread when it asks for a work between polls.
  void RenewPollLease();
  void SetEngineWaker(std::function<void()> wakeEngine) { m_wakeEngine = std::move(wakeEngine); }
  // Engine thread: whether a work was asked for between polls (taken once).
  bool TakeOwnWork();

  CefRefPtr<CWebClient> Client() const { return m_client; }
  bool ContextInitialized() const { return m_contextInitialized.load(); }

 private:
  void InputMouse(int event, int a, int b);
  void InputKey(int event, int a, int b);
  void StoreAcceptLanguage(const char* text);

  CefRefPtr<CWebClient> m_client;  // set by the constructor, kept for life
  std::atomic<bool> m_contextInitialized{false};
  std::atomic<bool> m_browserWanted{true};  // host thread writes; engine thread reads
  // Raised by the engine's pump watcher (any thread), taken by UpdateWeb; raised at first so
  // that the first polls drive the engine until it reports for itself.
  std::atomic<bool> m_pumpWorkScheduled{true};
  // When the host last polled (steady clock, ns; 0 before the first poll): written by UpdateWeb,
  // read by OnScheduleMessagePumpWork on any thread.
  std::atomic<int64_t> m_lastPollNs{0};
  // Raised when a request for work is taken between polls, taken by the engine thread.
  std::atomic<bool> m_ownWork{false};
  std::function<void()> m_wakeEngine;  // set on the host's thread before the engine starts
  int m_contextCount = 0;              // engine thread only
  char m_acceptLanguage[kAcceptLanguageSize] = {};  // host thread; read after hand-over

  // Guarded by m_schemeLock: the refused prefixes, replaced whole by the
  // host and walked by the navigation hook.
  std::mutex m_schemeLock;
  std::vector<std::string> m_invalidSchemes;
  // Raised by the navigation hook (under the lock, after the text), read and
  // cleared by UpdateWeb without it.
  std::atomic<uint8_t> m_refusedUrlNotice{0};
  NoticeText<kNoticeTextSize> m_refusedUrlText;

  IMPLEMENT_REFCOUNTING(CWebApplication);
};

}  // namespace quillo
