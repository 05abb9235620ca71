// The global cookie manager on the web context's website data manager.
#include "cef_cookie.h"

#include <wpe/webkit.h>

#include "wpe/process/engine_context.h"

namespace quillo::engine {
namespace {

class CookieManagerImpl : public CefCookieManager {
 public:
  bool DeleteCookies(const CefString& url, const CefString& cookie_name,
                     CefRefPtr<CefDeleteCookiesCallback> callback) override {
    // Only "everything" is supported: the engine deletes cookies per site.
    if (!url.empty() || !cookie_name.empty()) return false;
    EngineContext& engine = EngineContext::Get();
    if (!engine.IsRunning()) return false;
    // On the UI thread (where browsers are created) this runs at once, so a
    // browser created right after the call waits for the deletion.
    engine.RunOnUi([callback] {
      EngineContext& engine = EngineContext::Get();
      WebKitWebContext* context = engine.WebContext();
      if (context == nullptr) return;
      engine.BeginCookieOperation();
      auto* pending = new CefRefPtr<CefDeleteCookiesCallback>(callback);
      webkit_website_data_manager_clear(
          webkit_web_context_get_website_data_manager(context), WEBKIT_WEBSITE_DATA_COOKIES, 0,
          nullptr,
          [](GObject* manager, GAsyncResult* result, gpointer data) {
            auto* done = static_cast<CefRefPtr<CefDeleteCookiesCallback>*>(data);
            webkit_website_data_manager_clear_finish(WEBKIT_WEBSITE_DATA_MANAGER(manager), result,
                                                     nullptr);
            if (*done) (*done)->OnComplete(-1);
            delete done;
            EngineContext::Get().EndCookieOperation();
          },
          pending);
    });
    return true;
  }

  IMPLEMENT_REFCOUNTING(CookieManagerImpl);
};

}  // namespace
}  // namespace quillo::engine

CefRefPtr<CefCookieManager> CefCookieManager::GetGlobalManager(
    CefRefPtr<CefCompletionCallback> callback) {
  static CefRefPtr<CefCookieManager> manager = new quillo::engine::CookieManagerImpl;
  if (callback) callback->OnComplete();
  return manager;
}
