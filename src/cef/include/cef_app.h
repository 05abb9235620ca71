// Process-wide start, message loop and shutdown of the engine.
//
// The thread that calls CefInitialize becomes the engine's UI thread: the
// engine runs on a GLib main context of its own, made that thread's default,
// so a host that runs GLib itself is unaffected. CefDoMessageLoopWork and
// CefShutdown must be called on that thread. The engine starts once per
// process; after CefShutdown, CefInitialize fails.
#pragma once

#include "cef_base.h"
#include "cef_browser_process_handler.h"
#include "cef_render_process_handler.h"
#include "cef_string.h"
#include "cef_values.h"

struct CefMainArgs {
  CefMainArgs() = default;
  CefMainArgs(int argc, char** argv) : argc(argc), argv(argv) {}
  int argc = 0;
  char** argv = nullptr;
};

struct CefSettings {
  size_t size = sizeof(CefSettings);
  // Accepted for compatibility; the engine always uses its own processes.
  int single_process = 0;
  int no_sandbox = 0;
  CefString browser_subprocess_path;
  // Must be 0: the UI thread is driven by CefDoMessageLoopWork.
  int multi_threaded_message_loop = 0;
  // 1: the browser process handler's OnScheduleMessagePumpWork says when
  // CefDoMessageLoopWork has something to do; the embedder calls it then.
  int external_message_pump = 0;
  int windowless_rendering_enabled = 0;
  int command_line_args_disabled = 0;
  // Empty: website data lives in memory only.
  CefString cache_path;
  int persist_session_cookies = 0;
  CefString user_agent;
  CefString product_version;
  CefString locale;
  CefString log_file;
  int log_severity = 0;
  CefString javascript_flags;
  CefString resources_dir_path;
  CefString locales_dir_path;
  int pack_loading_disabled = 0;
  int remote_debugging_port = 0;
  // Positive: uncaught script exceptions reach OnUncaughtException.
  int uncaught_exception_stack_size = 0;
  int ignore_certificate_errors = 0;
  uint32_t background_color = 0;
  CefString accept_language_list;
  // This layer's own, not CEF's: the most memory (MiB) a web process may keep. One still above
  // it after giving back what it can is ended, which its browsers hear as the end of their web
  // process. 0: no limit of this layer's (the engine then never ends a process for its size).
  uint32_t web_process_memory_limit_mb = 0;
};

class CefApp : public virtual CefBaseRefCounted {
 public:
  virtual void OnBeforeCommandLineProcessing(const CefString& process_type,
                                             CefRefPtr<CefCommandLine> command_line) {
    (void)process_type, (void)command_line;
  }
  virtual void OnRegisterCustomSchemes(CefRawPtr<CefSchemeRegistrar> registrar) { (void)registrar; }
  virtual CefRefPtr<CefResourceBundleHandler> GetResourceBundleHandler() { return nullptr; }
  virtual CefRefPtr<CefBrowserProcessHandler> GetBrowserProcessHandler() { return nullptr; }
  virtual CefRefPtr<CefRenderProcessHandler> GetRenderProcessHandler() { return nullptr; }
};

// Starts the engine on the calling thread; calls the application's
// OnContextInitialized before it returns. False when the engine could not
// start (or was started before).
bool CefInitialize(const CefMainArgs& args, const CefSettings& settings,
                   CefRefPtr<CefApp> application, void* windows_sandbox_info);

// Dispatches what is ready on the engine's main context; never blocks.
void CefDoMessageLoopWork();

// Closes what is left and stops the engine for the rest of the process.
void CefShutdown();
