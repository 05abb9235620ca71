// The engine's process-wide state on WPE WebKit: the UI thread's GLib main
// context, the web context all views share (and with it the languages pages
// are offered in), task posting from other threads and the bookkeeping of
// cookie deletions that a new view must wait for. Nothing here belongs to one
// browser: any number of them share it.
//
// Threads: Start and Stop run on the UI thread (the thread that calls Start);
// PostTask, RunOnUi, IsRunning and the thread queries may be called on any
// thread; everything else is UI-thread only, checked in debug builds.
#pragma once

#include <wpe/webkit.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cef_app.h"
#include "wpe/process/message_pump_watcher.h"
#include "wpe/process/ui_thread.h"

namespace quillo::engine {

class EngineContext {
 public:
  static EngineContext& Get();

  // Starts the engine on the calling thread, its web processes limited to
  // memoryLimitMb (0: no limit). False if it cannot start, or was started
  // before (the engine starts once per process).
  bool Start(uint32_t memoryLimitMb = 0);
  void Stop();
  bool IsRunning() const { return m_running.load(); }
  // The engine runs and the caller is its UI thread.
  bool IsUiThread() const { return m_running.load() && OnUiThread(); }
  // The caller is the thread that started the engine, running or not (false
  // before it has started).
  bool OnUiThread() const { return std::this_thread::get_id() == m_uiThread.load(); }

  // Runs task on the UI thread at its next message-loop work. Tasks posted
  // while the engine is not running are dropped.
  void PostTask(std::function<void()> task);
  // Runs task at once on the UI thread, else posts it.
  void RunOnUi(std::function<void()> task);

  // Dispatches what is ready on the main context, bounded, without blocking;
  // except while a browser close waits for its page (BeginCloseWait): then a
  // call that finds nothing ready waits for the next event (the page's answer,
  // a posted task or the close grace running out), so that the loop pumping
  // the close sleeps instead of spinning.
  void DoWork();
  // A browser asked its page to close and armed its close grace; ended when
  // its view is destroyed. UI thread.
  void BeginCloseWait() {
    QUILLO_REQUIRE_UI_THREAD();
    ++m_closesWaiting;
  }
  void EndCloseWait() {
    QUILLO_REQUIRE_UI_THREAD();
    if (m_closesWaiting > 0) --m_closesWaiting;
  }

  // With CefSettings::external_message_pump: from now on each DoWork ends by
  // arming a watcher that calls handler's OnScheduleMessagePumpWork(0) when
  // the context next has something to dispatch. UI thread, after Start.
  void EnableExternalPump(CefRefPtr<CefBrowserProcessHandler> handler);

  // The application given to CefInitialize; UI thread.
  void SetApp(CefRefPtr<CefApp> app) {
    QUILLO_REQUIRE_UI_THREAD();
    m_app = app;
  }
  CefRefPtr<CefApp> App() const {
    QUILLO_REQUIRE_UI_THREAD();
    return m_app;
  }
  int NextBrowserId() {
    QUILLO_REQUIRE_UI_THREAD();
    return ++m_lastBrowserId;
  }
  // Uncaught script exceptions are reported only while this is positive.
  void SetUncaughtExceptionStackSize(int size) {
    QUILLO_REQUIRE_UI_THREAD();
    m_uncaughtExceptionStackSize = size;
  }
  int UncaughtExceptionStackSize() const {
    QUILLO_REQUIRE_UI_THREAD();
    return m_uncaughtExceptionStackSize;
  }

  // UI thread.
  GMainContext* MainContext() const {
    QUILLO_REQUIRE_UI_THREAD();
    return m_mainContext;
  }
  WebKitWebContext* WebContext() const {
    QUILLO_REQUIRE_UI_THREAD();
    return m_webContext;
  }

  // The languages pages are offered in (Accept-Language, navigator.languages),
  // a comma-separated list; empty: the engine's default. WebKit keeps them for
  // the whole web context, so they are the engine's and not a browser's: each
  // new view asks for its own, and a view that asks for others while views
  // are open changes them for those too (logged).
  void UseLanguages(const std::u16string& languages);
  // Views made and not yet dropped.
  void ViewOpened() {
    QUILLO_REQUIRE_UI_THREAD();
    ++m_openViews;
  }
  void ViewClosed() {
    QUILLO_REQUIRE_UI_THREAD();
    if (m_openViews > 0) --m_openViews;
  }

  // Cookie deletions in flight: a view created meanwhile starts its first
  // load only when all of them have finished.
  void BeginCookieOperation() {
    QUILLO_REQUIRE_UI_THREAD();
    ++m_pendingCookieOps;
  }
  void EndCookieOperation();
  void WhenCookiesSettled(std::function<void()> task);

 private:
  EngineContext() = default;
  // Blocks until a source of the main context is dispatched, at most about atMostMs.
  void WaitForEvent(guint atMostMs);

  // Set on the UI thread by Start and Stop; read anywhere.
  std::atomic<bool> m_running{false};
  std::atomic<bool> m_started{false};  // once true, never false again
  // The thread that started the engine; default (no thread) before Start.
  std::atomic<std::thread::id> m_uiThread;

  // UI thread only.
  GMainContext* m_mainContext = nullptr;
  WebKitWebContext* m_webContext = nullptr;
  CefRefPtr<CefApp> m_app;
  int m_lastBrowserId = 0;
  int m_uncaughtExceptionStackSize = 0;
  int m_pendingCookieOps = 0;
  int m_closesWaiting = 0;
  int m_openViews = 0;
  bool m_languagesSet = false;  // UseLanguages was called since Start
  std::u16string m_languages;   // what it set
  std::vector<std::function<void()>> m_afterCookies;
  // Armed after each DoWork while the external pump is on; its thread only
  // reads the armed set and calls the handler.
  MessagePumpWatcher m_pumpWatcher;
  bool m_externalPump = false;
};

}  // namespace quillo::engine
