#include "wpe/page/page_requests.h"

#include <string>

#include "cef_string.h"
#include "diagnostics/debug_log.h"
#include "wpe/page/media_plugins.h"
#include "wpe/room/webkit_mapping.h"

namespace quillo::engine {
namespace {

const char* PermissionName(WebKitPermissionRequest* request) {
  if (WEBKIT_IS_GEOLOCATION_PERMISSION_REQUEST(request)) return "geolocation";
  if (WEBKIT_IS_NOTIFICATION_PERMISSION_REQUEST(request)) return "notifications";
  if (WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(request)) return "media devices";
  if (WEBKIT_IS_DEVICE_INFO_PERMISSION_REQUEST(request)) return "device info";
  if (WEBKIT_IS_MEDIA_KEY_SYSTEM_PERMISSION_REQUEST(request)) return "media keys";
  if (WEBKIT_IS_WEBSITE_DATA_ACCESS_PERMISSION_REQUEST(request)) return "website data access";
  return G_OBJECT_TYPE_NAME(request);
}

// No one can be asked for a name and a password. The load goes on without
// credentials, so the page gets the server's own answer (a main frame shows
// its 401 page, a sub-resource receives its 401 response) instead of
// waiting for ever, as with a browser whose user cancels the prompt.
gboolean OnAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer) {
  QLOG(u"BrowserImpl::OnAuthenticate => refused [%s:%d] realm[%s] retry[%d]",
       ToU16(webkit_authentication_request_get_host(request)).c_str(),
       static_cast<int>(webkit_authentication_request_get_port(request)),
       ToU16(webkit_authentication_request_get_realm(request)).c_str(),
       webkit_authentication_request_is_retry(request) ? 1 : 0);
  webkit_authentication_request_authenticate(request, nullptr);
  return TRUE;
}

// There is no window to show a file dialog in: the choice is cancelled, the
// input keeps its files, and the next click asks again.
gboolean OnRunFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer) {
  QLOG(u"BrowserImpl::OnRunFileChooser => cancelled multiple[%d]",
       webkit_file_chooser_request_get_select_multiple(request) ? 1 : 0);
  webkit_file_chooser_request_cancel(request);
  return TRUE;
}

gboolean OnPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
  QLOG(u"BrowserImpl::OnPermissionRequest => denied [%s]", ToU16(PermissionName(request)).c_str());
  webkit_permission_request_deny(request);
  return TRUE;
}

// The view's size is the host's: there is no larger screen to fill, and this
// engine's own fullscreen mode tells the page it succeeded while nothing
// changes. With the engine's fullscreen off the API is gone from the page;
// this script puts back the standard answer of a browser that refuses:
// fullscreenEnabled is false, a request rejects with a TypeError and fires
// "fullscreenerror" (the prefixed call "webkitfullscreenerror") at the element.
constexpr char kRefuseFullscreen[] =
    "(() => {"
    "  if (Element.prototype.requestFullscreen) return;"
    "  const define = (proto, name, value) => Object.defineProperty(proto, name,"
    "    {configurable: true, enumerable: true, get: () => value});"
    "  for (const [name, value] of [['fullscreenEnabled', false], ['fullscreenElement', null],"
    "      ['fullscreen', false], ['webkitFullscreenEnabled', false],"
    "      ['webkitFullscreenElement', null], ['webkitIsFullScreen', false]])"
    "    define(Document.prototype, name, value);"
    "  const refuse = (element, type) => setTimeout(() =>"
    "    element.dispatchEvent(new Event(type, {bubbles: true, composed: true})), 0);"
    "  const methods = {"
    "    requestFullscreen() {"
    "      refuse(this, 'fullscreenerror');"
    "      return Promise.reject(new TypeError('Fullscreen is not supported'));"
    "    },"
    "    webkitRequestFullscreen() { refuse(this, 'webkitfullscreenerror'); },"
    "  };"
    "  for (const name of Object.keys(methods))"
    "    Object.defineProperty(Element.prototype, name,"
    "      {configurable: true, writable: true, value: methods[name]});"
    "  Object.defineProperty(Document.prototype, 'exitFullscreen', {configurable: true,"
    "    writable: true, value() { return Promise.reject(new TypeError('Not in fullscreen')); }});"
    "})();";

}  // namespace

void ConnectPageRequests(WebKitWebView* view) {
  webkit_settings_set_enable_fullscreen(webkit_web_view_get_settings(view), FALSE);
  if (!MediaPluginsPresent())
    webkit_settings_set_enable_media(webkit_web_view_get_settings(view), FALSE);
  WebKitUserScript* script =
      webkit_user_script_new(kRefuseFullscreen, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                             WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(view), script);
  webkit_user_script_unref(script);
  g_signal_connect(view, "authenticate", G_CALLBACK(OnAuthenticate), nullptr);
  g_signal_connect(view, "run-file-chooser", G_CALLBACK(OnRunFileChooser), nullptr);
  g_signal_connect(view, "permission-request", G_CALLBACK(OnPermissionRequest), nullptr);
}

}  // namespace quillo::engine
