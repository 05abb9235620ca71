// The eight C exports, defined against their declarations in quillo.h (a definition that does
// not match its declaration does not compile). Each passes through Guard, so that no exception
// ever crosses into the host. The host calls them from one thread.
//
// The bool arguments are read as the byte the host passed: the switch is on only when that byte
// is exactly 1, also for hosts (and foreign-function bindings) that pass other byte values.
#include <atomic>
#include <cstring>
#include <exception>
#include <type_traits>

// The header's declarations get default visibility here: the library is built with hidden
// visibility, and only these eight leave it (exports.map).
#pragma GCC visibility push(default)
#include <quillo.h>
#pragma GCC visibility pop

#include "controller/web_controller.h"
#include "diagnostics/debug_log.h"
#include "platform/engine_owner.h"
#include "platform/platform.h"

#define QUILLO_EXPORT extern "C" __attribute__((visibility("default")))

namespace quillo {
namespace {

// Set in the child of a fork after the engine started: the engine's threads live only in the
// parent, so every export does nothing there.
std::atomic<bool> g_forkedChild{false};

void OnForkedChild() {
  g_forkedChild.store(true);
}

// Set by the first LoadWeb (the library stays loaded from then on). When the process ends, the
// engine is shut down in order, on whichever thread ends it; the controller and what it holds
// are kept, never deleted, since the host's thread may still be inside an export then (whose
// work is refused once the shutdown has begun). A forked child leaves it alone: its threads are
// not the child's to join.
struct ControllerHolder {
  CefRefPtr<CWebController> controller;
  ~ControllerHolder() {
    if (!controller) return;
    controller->AddRef();  // kept, never deleted
    if (!g_forkedChild.load()) controller->UnloadWeb(true);
  }
} g_holder;
CefRefPtr<CWebController>& g_webController = g_holder.controller;

// The views interface holds this process's engine: a refused LoadWeb is reported by the next
// UpdateWeb as a failed load, once (host's thread).
bool g_refusalPending = false;
char g_refusalText[] = "net::ERR_FAILED";
constexpr int kUpdateLoadError = 0x1000;  // UPDATE_LOAD_ERROR

// The engine's threads run the library's code until the process ends, so the library must
// stay mapped from the engine's start on; and a fork must be noticed.
void PrepareForEngineStart() {
  if (!platform::KeepModuleLoaded())
    QLOG(u"LoadWeb => the library could not be kept loaded; do not dlclose it");
  platform::WatchForks(OnForkedChild);
}

// The byte a bool argument arrived in, read from the argument's storage without loading it as a
// bool (a byte other than 0 and 1 is no valid bool value). The compiler may assume a bool holds
// 0 or 1 and fold a comparison with 1 away; the empty asm hides where the byte came from, so
// the comparison is made on the byte itself.
unsigned char ArgumentByte(const bool& value) {
  unsigned char byte;
  std::memcpy(&byte, &value, 1);
  asm("" : "+r"(byte));
  return byte;
}

template <typename Fn, typename R>
R Guard(const char16_t* name, R fallback, Fn&& fn) noexcept {
  // In a forked child every export does nothing: the engine is the parent's.
  if (g_forkedChild.load()) return fallback;
  try {
    return fn();
  } catch (const std::exception&) {
    QLOG(u"%s => exception stopped at the boundary", name);
  } catch (...) {
    QLOG(u"%s => unknown exception stopped at the boundary", name);
  }
  return fallback;
}

}  // namespace
}  // namespace quillo

using quillo::ArgumentByte;
using quillo::g_webController;
using quillo::Guard;

// Each definition below must match its declaration in quillo.h; these fail to compile if the
// header changes a signature that the bindings and the symbols file still describe.
static_assert(std::is_same_v<decltype(&LoadWeb),
                             int (*)(int, int, int, int, void*, const char*, int, const char*)>);
