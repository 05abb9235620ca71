// Browser-process callbacks, called on the UI thread unless said otherwise.
#pragma once

#include "cef_base.h"
#include "cef_values.h"

class CefBrowserProcessHandler : public virtual CefBaseRefCounted {
 public:
  // The engine is ready; called once, before CefInitialize returns.
  virtual void OnContextInitialized() {}
  virtual void OnBeforeChildProcessLaunch(CefRefPtr<CefCommandLine> command_line) {
    (void)command_line;
  }
  virtual void OnRenderProcessThreadCreated(CefRefPtr<CefListValue> extra_info) {
    (void)extra_info;
  }
  virtual CefRefPtr<CefPrintHandler> GetPrintHandler() { return nullptr; }
  // With CefSettings::external_message_pump: CefDoMessageLoopWork should run
  // after delay_ms (at once when <= 0). Called on any thread.
  virtual void OnScheduleMessagePumpWork(int64_t delay_ms) { (void)delay_ms; }
};
