#include "cef/wpe/browser_impl.h"

#include <algorithm>
#include <string>

#include "cef/wpe/display_title.h"
#include "cef/wpe/engine_context.h"
#include "cef/wpe/load_error_map.h"
#include "cef/wpe/page_requests.h"
#include "cef/wpe/request_impl.h"
#include "cef/wpe/top_navigation.h"
#include "cef/wpe/webkit_mapping.h"
#include "diagnostics/debug_log.h"

namespace quillo::engine {
namespace {

// Sides beyond this would ask the web process for buffers of gigabytes.
constexpr int kMaxViewSide = 8192;
// A page that neither closes nor vetoes within this time is closed by force.
constexpr guint kCloseGraceMs = 3000;

// Tells the display handler the page's title; a page that names none shows
// its address.
void ReportTitle(BrowserImpl* browser, WebKitWebView* view) {
  CefRefPtr<CefDisplayHandler> display = browser->Client()->GetDisplayHandler();
  if (!display) return;
  const gchar* title = webkit_web_view_get_title(view);
  if (title != nullptr && *title != '\0') {
    display->OnTitleChange(browser, CefString(title));
    return;
  }
  const gchar* uri = webkit_web_view_get_uri(view);
  display->OnTitleChange(browser, CefString(DisplayTitleForUrl(uri ? uri : "")));
}

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
      m_channel(*this) {}

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
  wpe_view_backend_add_activity_state(
      backend, wpe_view_activity_state_visible | wpe_view_activity_state_in_window);
  ConnectSignals();
  return true;
}

void BrowserImpl::ConnectSignals() {
  g_signal_connect(m_view, "load-changed", G_CALLBACK(OnLoadChanged), this);
  g_signal_connect(m_view, "load-failed", G_CALLBACK(OnLoadFailed), this);
  g_signal_connect(m_view, "load-failed-with-tls-errors",
                   G_CALLBACK(+[](WebKitWebView*, gchar* uri, GTlsCertificate*,
                                  GTlsCertificateFlags flags, gpointer self) -> gboolean {
                     auto* browser = static_cast<BrowserImpl*>(self);
                     MappedError mapped = MapCertificateErrors(flags);
                     if (CefRefPtr<CefLoadHandler> load = browser->m_client->GetLoadHandler())
                       load->OnLoadError(browser, browser->m_mainFrame.get(), mapped.code,
                                         mapped.text, CefString(uri ? uri : ""));
                     return TRUE;
                   }),
                   this);
  g_signal_connect(m_view, "notify::title", G_CALLBACK(OnTitleNotify), this);
  g_signal_connect(m_view, "notify::uri", G_CALLBACK(OnUriNotify), this);
  g_signal_connect(m_view, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
  g_signal_connect(m_view, "close", G_CALLBACK(OnCloseRequested), this);
  g_signal_connect(m_view, "resource-load-started", G_CALLBACK(OnResourceLoadStarted), this);
  g_signal_connect(m_view, "web-process-terminated", G_CALLBACK(OnWebProcessTerminated), this);
  g_signal_connect(m_view, "create", G_CALLBACK(OnCreateRequested), this);
  g_signal_connect(webkit_web_view_get_back_forward_list(m_view), "changed",
                   G_CALLBACK(OnBackForwardChanged), this);
  ConnectPageRequests(m_view);
}

void BrowserImpl::Post(std::function<void()> task) {
  CefRefPtr<BrowserImpl> self(this);
  EngineContext::Get().PostTask([self, task = std::move(task)] {
    if (!self->m_viewDestroyed) task();
  });
}

void BrowserImpl::StartLoad(const std::u16string& url) {
  if (m_view == nullptr || m_viewDestroyed) return;
  if (url.empty()) return;  // nothing to load: the view stays as it is
  std::string utf8 = CefString(url).ToString();
  m_mainFrame->SetURL(url);
  m_hostLoads.Asked(utf8);
  webkit_web_view_load_uri(m_view, utf8.c_str());
  m_stuckGuard.Arm(url, EngineContext::Get().MainContext());
  m_stuckGuard.ExpectCommit(webkit_web_view_get_uri(m_view));
}

void BrowserImpl::EndStuckProcess(const std::u16string& url) {
  if (m_view == nullptr || m_viewDestroyed) return;
  QLOG(u"BrowserImpl::EndStuckProcess => the page's process does not start the load [%s]",
       url.c_str());
  webkit_web_view_terminate_web_process(m_view);
  // After the failure notice and its error page, which the termination has just queued.
  Post([this, url] { StartLoad(url); });
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
  Post([this] {
    m_stuckGuard.Committed();  // a later request than the pending load
    webkit_web_view_go_back(m_view);
  });
}

void BrowserImpl::GoForward() {
  Post([this] {
    m_stuckGuard.Committed();  // a later request than the pending load
    webkit_web_view_go_forward(m_view);
  });
}

void BrowserImpl::Reload() {
  Post([this] {
    m_stuckGuard.Committed();  // a later request than the pending load
    webkit_web_view_reload(m_view);
  });
}

void BrowserImpl::StopLoad() {
  Post([this] { webkit_web_view_stop_loading(m_view); });
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
  m_stuckGuard.Disarm();
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
  g_signal_handlers_disconnect_by_data(webkit_web_view_get_back_forward_list(view), this);
  g_signal_handlers_disconnect_by_data(view, this);
  m_frames.ReleaseHeldBuffer();
  // The view's backend, and with it the exportable, goes when the last
  // reference to the view does.
  g_object_unref(view);
  m_isLoading.store(false);
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

void BrowserImpl::UpdateHistoryState() {
  if (m_view == nullptr) return;
  m_canGoBack.store(webkit_web_view_can_go_back(m_view));
  m_canGoForward.store(webkit_web_view_can_go_forward(m_view));
}

bool BrowserImpl::BeforeBrowse(const char* uri, bool redirect) {
  CefRefPtr<CefRequestHandler> handler = m_client->GetRequestHandler();
  if (!handler) return true;
  std::string url = uri ? uri : "";
  // The transition of the policy decision that let this navigation through.
  int transition = TT_EXPLICIT;
  bool gesture = false;
  if (m_lastNavigation.url == url || redirect) {
    transition = m_lastNavigation.transition;
    gesture = m_lastNavigation.userGesture;
  }
  if (redirect) transition |= TT_SERVER_REDIRECT_FLAG;
  CefRefPtr<CefRequest> request = new RequestImpl(CefString(url), CefString("GET"),
                                                  static_cast<cef_transition_type_t>(transition));
  if (!handler->OnBeforeBrowse(this, m_mainFrame.get(), request, gesture, redirect)) return true;
  webkit_web_view_stop_loading(m_view);
  return false;
}

void BrowserImpl::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self) {
  auto* browser = static_cast<BrowserImpl*>(self);
  CefRefPtr<CefLoadHandler> load = browser->m_client->GetLoadHandler();
  browser->UpdateHistoryState();
  switch (event) {
    case WEBKIT_LOAD_STARTED: {
      if (browser->m_stuckGuard.IsExpected(webkit_web_view_get_uri(view)))
        browser->m_stuckGuard.Disarm();
      browser->m_isLoading.store(true);
      browser->m_failed = false;
      // The engine shows the URL of a navigation the page started only from
      // its first redirect or its commit; the policy decision that let the
      // navigation through (every main-frame load passes one just before it
      // starts) names it now.
      const gchar* uri = webkit_web_view_get_uri(view);
      const std::string& decided = browser->m_lastNavigation.url;
      const std::string started = decided.empty() ? (uri ? uri : "") : decided;
      const bool hostStarted = browser->m_hostLoads.Starting(started);
      if (RefusedTopLevelDataUrl(started, browser->m_lastNavigation.transition, hostStarted)) {
        QLOG(u"BrowserImpl => the page may not navigate the top frame to a data URL");
        webkit_web_view_stop_loading(view);
        return;
      }
      if (!browser->BeforeBrowse(started.c_str(), false)) return;
      if (load) {
        load->OnLoadingStateChange(browser, true, browser->CanGoBack(), browser->CanGoForward());
        load->OnLoadStart(browser, browser->m_mainFrame.get(), TT_EXPLICIT);
      }
      break;
    }
    case WEBKIT_LOAD_REDIRECTED:
      browser->BeforeBrowse(webkit_web_view_get_uri(view), true);
      break;
    case WEBKIT_LOAD_COMMITTED:
      if (browser->m_stuckGuard.IsExpected(webkit_web_view_get_uri(view)))
        browser->m_stuckGuard.Committed();
      browser->m_hasDocument.store(true);
      browser->m_mainFrame->SetURL(ToU16(webkit_web_view_get_uri(view)));
      break;
    case WEBKIT_LOAD_FINISHED: {
      browser->m_isLoading.store(false);
      int status = 0;
      if (WebKitWebResource* resource = webkit_web_view_get_main_resource(view))
        if (WebKitURIResponse* response = webkit_web_resource_get_response(resource))
          status = static_cast<int>(webkit_uri_response_get_status_code(response));
      // The engine refuses restricted ports without reporting a failure: it
      // shows an empty document instead of the URL it was asked for.
      const std::string& target = browser->m_lastNavigation.url;
      if (!browser->m_failed && status == 0 && IsRestrictedPortUrl(target.c_str()) && load) {
        browser->m_mainFrame->SetURL(ToU16(target.c_str()));
        load->OnLoadError(browser, browser->m_mainFrame.get(), ERR_UNSAFE_PORT,
                          "net::ERR_UNSAFE_PORT", CefString(target));
      }
      if (!browser->m_failed) browser->ReportAddressIfUntitled();
      if (load) {
        load->OnLoadEnd(browser, browser->m_mainFrame.get(), status);
        load->OnLoadingStateChange(browser, false, browser->CanGoBack(), browser->CanGoForward());
      }
      break;
    }
    default:
      break;
  }
}

gboolean BrowserImpl::OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                   gpointer self) {
  auto* browser = static_cast<BrowserImpl*>(self);
  browser->m_failed = true;
  if (browser->m_stuckGuard.IsExpected(uri)) browser->m_stuckGuard.Committed();
  // The failing frame shows the URL it was loading.
  if (uri) browser->m_mainFrame->SetURL(ToU16(uri));
  MappedError mapped = MapLoadError(error);
  if (CefRefPtr<CefLoadHandler> load = browser->m_client->GetLoadHandler())
    load->OnLoadError(browser, browser->m_mainFrame.get(), mapped.code, mapped.text,
                      CefString(uri ? uri : ""));
  return TRUE;  // the client shows its own error page
}

void BrowserImpl::OnResourceLoadStarted(WebKitWebView* view, WebKitWebResource* resource,
                                        WebKitURIRequest* request, gpointer self) {
  // Sub-frame documents are the resources fetched as HTML that are not the
  // main frame's; their failures reach OnLoadError with a frame of their own.
  if (resource == webkit_web_view_get_main_resource(view)) return;
  SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request);
  const char* accept = headers ? soup_message_headers_get_one(headers, "Accept") : nullptr;
  if (accept == nullptr || !g_str_has_prefix(accept, "text/html")) return;
  // The handler holds a reference to the browser until the resource goes, and does nothing
  // once the view has been destroyed: a resource may fail after its page was closed.
  static_cast<BrowserImpl*>(self)->AddRef();
  g_signal_connect_data(
      resource, "failed", G_CALLBACK(+[](WebKitWebResource* failed, GError* error, gpointer data) {
        auto* browser = static_cast<BrowserImpl*>(data);
        CefRefPtr<CefLoadHandler> load = browser->m_client->GetLoadHandler();
        if (!load || browser->m_viewDestroyed) return;
        const gchar* uri = webkit_web_resource_get_uri(failed);
        MappedError mapped = MapLoadError(error);
        CefRefPtr<CefFrame> frame =
            new FrameImpl(browser, false, ++browser->m_lastSubframeId, ToU16(uri));
        load->OnLoadError(browser, frame, mapped.code, mapped.text, CefString(uri ? uri : ""));
      }),
      self, +[](gpointer data, GClosure*) { static_cast<BrowserImpl*>(data)->Release(); },
      GConnectFlags(0));
}

