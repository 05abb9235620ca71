// Custom schemes answered by the embedder: a scheme handler factory makes a resource handler for
// each request of its scheme, which answers it with a response and its bytes, at once or later,
// in one piece or many.
//
// Threads: registration on the UI thread; the factory and every handler method are called on
// the UI thread; the callbacks may be called on any thread (their work runs on the UI thread).
#pragma once

#include <cstdint>
#include <map>

#include "cef_base.h"
#include "cef_browser.h"
#include "cef_callback.h"
#include "cef_frame.h"
#include "cef_request.h"

typedef enum {
  CEF_SCHEME_OPTION_NONE = 0,
  CEF_SCHEME_OPTION_STANDARD = 1 << 0,
  CEF_SCHEME_OPTION_LOCAL = 1 << 1,
  CEF_SCHEME_OPTION_DISPLAY_ISOLATED = 1 << 2,
  CEF_SCHEME_OPTION_SECURE = 1 << 3,
  CEF_SCHEME_OPTION_CORS_ENABLED = 1 << 4,
  CEF_SCHEME_OPTION_CSP_BYPASSING = 1 << 5,
  CEF_SCHEME_OPTION_FETCH_ENABLED = 1 << 6,
} cef_scheme_options_t;

// A response's status, MIME type and headers, filled in by the handler.
class CefResponse : public virtual CefBaseRefCounted {
 public:
  typedef std::multimap<CefString, CefString> HeaderMap;

  virtual int GetStatus() = 0;
  virtual void SetStatus(int status) = 0;
  virtual CefString GetStatusText() = 0;
  virtual void SetStatusText(const CefString& statusText) = 0;
  virtual CefString GetMimeType() = 0;
  virtual void SetMimeType(const CefString& mimeType) = 0;
  virtual void GetHeaderMap(HeaderMap& headerMap) = 0;
  virtual void SetHeaderMap(const HeaderMap& headerMap) = 0;
};

// Continue: the bytes of a read that was answered later are in its buffer (bytes_read > 0), the
// response has ended (0), or failed (< 0).
class CefResourceReadCallback : public virtual CefBaseRefCounted {
 public:
  virtual void Continue(int bytes_read) = 0;
};

class CefResourceHandler : public virtual CefBaseRefCounted {
 public:
  // The request begins. Answer now (handle_request true, return true), refuse now (return
  // false), or later (handle_request false, return true, then callback->Continue() or
  // callback->Cancel()).
  virtual bool Open(CefRefPtr<CefRequest> request, bool& handle_request,
                    CefRefPtr<CefCallback> callback) = 0;
  // The response's status, type and headers; response_length the body's size, or -1 when
  // unknown (a stream). redirectUrl is not followed on this platform.
  virtual void GetResponseHeaders(CefRefPtr<CefResponse> response, int64& response_length,
                                  CefString& redirectUrl) = 0;
  // Up to bytes_to_read bytes into data_out: true with bytes_read > 0 when there were some;
  // true with bytes_read 0 when they come later (data_out stays valid until callback->Continue);
  // false at the end (bytes_read 0) or on a failure (bytes_read < 0).
  virtual bool Read(void* data_out, int bytes_to_read, int& bytes_read,
                    CefRefPtr<CefResourceReadCallback> callback) = 0;
  // The request was cancelled (the page went, or the load was stopped); no call follows.
  virtual void Cancel() = 0;
};

class CefSchemeHandlerFactory : public virtual CefBaseRefCounted {
 public:
  // A resource handler for request, or null to refuse it. frame is the browser's main frame
  // (this platform does not say which frame asked); a request of no browser this layer knows
  // is refused without asking.
  virtual CefRefPtr<CefResourceHandler> Create(CefRefPtr<CefBrowser> browser,
                                               CefRefPtr<CefFrame> frame,
                                               const CefString& scheme_name,
                                               CefRefPtr<CefRequest> request) = 0;
};

// Requests of scheme_name (any domain: domain_name must be empty on this platform) go to
// factory from now on, for every browser. UI thread, after CefInitialize. False when the scheme
// cannot be registered.
bool CefRegisterSchemeHandlerFactory(const CefString& scheme_name, const CefString& domain_name,
                                     CefRefPtr<CefSchemeHandlerFactory> factory);

// Added by this layer (CEF takes options only from CefApp::OnRegisterCustomSchemes, before it
// starts): how pages treat scheme_name from now on (CEF_SCHEME_OPTION_SECURE: a secure context;
// CEF_SCHEME_OPTION_CORS_ENABLED: fetch and module scripts across origins under CORS). UI thread.
bool CefAddCustomSchemeOptions(const CefString& scheme_name, int options);