static_assert(std::is_same_v<decltype(&UpdateWeb), int (*)(void**, int*)>);
static_assert(std::is_same_v<decltype(&UnloadWeb), void (*)(bool)>);
static_assert(std::is_same_v<decltype(&InputWeb), void (*)(int, int, int)>);
static_assert(std::is_same_v<decltype(&GoBackForwardHome), void (*)(int)>);
static_assert(std::is_same_v<decltype(&ExecuteJavaScript), void (*)(const char*)>);
static_assert(std::is_same_v<decltype(&ReserveInvalidRedirectUrlSchemes), void (*)(const char*)>);
static_assert(std::is_same_v<decltype(&SetDebugEnable), void (*)(bool)>);
static_assert(sizeof(bool) == 1, "the exports take bool as one byte");

QUILLO_EXPORT int LoadWeb(int x, int y, int width, int height, void* pixels, const char* url,
                          int options, const char* acceptLanguage) {
  return Guard(u"LoadWeb", 0, [&] {
    quillo::LoadArguments args{x, y, width, height, pixels, url, options, acceptLanguage};
    if (!g_webController) {
      if (!quillo::platform::ClaimEngine(quillo::platform::EngineOwner::kExports)) {
        QLOG(u"LoadWeb => the views interface holds this process's engine: nothing loaded");
        quillo::g_refusalPending = true;
        return 0;
      }
      quillo::PrepareForEngineStart();
      g_webController = new quillo::CWebController();
      g_webController->FirstLoad(args);
    } else {
      g_webController->LoadWeb(args);
    }
    return 0;
  });
}

QUILLO_EXPORT int UpdateWeb(void** text, int* value) {
  return Guard(u"UpdateWeb", -1, [&] {
    if (!g_webController) {
      if (!quillo::g_refusalPending) return -1;
      quillo::g_refusalPending = false;
      if (text) *text = quillo::g_refusalText;
      if (value) *value = -2;
      return quillo::kUpdateLoadError;
    }
    // A host that passes no slot still gets its notice word.
    void* unusedText = nullptr;
    int unusedValue = 0;
    return g_webController->UpdateWeb(text ? text : &unusedText, value ? value : &unusedValue);
  });
}

QUILLO_EXPORT void UnloadWeb(bool shutdown) {
  const bool final = ArgumentByte(shutdown) == 1;
  Guard(u"UnloadWeb", 0, [&] {
    if (g_webController) g_webController->UnloadWeb(final);
    return 0;
  });
}

QUILLO_EXPORT void InputWeb(int event, int a, int b) {
  Guard(u"InputWeb", 0, [&] {
    if (g_webController) g_webController->InputWeb(event, a, b);
    return 0;
  });
}

QUILLO_EXPORT void GoBackForwardHome(int direction) {
  Guard(u"GoBackForwardHome", 0, [&] {
    if (g_webController) g_webController->GoBackForwardHome(direction);
    return 0;
  });
}

QUILLO_EXPORT void ExecuteJavaScript(const char* script) {
  Guard(u"ExecuteJavaScript", 0, [&] {
    if (!g_webController || g_webController->Stopping()) return 0;
    CefRefPtr<quillo::CWebApplication> application = g_webController->Application();
    if (!application) return 0;
    if (CefRefPtr<quillo::CWebClient> client = application->Client())
      client->ExecuteJavaScript(script);
    return 0;
  });
}

QUILLO_EXPORT void ReserveInvalidRedirectUrlSchemes(const char* schemes) {
  Guard(u"ReserveInvalidRedirectUrlSchemes", 0, [&] {
    if (!g_webController) return 0;
    if (CefRefPtr<quillo::CWebApplication> application = g_webController->Application())
      application->ReserveInvalidRedirectUrlSchemes(schemes);
    return 0;
  });
}

QUILLO_EXPORT void SetDebugEnable(bool enable) {
  const bool on = ArgumentByte(enable) == 1;
  Guard(u"SetDebugEnable", 0, [&] {
    quillo::Configuration::GetInstance()->SetDebug(on);
    return 0;
  });
}
