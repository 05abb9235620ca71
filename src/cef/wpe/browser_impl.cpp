#include "cef/wpe/browser_impl.h"

#include <algorithm>
#include <string>

#include "cef/wpe/engine_context.h"
#include "cef/wpe/page_requests.h"
#include "diagnostics/debug_log.h"

namespace quillo::engine {
namespace {

// Sides beyond this would ask the web process for buffers of gigabytes.
constexpr int kMaxViewSide = 8192;
// A page that neither closes nor vetoes within this time is closed by force.
constexpr guint kCloseGraceMs = 3000;

}  // namespace

CefRefPtr<BrowserImpl> BrowserImpl::Create(CefRefPtr<CefClient> client,
                                           const CefBrowserSettings& settings,
                                           const CefString& url) {
  EngineContext& engine = EngineContext::Get();
  if (!engine.IsUiThread() || !client) return nullptr;
  CefRect rect;
  CefRefPtr<CefRenderHandler> render = client->GetRenderHandler();
  if (render) render->GetViewRect(nullptr, rect);
  int width = std::clamp(rect.width, 1, kMaxViewSide);
  int height = std::clamp(rect.height, 1, kMaxViewSide);
  if (width != rect.width || height != rect.height)
    QLOG(u"BrowserImpl::Create => view size %dx%d laid out as %dx%d", rect.width, rect.height,
         width, height);
  CefRefPtr<BrowserImpl> browser = new BrowserImpl(client, settings, width, height);
  if (!browser->CreateView()) return nullptr;
  if (CefRefPtr<CefLifeSpanHandler> life = client->GetLifeSpanHandler())
    life->OnAfterCreated(browser.get());
  // The first load waits for cookie deletions asked for before creation.
  std::u16string start = url.ToString16();
  engine.WhenCookiesSettled([browser, start] { browser->StartLoad(start); });
  return browser;
}

BrowserImpl::BrowserImpl(CefRefPtr<CefClient> client, const CefBrowserSettings& settings, int width,
                         int height)
    : m_id(EngineContext::Get().NextBrowserId()),
      m_client(client),
      m_mainFrame(new FrameImpl(this, true, 1)),
      m_width(width),
      m_height(height),
      m_backgroundColor(settings.background_color),
      m_acceptLanguages(settings.accept_language_list.ToString16()),
      m_defaultEncoding(settings.default_encoding.ToString()),
      m_fileAccess(settings.file_access_from_file_urls == STATE_ENABLED),
      m_universalFileAccess(settings.universal_access_from_file_urls == STATE_ENABLED),
      m_frames(*this, width, height, settings.windowless_frame_rate),
      m_popup(*this, width, height),
      m_input(*this, m_popup),
      m_dialogs(*this),
      m_channel(*this),
      m_navigation(*this) {}

BrowserImpl::~BrowserImpl() {
  m_mainFrame->Detach();
}

bool BrowserImpl::CreateView() {
  EngineContext& engine = EngineContext::Get();
  WebKitWebContext* context = engine.WebContext();
  if (context == nullptr) return false;

  // Languages are a property of the shared web context; each new browser
  // sets them (an empty list goes back to the engine's default).
  if (m_acceptLanguages.empty()) {
    webkit_web_context_set_preferred_languages(context, nullptr);
  } else {
    std::string list = CefString(m_acceptLanguages).ToString();
    gchar** languages = g_strsplit(list.c_str(), ",", -1);
    webkit_web_context_set_preferred_languages(context, languages);
    g_strfreev(languages);
  }

  WebKitWebViewBackend* viewBackend = m_frames.CreateBackend();
  if (viewBackend == nullptr) return false;
  wpe_view_backend* backend = webkit_web_view_backend_get_wpe_backend(viewBackend);

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
  m_view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "backend", viewBackend, "web-context",
                                        context, "settings", webSettings, nullptr));
  g_object_unref(webSettings);

  // Opaque painting: white unless the settings name a colour.
  WebKitColor color{1.0, 1.0, 1.0, 1.0};
  if (m_backgroundColor != 0) {
    color.red = ((m_backgroundColor >> 16) & 0xFF) / 255.0;
    color.green = ((m_backgroundColor >> 8) & 0xFF) / 255.0;
    color.blue = (m_backgroundColor & 0xFF) / 255.0;
  }
  webkit_web_view_set_background_color(m_view, &color);
  g_object_set_data(G_OBJECT(m_view), kBrowserKey, this);
  m_input.Attach(m_view);
  m_popup.Attach(m_view);
  m_dialogs.Attach(m_view);
  m_channel.Attach(m_view);
  m_navigation.Attach(m_view);
  wpe_view_backend_add_activity_state(
      backend, wpe_view_activity_state_visible | wpe_view_activity_state_in_window);
  ConnectSignals();
  return true;
}

