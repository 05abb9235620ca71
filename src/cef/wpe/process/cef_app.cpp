// CefInitialize, CefDoMessageLoopWork, CefShutdown and CefRequest::Create on
// the WPE engine context.
#include "cef_app.h"

#include "diagnostics/debug_log.h"
#include "wpe/process/engine_context.h"
#include "wpe/process/scheme_handlers.h"
#include "wpe/room/request_impl.h"

using quillo::engine::EngineContext;

bool CefInitialize(const CefMainArgs&, const CefSettings& settings, CefRefPtr<CefApp> application,
                   void*) {
  if (settings.multi_threaded_message_loop) {
    QLOG(u"CefInitialize => multi_threaded_message_loop is not supported");
    return false;
  }
  EngineContext& engine = EngineContext::Get();
  if (!engine.Start(settings.web_process_memory_limit_mb)) {
    QLOG(u"CefInitialize => the engine could not start");
    return false;
  }
  engine.SetApp(application);
  engine.SetUncaughtExceptionStackSize(settings.uncaught_exception_stack_size);
  if (application)
    if (CefRefPtr<CefBrowserProcessHandler> handler = application->GetBrowserProcessHandler()) {
      if (settings.external_message_pump) engine.EnableExternalPump(handler);
      handler->OnContextInitialized();
    }
  return true;
}

void CefDoMessageLoopWork() {
  EngineContext::Get().DoWork();
}

void CefShutdown() {
  if (EngineContext::Get().IsUiThread()) quillo::engine::SchemeHandlers::Get().Stop();
  EngineContext::Get().Stop();
}

CefRefPtr<CefRequest> CefRequest::Create() {
  return new quillo::engine::RequestImpl(CefString(), CefString(), TT_EXPLICIT);
}
