// A request snapshot handed to navigation handlers.
#pragma once

#include <utility>

#include "cef_request.h"

namespace quillo::engine {

class RequestImpl : public CefRequest {
 public:
  RequestImpl(const CefString& url, const CefString& method, TransitionType transition,
              HeaderMap headers = {})
      : m_url(url),
        m_method(method.empty() ? CefString("GET") : method),
        m_transition(transition),
        m_headers(std::move(headers)) {}

  bool IsReadOnly() override { return true; }
  CefString GetURL() override { return m_url; }
  void SetURL(const CefString&) override {}
  CefString GetMethod() override { return m_method; }
  void SetMethod(const CefString&) override {}
  TransitionType GetTransitionType() override { return m_transition; }
  void GetHeaderMap(HeaderMap& headerMap) override { headerMap = m_headers; }

 private:
  const CefString m_url;
  const CefString m_method;
  const TransitionType m_transition;
  const HeaderMap m_headers;

  IMPLEMENT_REFCOUNTING(RequestImpl);
};

}  // namespace quillo::engine