void BrowserImpl::ReportAddressIfUntitled() {
  // The engine hands a page's title to this side from a task of its own, which may come after
  // the load has finished; the page itself knows at once. So the page is asked for its title
  // (in the layer's own script world, which shares the document), and its address is shown
  // only when it has none.
  const gchar* uri = webkit_web_view_get_uri(m_view);
  auto* asked = new std::pair<CefRefPtr<BrowserImpl>, std::string>(this, uri ? uri : "");
  webkit_web_view_run_javascript_in_world(
      m_view, "document.title", "quillo", nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<std::pair<CefRefPtr<BrowserImpl>, std::string>> asked(
            static_cast<std::pair<CefRefPtr<BrowserImpl>, std::string>*>(data));
        auto* view = WEBKIT_WEB_VIEW(source);
        WebKitJavascriptResult* value =
            webkit_web_view_run_javascript_in_world_finish(view, result, nullptr);
        bool pageHasTitle = false;
        if (value) {
          JSCValue* js = webkit_javascript_result_get_js_value(value);
          if (jsc_value_is_string(js)) {
            gchar* text = jsc_value_to_string(js);
            pageHasTitle = text != nullptr && *text != '\0';
            g_free(text);
          }
          webkit_javascript_result_unref(value);
        }
        BrowserImpl* browser = asked->first.get();
        const gchar* title = webkit_web_view_get_title(view);
        const gchar* now = webkit_web_view_get_uri(view);
        if (pageHasTitle || browser->m_viewDestroyed || browser->m_isLoading.load() ||
            (title != nullptr && *title != '\0') || asked->second != (now ? now : ""))
          return;
        ReportTitle(browser, view);
      },
      asked);
}

