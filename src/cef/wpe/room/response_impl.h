// The response a scheme's resource handler fills in: status, status text, MIME type and
// headers. Made and read on the UI thread.
#pragma once

#include "cef_scheme.h"

namespace quillo::engine {

class ResponseImpl : public CefResponse {
 public:
  int GetStatus() override { return m_status; }
  void SetStatus(int status) override { m_status = status; }
  CefString GetStatusText() override { return m_statusText; }
  void SetStatusText(const CefString& statusText) override { m_statusText = statusText; }
  CefString GetMimeType() override { return m_mimeType; }
  void SetMimeType(const CefString& mimeType) override { m_mimeType = mimeType; }
  void GetHeaderMap(HeaderMap& headerMap) override { headerMap = m_headers; }
  void SetHeaderMap(const HeaderMap& headerMap) override { m_headers = headerMap; }

 private:
  int m_status = 200;
  CefString m_statusText;
  CefString m_mimeType;
  HeaderMap m_headers;

  IMPLEMENT_REFCOUNTING(ResponseImpl);
};

}  // namespace quillo::engine