void BrowserImpl::ConnectSignals() {
  g_signal_connect(m_view, "close", G_CALLBACK(OnCloseRequested), this);
  g_signal_connect(m_view, "web-process-terminated", G_CALLBACK(OnWebProcessTerminated), this);
  ConnectPageRequests(m_view);
}

void BrowserImpl::Post(std::function<void()> task) {
  CefRefPtr<BrowserImpl> self(this);
  EngineContext::Get().PostTask([self, task = std::move(task)] {
    if (!self->m_viewDestroyed) task();
  });
}

void BrowserImpl::StartLoad(const std::u16string& url) {
  m_navigation.Load(url);
}

void BrowserImpl::LoadUrlInMainFrame(const CefString& url) {
  std::u16string target = url.ToString16();
  // After the first load, which may still wait for cookie deletions: a later
  // load must not be overtaken by it.
  Post([this, target] {
    CefRefPtr<BrowserImpl> self(this);
    EngineContext::Get().WhenCookiesSettled([self, target] { self->StartLoad(target); });
  });
}

void BrowserImpl::LoadUrlInSubframe(const CefString& frameUrl, const CefString& url) {
  std::string failed = frameUrl.ToString();
  std::string next = url.ToString();
  Post([this, failed, next] { m_channel.ReplaceSubframe(failed, next); });
}

void BrowserImpl::RunScriptInMainFrame(const CefString& code) {
  std::string script = code.ToString();
  Post([this, script] { m_channel.RunScript(script); });
}

bool BrowserImpl::IsSame(CefRefPtr<CefBrowser> that) {
  return that && that->GetIdentifier() == m_id;
}

void BrowserImpl::GoBack() {
  Post([this] { m_navigation.GoBack(); });
}

void BrowserImpl::GoForward() {
  Post([this] { m_navigation.GoForward(); });
}

void BrowserImpl::Reload() {
  Post([this] { m_navigation.Reload(); });
}

void BrowserImpl::StopLoad() {
  Post([this] { m_navigation.Stop(); });
}

void BrowserImpl::CloseBrowser(bool force_close) {
  m_closeStarted.store(true);
  Post([this, force_close] {
    if (force_close) {
      DestroyView();
      return;
    }
    if (m_closeTimer != nullptr) return;  // already asked the page
    m_closeTimer = g_timeout_source_new(kCloseGraceMs);
    g_source_set_callback(
        m_closeTimer,
        [](gpointer self) -> gboolean {
          auto* browser = static_cast<BrowserImpl*>(self);
          g_source_unref(browser->m_closeTimer);
          browser->m_closeTimer = nullptr;
          browser->m_closeTimerFired = true;
          browser->DestroyView();
          return G_SOURCE_REMOVE;
        },
        this, nullptr);
    g_source_attach(m_closeTimer, EngineContext::Get().MainContext());
    EngineContext::Get().BeginCloseWait();
    // Runs the page's unload handlers; "close" follows unless the page vetoes.
    webkit_web_view_try_close(m_view);
  });
}