void BrowserImpl::OnWebProcessTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason,
                                         gpointer self) {
  // The page is gone with its process. The host hears of it as a failed
  // load (ERR_FAILED); the error page shown next starts a new web process.
  auto* browser = static_cast<BrowserImpl*>(self);
  QLOG(u"BrowserImpl::OnWebProcessTerminated");
  browser->m_isLoading.store(false);
  browser->m_dialogs.CancelAll();
  browser->m_popup.Hide();
  browser->m_channel.ReleaseAllContexts();
  const gchar* uri = webkit_web_view_get_uri(view);
  if (CefRefPtr<CefLoadHandler> load = browser->m_client->GetLoadHandler())
    load->OnLoadError(browser, browser->m_mainFrame.get(), ERR_FAILED, "net::ERR_FAILED",
                      CefString(uri ? uri : ""));
}

void BrowserImpl::OnTitleNotify(GObject*, GParamSpec*, gpointer self) {
  auto* browser = static_cast<BrowserImpl*>(self);
  const gchar* title = webkit_web_view_get_title(browser->m_view);
  // The engine empties the title when a new document starts; the new page's
  // own title, or its address once it has loaded, follows.
  if ((title == nullptr || *title == '\0') && browser->m_isLoading.load()) return;
  ReportTitle(browser, browser->m_view);
}

