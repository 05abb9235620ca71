// Snapshots of script-engine objects handed to the render-process hooks; the
// page's script engine itself lives in the web process.
#pragma once

#include "cef_v8.h"

namespace quillo::engine {

class V8ContextImpl : public CefV8Context {
 public:
  bool IsValid() override { return true; }
  IMPLEMENT_REFCOUNTING(V8ContextImpl);
};

class V8ExceptionImpl : public CefV8Exception {
 public:
  V8ExceptionImpl(const char* message, const char* resource, int line)
      : m_message(message ? message : ""), m_resource(resource ? resource : ""), m_line(line) {}

  CefString GetMessage() override { return m_message; }
  // The engine reports where, not the text of the line.
  CefString GetSourceLine() override { return CefString(); }
  CefString GetScriptResourceName() override { return m_resource; }
  int GetLineNumber() override { return m_line; }
  int GetStartColumn() override { return 0; }
  int GetEndColumn() override { return 0; }

 private:
  const CefString m_message;
  const CefString m_resource;
  const int m_line;
  IMPLEMENT_REFCOUNTING(V8ExceptionImpl);
};

class V8StackTraceImpl : public CefV8StackTrace {
 public:
  bool IsValid() override { return true; }
  int GetFrameCount() override { return 0; }
  IMPLEMENT_REFCOUNTING(V8StackTraceImpl);
};

}  // namespace quillo::engine