void BrowserImpl::DestroyView() {
  if (m_viewDestroyed) return;
  m_viewDestroyed = true;
  if (m_closeTimer != nullptr || m_closeTimerFired) EngineContext::Get().EndCloseWait();
  m_navigation.DisarmGuard();
  m_frames.StopPacing();
  if (m_closeTimer != nullptr) {
    g_source_destroy(m_closeTimer);
    g_source_unref(m_closeTimer);
    m_closeTimer = nullptr;
  }
  // A page that waits for a dialog answer must not outlive the view.
  m_dialogs.CancelAll();
  m_popup.Drop();
  WebKitWebView* view = std::exchange(m_view, nullptr);
  m_input.Detach(view);
  m_popup.Detach(view);
  m_dialogs.Detach(view);
  m_channel.Detach(view);
  m_navigation.Detach(view);
  g_signal_handlers_disconnect_by_data(view, this);
  m_frames.ReleaseHeldBuffer();
  // The view's backend, and with it the exportable, goes when the last
  // reference to the view does.
  g_object_unref(view);
  m_state.isLoading.store(false);
  CefRefPtr<BrowserImpl> self(this);
  EngineContext::Get().PostTask([self] {
    if (CefRefPtr<CefLifeSpanHandler> life = self->m_client->GetLifeSpanHandler())
      life->OnBeforeClose(self.get());
  });
}

void BrowserImpl::Invalidate(PaintElementType type) {
  if (type == PET_VIEW)
    Post([this] { m_frames.Repaint(); });
  else
    Post([this] { m_popup.Repaint(); });
}

void BrowserImpl::WasHidden(bool hidden) {
  Post([this, hidden] {
    wpe_view_backend* backend =
        webkit_web_view_backend_get_wpe_backend(webkit_web_view_get_backend(m_view));
    if (hidden)
      wpe_view_backend_remove_activity_state(backend, wpe_view_activity_state_visible);
    else
      wpe_view_backend_add_activity_state(backend, wpe_view_activity_state_visible);
  });
}

void BrowserImpl::SetFocus(bool focus) {
  Post([this, focus] { m_input.Focus(focus); });
}

void BrowserImpl::SendKeyEvent(const CefKeyEvent& event) {
  Post([this, event] { m_input.Key(event); });
}

void BrowserImpl::SendMouseClickEvent(const CefMouseEvent& event, MouseButtonType type,
                                      bool mouseUp, int clickCount) {
  (void)clickCount;  // the engine counts clicks itself
  Post([this, event, type, mouseUp] { m_input.Click(event, type, mouseUp); });
}

void BrowserImpl::SendMouseMoveEvent(const CefMouseEvent& event, bool mouseLeave) {
  (void)mouseLeave;
  Post([this, event] { m_input.Move(event); });
}

void BrowserImpl::SendMouseWheelEvent(const CefMouseEvent& event, int deltaX, int deltaY) {
  Post([this, event, deltaX, deltaY] { m_input.Wheel(event, deltaX, deltaY); });
}

void BrowserImpl::OnWebProcessTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason,
                                         gpointer self) {
  // The page is gone with its process. The host hears of it as a failed
  // load (ERR_FAILED); the error page shown next starts a new web process.
  auto* browser = static_cast<BrowserImpl*>(self);
  QLOG(u"BrowserImpl::OnWebProcessTerminated");
  browser->m_state.isLoading.store(false);
  browser->m_dialogs.CancelAll();
  browser->m_popup.Hide();
  browser->m_channel.ReleaseAllContexts();
  const gchar* uri = webkit_web_view_get_uri(view);
  if (CefRefPtr<CefLoadHandler> load = browser->m_client->GetLoadHandler())
    load->OnLoadError(browser, browser->m_mainFrame.get(), ERR_FAILED, "net::ERR_FAILED",
                      CefString(uri ? uri : ""));
}

void BrowserImpl::OnCloseRequested(WebKitWebView*, gpointer self) {
  static_cast<BrowserImpl*>(self)->DestroyView();
}

// The creation entry point of the engine layer.
}  // namespace quillo::engine

CefRefPtr<CefBrowser> CefBrowserHost::CreateBrowserSync(const CefWindowInfo& windowInfo,
                                                        CefRefPtr<CefClient> client,
                                                        const CefString& url,
                                                        const CefBrowserSettings& settings,
                                                        CefRefPtr<CefRequestContext>) {
  if (!windowInfo.windowless_rendering_enabled) {
    QLOG(u"CefBrowserHost::CreateBrowserSync => only windowless browsers are supported");
    return nullptr;
  }
  return quillo::engine::BrowserImpl::Create(client, settings, url).get();
}
