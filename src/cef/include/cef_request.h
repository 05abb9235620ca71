// CefRequest: one request of a navigation or a resource load. Immutable once
// handed to a handler; any thread may read it.
#pragma once

#include <map>

#include "cef_base.h"
#include "cef_types.h"

class CefRequest : public virtual CefBaseRefCounted {
 public:
  typedef cef_transition_type_t TransitionType;
  typedef std::multimap<CefString, CefString> HeaderMap;

  static CefRefPtr<CefRequest> Create();

  virtual bool IsReadOnly() = 0;
  virtual CefString GetURL() = 0;
  virtual void SetURL(const CefString& url) = 0;
  virtual CefString GetMethod() = 0;
  virtual void SetMethod(const CefString& method) = 0;
  virtual TransitionType GetTransitionType() = 0;
  // The request's headers, as far as this platform knows them (those of a navigation's request
  // are not known: empty).
  virtual void GetHeaderMap(HeaderMap& headerMap) = 0;
};
