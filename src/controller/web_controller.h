// CWebController: the process-wide controller behind the exports. It owns the
// engine thread (CallLoopCef: engine start-up, browser creation and close,
// message-loop work, history moves, shutdown) and the input thread
// (CallLoopIO: host input), and the two tables of command slots through which
// the host's thread hands them work.
//
// Threads: every public method but the loops runs on the host's thread (but the
// final shutdown at the process's exit, which may run on any thread). The
// request words and m_runIO are atomics; m_application is written once on the
// host's thread before either thread can read it. Whoever sets a request word
// or clears m_runIO then wakes the table of the thread that reads it.
#pragma once

#include <atomic>
#include <thread>

#include "application/web_application.h"
#include "cef_base.h"
#include "controller/command_slot.h"
#include "platform/engine_owner.h"
#include "platform/platform.h"

namespace quillo {

// A producer that finds its table full tries again after this long. Idle
// consumers do not look on a clock: they sleep until a producer wakes them.
constexpr auto kProducerRetrySleep = std::chrono::milliseconds(5);

// The LoadWeb arguments that a page keeps from its opening, to tell a host that later ones are
// not used.
struct OpenArguments {
  void* pixels = nullptr;
  int x = 0, y = 0, width = 0, height = 0, options = 0;
  char acceptLanguage[kAcceptLanguageSize] = {};

  void Keep(const LoadArguments& args);
  bool SameAs(const LoadArguments& args) const;
};

class CWebController : public CefBaseRefCounted {
 public:
  CWebController();  // starts the engine thread

  void AddRef() const override { m_refCount.fetch_add(1); }
  bool Release() const override;
  bool HasOneRef() const override { return m_refCount.load() == 1; }
  bool HasAtLeastOneRef() const override { return m_refCount.load() >= 1; }

  // Host thread.
  void FirstLoad(const LoadArguments& args);
  void LoadWeb(const LoadArguments& args);
  void UnloadWeb(bool shutdown);
  int UpdateWeb(void** text, int* value);
  void InputWeb(int event, int a, int b);
  void GoBackForwardHome(int direction);
  // Waits in 5 ms steps while the engine table is full.
  void PostCommand(int32_t command, int32_t p1, int32_t p2, int32_t p3);
  void StartLoopIO();
  void StopLoopIO();

  CefRefPtr<CWebApplication> Application() const { return m_application; }
  // Any thread: the final shutdown has begun (UnloadWeb(1), or the process's exit). From then
  // on the exports hand the engine no more work.
  bool Stopping() const { return m_stopping.load(); }

 protected:
  ~CWebController() override;

 private:
  void CheckModuleDirectory();
  void CallLoopCef();
  void CallLoopIO();
  void RunEngineCommand(int32_t command, int32_t p1, int32_t p3);
  void InitCef();
  void _LoadWeb();
  // Host thread: opens a page with all of args (no page is open and no close is pending).
  void OpenPage(const LoadArguments& args);
  void _UnloadWeb(bool shutdown);

  mutable std::atomic<int32_t> m_refCount{0};
  // Written once on the host's thread before the input thread starts and
  // before CMD_INIT_CEF is posted; then read by all threads.
  CefRefPtr<CWebApplication> m_application;
  std::thread m_threadCef;  // started by the constructor, joined by UnloadWeb(1)
  std::thread m_threadIO;   // started by StartLoopIO, joined by StopLoopIO
  CommandTable m_cefSlots;  // consumed by the engine thread
  CommandTable m_ioSlots;   // consumed by the input thread
  // Host thread (CheckModuleDirectory), before the engine thread reads them.
  char16_t m_modulePath[platform::kPathCapacity] = {};
  char16_t m_moduleDirectory[platform::kPathCapacity] = {};
  char16_t m_logFilePath[platform::kPathCapacity] = {};
  std::atomic<bool> m_runIO{false};
  std::atomic<int32_t> m_exitRequest{0};   // 2: shut down and end the engine thread
  std::atomic<int32_t> m_closeRequest{0};  // 2: close the browser
  // Raised when the engine asks for a work between the host's polls (any thread), taken by the
  // engine thread.
  std::atomic<bool> m_ownWorkAsked{false};
  std::atomic<bool> m_engineAlive{true};  // false once the engine thread has ended for good
  // Set by the first final shutdown; a second one (the exit of the process on another thread
  // while the host's thread is in UnloadWeb(1)) waits for the first instead of joining again.
  std::atomic<bool> m_stopping{false};
  // Host thread only: whether a page is open or on its way (from the LoadWeb that opens it to
  // the next UnloadWeb), and the arguments it was opened with, which later calls cannot change.
  bool m_pageOpen = false;
  OpenArguments m_openArguments;
};

}  // namespace quillo
