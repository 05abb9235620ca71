#include "wpe/view_host.h"

#include <utility>

#include "wpe/frame/frame_sink.h"
#include "wpe/page/page_requests.h"
#include "wpe/process/engine_context.h"
#include "wpe/room/browser_side.h"

namespace quillo::engine {
namespace {

// A page that neither closes nor vetoes within this time is closed by force.
constexpr guint kCloseGraceMs = 3000;

void OnCloseRequested(WebKitWebView*, gpointer self) {
  static_cast<ViewHost*>(self)->Closed();
}

void OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                            gpointer self) {
  static_cast<ViewHost*>(self)->ProcessGone(reason);
}

wpe_view_backend* BackendOf(WebKitWebView* view) {
  return webkit_web_view_backend_get_wpe_backend(webkit_web_view_get_backend(view));
}

}  // namespace

ViewHost::ViewHost(BrowserSide& browser, const CefBrowserSettings& settings, bool transparent,
                   Ended onClosed, ProcessEnded onProcessGone)
    : m_browser(browser),
      m_onClosed(std::move(onClosed)),
      m_onProcessGone(std::move(onProcessGone)),
      m_userAgent(settings.user_agent.ToString()),
      m_backgroundColor(settings.background_color),
      m_transparent(transparent),
      m_acceptLanguages(settings.accept_language_list.ToString16()),
      m_defaultEncoding(settings.default_encoding.ToString()),
      m_fileAccess(settings.file_access_from_file_urls == STATE_ENABLED),
      m_universalFileAccess(settings.universal_access_from_file_urls == STATE_ENABLED) {}

bool ViewHost::Create(FrameSink& frames) {
  QUILLO_REQUIRE_UI_THREAD();
  WebKitWebContext* context = EngineContext::Get().WebContext();
  if (context == nullptr) return false;

  // The engine's, shared by every view (an empty list: the engine's default).
  EngineContext::Get().UseLanguages(m_acceptLanguages);

  WebKitWebViewBackend* viewBackend = frames.CreateBackend();
  if (viewBackend == nullptr) return false;

  WebKitSettings* webSettings = webkit_settings_new();
  webkit_settings_set_allow_file_access_from_file_urls(webSettings, m_fileAccess);
  webkit_settings_set_allow_universal_access_from_file_urls(webSettings, m_universalFileAccess);
  webkit_settings_set_enable_write_console_messages_to_stdout(webSettings, FALSE);
  webkit_settings_set_javascript_can_open_windows_automatically(webSettings, TRUE);
  // Loads and history moves of the embedder reach data: documents (HTML
  // source, the error page); the page's own top-level moves to them are
  // refused when they start (RefusedTopLevelDataUrl).
  webkit_settings_set_allow_top_navigation_to_data_urls(webSettings, TRUE);
  // Documents that name no character set (HTML source handed over as UTF-8,
  // data URLs) are read as UTF-8 unless the settings say otherwise.
  webkit_settings_set_default_charset(
      webSettings, m_defaultEncoding.empty() ? "utf-8" : m_defaultEncoding.c_str());
  if (!m_userAgent.empty()) webkit_settings_set_user_agent(webSettings, m_userAgent.c_str());
  m_view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "backend", viewBackend, "web-context",
                                        context, "settings", webSettings, nullptr));
  g_object_unref(webSettings);

  // Opaque painting: white unless the settings name a colour. Transparent painting: where the
  // page draws nothing, alpha 0.
  WebKitColor color{1.0, 1.0, 1.0, 1.0};
  if (m_transparent) {
    color = WebKitColor{0.0, 0.0, 0.0, 0.0};
  } else if (m_backgroundColor != 0) {
    color.red = ((m_backgroundColor >> 16) & 0xFF) / 255.0;
    color.green = ((m_backgroundColor >> 8) & 0xFF) / 255.0;
    color.blue = (m_backgroundColor & 0xFF) / 255.0;
  }
  webkit_web_view_set_background_color(m_view, &color);
  g_object_set_data(G_OBJECT(m_view), kBrowserSideKey, &m_browser);
  EngineContext::Get().ViewOpened();
  return true;
}

void ViewHost::Attach() {
  QUILLO_REQUIRE_UI_THREAD();
  wpe_view_backend_add_activity_state(
      BackendOf(m_view), wpe_view_activity_state_visible | wpe_view_activity_state_in_window);
  // Passed on to the browser: it takes all its rooms through the view's end.
  g_signal_connect(m_view, "close", G_CALLBACK(OnCloseRequested), this);
  g_signal_connect(m_view, "web-process-terminated", G_CALLBACK(OnWebProcessTerminated), this);
  ConnectPageRequests(m_view);
}

void ViewHost::Detach() {
  QUILLO_REQUIRE_UI_THREAD();
  g_signal_handlers_disconnect_by_data(m_view, this);
}

void ViewHost::Destroy() {
  QUILLO_REQUIRE_UI_THREAD();
  // The view may outlive this browser (a download in progress holds it): it points back at
  // nothing from now on. Its backend, and with it the exportable, goes when the last
  // reference to the view does.
  g_object_set_data(G_OBJECT(m_view), kBrowserSideKey, nullptr);
  g_object_unref(std::exchange(m_view, nullptr));
  EngineContext::Get().ViewClosed();
}

void ViewHost::SetHidden(bool hidden) {
  QUILLO_REQUIRE_UI_THREAD();
  if (hidden)
    wpe_view_backend_remove_activity_state(BackendOf(m_view), wpe_view_activity_state_visible);
  else
    wpe_view_backend_add_activity_state(BackendOf(m_view), wpe_view_activity_state_visible);
}

void ViewHost::SetUserAgent(const std::string& agent) {
  QUILLO_REQUIRE_UI_THREAD();
  webkit_settings_set_user_agent(webkit_web_view_get_settings(m_view),
                                 agent.empty() ? nullptr : agent.c_str());
}

void ViewHost::TryClose() {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_closeTimer.IsPending()) return;  // already asked the page
  m_closeTimer.Start(kCloseGraceMs, [this] {
    m_closeTimerFired = true;
    m_onClosed();
  });
  EngineContext::Get().BeginCloseWait();
  // Runs the page's unload handlers; "close" follows unless the page vetoes.
  webkit_web_view_try_close(m_view);
}

void ViewHost::EndClose() {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_closeTimer.IsPending() || m_closeTimerFired) EngineContext::Get().EndCloseWait();
  m_closeTimer.Cancel();
}

}  // namespace quillo::engine
