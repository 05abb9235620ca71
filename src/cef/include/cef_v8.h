// Script-engine objects passed to the render-process hooks. Read-only
// snapshots on this platform.
#pragma once

#include "cef_base.h"
#include "cef_string.h"

class CefV8Context : public virtual CefBaseRefCounted {
 public:
  virtual bool IsValid() = 0;
};

class CefV8Exception : public virtual CefBaseRefCounted {
 public:
  virtual CefString GetMessage() = 0;
  virtual CefString GetSourceLine() = 0;
  virtual CefString GetScriptResourceName() = 0;
  virtual int GetLineNumber() = 0;
  virtual int GetStartColumn() = 0;
  virtual int GetEndColumn() = 0;
};

class CefV8StackTrace : public virtual CefBaseRefCounted {
 public:
  virtual bool IsValid() = 0;
  virtual int GetFrameCount() = 0;
};
