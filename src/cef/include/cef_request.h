// CefRequest: one request of a navigation or a resource load. Immutable once
// handed to a handler; any thread may read it.
#pragma once

#include "cef_base.h"
#include "cef_types.h"

class CefRequest : public virtual CefBaseRefCounted {
 public:
  typedef cef_transition_type_t TransitionType;

  static CefRefPtr<CefRequest> Create();

  virtual bool IsReadOnly() = 0;
  virtual CefString GetURL() = 0;
  virtual void SetURL(const CefString& url) = 0;
  virtual CefString GetMethod() = 0;
  virtual void SetMethod(const CefString& method) = 0;
  virtual TransitionType GetTransitionType() = 0;
};