void BrowserImpl::OnUriNotify(GObject*, GParamSpec*, gpointer self) {
  auto* browser = static_cast<BrowserImpl*>(self);
  const gchar* uri = webkit_web_view_get_uri(browser->m_view);
  browser->m_mainFrame->SetURL(ToU16(uri));
  if (CefRefPtr<CefDisplayHandler> display = browser->m_client->GetDisplayHandler())
    display->OnAddressChange(browser, browser->m_mainFrame.get(), CefString(uri ? uri : ""));
}

gboolean BrowserImpl::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                     WebKitPolicyDecisionType type, gpointer self) {
  auto* browser = static_cast<BrowserImpl*>(self);
  switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
      // Every frame's navigations and redirects pass here, so the
      // navigation filter sees them all. Which frame navigates is not told
      // here; main-frame navigations reach OnBeforeBrowse when they start.
      WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
          WEBKIT_NAVIGATION_POLICY_DECISION(decision));
      WebKitURIRequest* uriRequest = webkit_navigation_action_get_request(action);
      const gchar* uri = webkit_uri_request_get_uri(uriRequest);
      if (browser->m_stuckGuard.RefusesNavigation(uri,
                                                  webkit_navigation_action_is_redirect(action))) {
        QLOG(u"BrowserImpl::OnDecidePolicy => the page's navigation gives way to a load asked for");
        webkit_policy_decision_ignore(decision);
        return TRUE;
      }
      CefRefPtr<CefRequest> request = new RequestImpl(
          CefString(uri ? uri : ""), CefString(webkit_uri_request_get_http_method(uriRequest)),
          TransitionOf(action));
      bool cancel = false;
      if (CefRefPtr<CefApp> app = EngineContext::Get().App())
        if (CefRefPtr<CefRenderProcessHandler> renderer = app->GetRenderProcessHandler())
          cancel = renderer->OnBeforeNavigation(browser, browser->m_mainFrame.get(), request,
                                                NavigationTypeOf(action),
                                                webkit_navigation_action_is_redirect(action));
      if (cancel) {
        webkit_policy_decision_ignore(decision);
        return TRUE;
      }
      browser->m_lastNavigation = {uri ? uri : "", static_cast<int>(request->GetTransitionType()),
                                   webkit_navigation_action_is_user_gesture(action) != FALSE};
      webkit_policy_decision_use(decision);
      return TRUE;
    }
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION:
      browser->AskPopup(webkit_navigation_policy_decision_get_navigation_action(
          WEBKIT_NAVIGATION_POLICY_DECISION(decision)));
      // This layer never opens a second view.
      webkit_policy_decision_ignore(decision);
      return TRUE;
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
      auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
      if (!webkit_response_policy_decision_is_mime_type_supported(response)) {
        webkit_policy_decision_download(decision);
        return TRUE;
      }
      webkit_policy_decision_use(decision);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void BrowserImpl::AskPopup(WebKitNavigationAction* action) {
  CefRefPtr<CefLifeSpanHandler> life = m_client->GetLifeSpanHandler();
  if (!life) return;
  const gchar* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  CefWindowInfo windowInfo;
  CefRefPtr<CefClient> client = m_client;
  CefBrowserSettings settings;
  bool noScriptAccess = false;
  life->OnBeforePopup(this, m_mainFrame.get(), CefString(uri ? uri : ""), CefString(),
                      WOD_NEW_FOREGROUND_TAB, webkit_navigation_action_is_user_gesture(action),
                      CefPopupFeatures(), windowInfo, client, settings, &noScriptAccess);
}

WebKitWebView* BrowserImpl::OnCreateRequested(WebKitWebView*, WebKitNavigationAction* action,
                                              gpointer self) {
  // window.open and links to new windows: asked, then refused (no view).
  static_cast<BrowserImpl*>(self)->AskPopup(action);
  return nullptr;
}

void BrowserImpl::OnCloseRequested(WebKitWebView*, gpointer self) {
  static_cast<BrowserImpl*>(self)->DestroyView();
}

void BrowserImpl::OnBackForwardChanged(WebKitBackForwardList*, WebKitBackForwardListItem*, gpointer,
                                       gpointer self) {
  static_cast<BrowserImpl*>(self)->UpdateHistoryState();
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
