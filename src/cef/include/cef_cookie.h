// The global cookie manager. Any thread may call it; the work runs on the UI
// thread.
#pragma once

#include "cef_base.h"
#include "cef_callback.h"
#include "cef_string.h"

class CefCookieManager : public virtual CefBaseRefCounted {
 public:
  static CefRefPtr<CefCookieManager> GetGlobalManager(CefRefPtr<CefCompletionCallback> callback);

  // Empty url and cookie_name delete every cookie of every host. Returns
  // false when the request could not be made. A browser created after this
  // call loads its first page only once the deletion has finished.
  virtual bool DeleteCookies(const CefString& url, const CefString& cookie_name,
                             CefRefPtr<CefDeleteCookiesCallback> callback) = 0;
};
