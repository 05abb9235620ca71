#include "wpe/navigation/navigation_tracker.h"

#include <memory>
#include <utility>

#include "diagnostics/debug_log.h"
#include "wpe/navigation/load_error_map.h"
#include "wpe/process/engine_context.h"
#include "wpe/room/browser_side.h"
#include "wpe/room/frame_impl.h"
#include "wpe/room/request_impl.h"
#include "wpe/room/webkit_mapping.h"

namespace quillo::engine {
namespace {

// Times the embedder's load is asked for again after the page cancelled it.
constexpr int kMaxLoadCancels = 3;

NavigationTracker* Tracker(gpointer self) {
  return static_cast<NavigationTracker*>(self);
}

gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer self) {
  return Tracker(self)->DecidePolicy(decision, type);
}

WebKitWebView* OnCreateRequested(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
  // window.open and links to new windows: asked, then refused (no view).
  Tracker(self)->AskPopup(action);
  return nullptr;
}

void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self) {
  Tracker(self)->LoadChanged(view, event);
}

gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self) {
  Tracker(self)->LoadFailed(uri, error);
  return TRUE;  // the client shows its own error page
}

void OnResourceLoadStarted(WebKitWebView* view, WebKitWebResource* resource,
                           WebKitURIRequest* request, gpointer self) {
  Tracker(self)->ResourceLoadStarted(view, resource, request);
}

void OnBackForwardChanged(WebKitBackForwardList*, WebKitBackForwardListItem*, gpointer,
                          gpointer self) {
  Tracker(self)->UpdateHistoryState();
}

}  // namespace

void NavigationTracker::Attach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChanged), this);
  g_signal_connect(view, "load-failed", G_CALLBACK(OnLoadFailed), this);
  g_signal_connect(view, "load-failed-with-tls-errors",
                   G_CALLBACK(+[](WebKitWebView*, gchar* uri, GTlsCertificate*,
                                  GTlsCertificateFlags flags, gpointer self) -> gboolean {
                     BrowserSide& browser = Tracker(self)->m_browser;
                     MappedError mapped = MapCertificateErrors(flags);
                     if (CefRefPtr<CefLoadHandler> load = browser.Client().GetLoadHandler())
                       load->OnLoadError(browser.Browser(), &browser.MainFrame(), mapped.code,
                                         mapped.text, CefString(uri ? uri : ""));
                     return TRUE;
                   }),
                   this);
  g_signal_connect(view, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
  g_signal_connect(view, "resource-load-started", G_CALLBACK(OnResourceLoadStarted), this);
  g_signal_connect(view, "create", G_CALLBACK(OnCreateRequested), this);
  g_signal_connect(webkit_web_view_get_back_forward_list(view), "changed",
                   G_CALLBACK(OnBackForwardChanged), this);
  m_addressAndTitle.Attach(view);
}

void NavigationTracker::Detach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  m_inFlight.Clear();
  m_addressAndTitle.Detach(view);
  g_signal_handlers_disconnect_by_data(webkit_web_view_get_back_forward_list(view), this);
  g_signal_handlers_disconnect_by_data(view, this);
}

void NavigationTracker::Load(const std::u16string& url, bool again) {
  QUILLO_REQUIRE_UI_THREAD();
  WebKitWebView* view = m_browser.View();
  if (view == nullptr || m_browser.ViewGone()) return;
  if (url.empty()) return;  // nothing to load: the view stays as it is
  if (!again) m_loadCancels = 0;
  ++m_navigationsAsked;
  m_inFlight.SetLoad(url);
  std::string utf8 = CefString(url).ToString();
  m_browser.MainFrame().SetURL(url);
  m_hostLoads.Asked(utf8);
  webkit_web_view_load_uri(view, utf8.c_str());
  const gchar* asked = webkit_web_view_get_uri(view);
  m_inFlight.engineUri = asked ? asked : "";
  // A process with no page yet (the first load, or the first after an end) has no script that
  // could keep the load from starting, and nothing to answer the guard's check: its start,
  // however slow, is waited for.
  if (m_browser.State().hasDocument.load() && !m_endedBeforeCommit)
    m_stuckGuard.Arm(url);
  else
    m_stuckGuard.Claim(url);
  m_stuckGuard.ExpectCommit(asked);
}

void NavigationTracker::EndStuckProcess(const std::u16string& url) {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_browser.View() == nullptr || m_browser.ViewGone()) return;
  QLOG(
      u"BrowserImpl::EndStuckProcess => the page's process keeps the load from starting or "
      u"committing [%s]",
      url.c_str());
  // The load is asked for again in the fresh process when the view hears of the end, whether
  // or not it was a second try already.
  const int redos = m_inFlight.url == url ? m_inFlight.redos : 0;
  m_inFlight.SetLoad(url);
  m_inFlight.redos = redos;  // a fresh process stuck as well counts as a try
  webkit_web_view_terminate_web_process(m_browser.View());
}

void NavigationTracker::AskProcess(std::function<void()> answered) {
  QUILLO_REQUIRE_UI_THREAD();
  WebKitWebView* view = m_browser.View();
  if (view == nullptr || m_browser.ViewGone()) return;
  // The answer finds this tracker through its browser, which it keeps alive.
  struct Asked {
    CefRefPtr<CefBrowser> browser;
    BrowserSide* side;
    std::function<void()> answered;
  };
  webkit_web_view_run_javascript_in_world(
      view, "0", "quillo", nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Asked> asked(static_cast<Asked*>(data));
        WebKitJavascriptResult* value = webkit_web_view_run_javascript_in_world_finish(
            WEBKIT_WEB_VIEW(source), result, nullptr);
        if (value == nullptr) return;
        webkit_javascript_result_unref(value);
        if (!asked->side->ViewGone()) asked->answered();
      },
      new Asked{m_browser.Browser(), &m_browser, std::move(answered)});
}

bool NavigationTracker::RedoAfterCrash() {
  if (m_inFlight.Empty() || m_browser.ViewGone()) return false;
  if (!CanRedo()) {
    QLOG(u"BrowserImpl => the web process ended again before the load asked again committed");
    m_inFlight.Clear();
    return false;
  }
  // Counted now, so that the crash's error page, asked for already, gives way to it.
  const uint64_t asked = ++m_navigationsAsked;
  const int redos = m_inFlight.redos + 1;
  // A load or move asked for meanwhile (posted before the end was heard) is the later one.
  auto overtaken = [this, asked] {
    if (m_navigationsAsked == asked) return false;
    QLOG(u"BrowserImpl => a later load takes the place of the one asked again");
    return true;
  };
  if (!m_inFlight.url.empty()) {
    const std::u16string url = m_inFlight.url;
    QLOG(u"BrowserImpl => the web process ended before the load committed, asked again [%s]",
         url.c_str());
    m_browser.Post([this, url, redos, overtaken] {
      if (overtaken()) return;
      Load(url, true);
      m_inFlight.redos = redos;
    });
  } else {
    WebKitBackForwardListItem* item = WEBKIT_BACK_FORWARD_LIST_ITEM(g_object_ref(m_inFlight.item));
    QLOG(u"BrowserImpl => the web process ended before the history move committed, moved again");
    m_browser.Post([this, item, redos, overtaken] {
      if (!overtaken()) {
        MoveTo(item);
        m_inFlight.redos = redos;
      }
      g_object_unref(item);
    });
  }
  return true;
}

void NavigationTracker::MoveTo(WebKitBackForwardListItem* target) {
  m_stuckGuard.Committed();  // a later request than the pending load
  ++m_navigationsAsked;
  m_inFlight.SetMove(target);
  // The embedder's own move: it may reach a data: document (after a crash the engine reports
  // it as a plain navigation, not as a move through the history).
  const gchar* uri = webkit_back_forward_list_item_get_uri(target);
  m_hostLoads.Asked(uri ? uri : "");
  webkit_web_view_go_to_back_forward_list_item(m_browser.View(), target);
  const gchar* asked = webkit_web_view_get_uri(m_browser.View());
  m_inFlight.engineUri = asked ? asked : "";
}

void NavigationTracker::GoBack() {
  QUILLO_REQUIRE_UI_THREAD();
  WebKitBackForwardList* list = webkit_web_view_get_back_forward_list(m_browser.View());
  if (WebKitBackForwardListItem* target = webkit_back_forward_list_get_back_item(list))
    MoveTo(target);
}

void NavigationTracker::GoForward() {
  QUILLO_REQUIRE_UI_THREAD();
  WebKitBackForwardList* list = webkit_web_view_get_back_forward_list(m_browser.View());
  if (WebKitBackForwardListItem* target = webkit_back_forward_list_get_forward_item(list))
    MoveTo(target);
}

void NavigationTracker::Reload() {
  QUILLO_REQUIRE_UI_THREAD();
  m_stuckGuard.Committed();  // a later request than the pending load
  ++m_navigationsAsked;
  m_inFlight.Clear();
  // The embedder's own reload: it may show a data: document again (after the web process ended
  // the engine reports it as a plain navigation, not as a reload).
  // The view's address is gone with its process; its history's current entry keeps it.
  const gchar* uri = webkit_web_view_get_uri(m_browser.View());
  if (uri == nullptr || *uri == '\0')
    if (WebKitBackForwardListItem* item = webkit_back_forward_list_get_current_item(
            webkit_web_view_get_back_forward_list(m_browser.View())))
      uri = webkit_back_forward_list_item_get_uri(item);
  m_hostLoads.Asked(uri ? uri : "");
  webkit_web_view_reload(m_browser.View());
}

void NavigationTracker::Stop() {
  QUILLO_REQUIRE_UI_THREAD();
  m_stuckGuard.Committed();  // stopped on purpose: not asked for again
  m_inFlight.Clear();
  webkit_web_view_stop_loading(m_browser.View());
}

void NavigationTracker::InFlight::Clear() {
  url.clear();
  if (item) g_object_unref(std::exchange(item, nullptr));
  redos = 0;
  engineUri.clear();
  started = false;
}

void NavigationTracker::InFlight::SetLoad(const std::u16string& target) {
  Clear();
  url = target;
}

void NavigationTracker::InFlight::SetMove(WebKitBackForwardListItem* target) {
  g_object_ref(target);  // before Clear: target may be the item held
  Clear();
  item = target;
}

bool NavigationTracker::DecidePolicy(WebKitPolicyDecision* decision,
                                     WebKitPolicyDecisionType type) {
  QUILLO_REQUIRE_UI_THREAD();
  switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
      // Every frame's navigations and redirects pass here, so the
      // navigation filter sees them all. Which frame navigates is not told
      // here; main-frame navigations reach OnBeforeBrowse when they start.
      WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
          WEBKIT_NAVIGATION_POLICY_DECISION(decision));
      WebKitURIRequest* uriRequest = webkit_navigation_action_get_request(action);
      const gchar* uri = webkit_uri_request_get_uri(uriRequest);
      if (m_stuckGuard.RefusesNavigation(uri, webkit_navigation_action_is_redirect(action))) {
        QLOG(u"BrowserImpl::OnDecidePolicy => the page's navigation gives way to a load asked for");
        webkit_policy_decision_ignore(decision);
        return true;
      }
      CefRefPtr<CefRequest> request = new RequestImpl(
          CefString(uri ? uri : ""), CefString(webkit_uri_request_get_http_method(uriRequest)),
          TransitionOf(action));
      bool cancel = false;
      if (CefRefPtr<CefApp> app = EngineContext::Get().App())
        if (CefRefPtr<CefRenderProcessHandler> renderer = app->GetRenderProcessHandler())
          cancel = renderer->OnBeforeNavigation(m_browser.Browser(), &m_browser.MainFrame(),
                                                request, NavigationTypeOf(action),
                                                webkit_navigation_action_is_redirect(action));
      if (cancel) {
        webkit_policy_decision_ignore(decision);
        return true;
      }
      m_lastNavigation = {uri ? uri : "", static_cast<int>(request->GetTransitionType()),
                          webkit_navigation_action_is_user_gesture(action) != FALSE};
      webkit_policy_decision_use(decision);
      return true;
    }
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION:
      AskPopup(webkit_navigation_policy_decision_get_navigation_action(
          WEBKIT_NAVIGATION_POLICY_DECISION(decision)));
      // This layer never opens a second view.
      webkit_policy_decision_ignore(decision);
      return true;
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
      auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
      if (!webkit_response_policy_decision_is_mime_type_supported(response)) {
        // A download, not a page: its load's end is not a failure, and a crash does not start it
        // again.
        m_stuckGuard.Committed();
        m_inFlight.Clear();
        webkit_policy_decision_download(decision);
        return true;
      }
      webkit_policy_decision_use(decision);
      return true;
    }
    default:
      return false;
  }
}

void NavigationTracker::AskPopup(WebKitNavigationAction* action) {
  QUILLO_REQUIRE_UI_THREAD();
  CefRefPtr<CefLifeSpanHandler> life = m_browser.Client().GetLifeSpanHandler();
  if (!life) return;
  const gchar* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  CefWindowInfo windowInfo;
  CefRefPtr<CefClient> client = &m_browser.Client();
  CefBrowserSettings settings;
  bool noScriptAccess = false;
  life->OnBeforePopup(m_browser.Browser(), &m_browser.MainFrame(), CefString(uri ? uri : ""),
                      CefString(), WOD_NEW_FOREGROUND_TAB,
                      webkit_navigation_action_is_user_gesture(action), CefPopupFeatures(),
                      windowInfo, client, settings, &noScriptAccess);
}

bool NavigationTracker::BeforeBrowse(const char* uri, bool redirect) {
  QUILLO_REQUIRE_UI_THREAD();
  CefRefPtr<CefRequestHandler> handler = m_browser.Client().GetRequestHandler();
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
  if (!handler->OnBeforeBrowse(m_browser.Browser(), &m_browser.MainFrame(), request, gesture,
                               redirect))
    return true;
  Stop();
  return false;
}

void NavigationTracker::LoadChanged(WebKitWebView* view, WebKitLoadEvent event) {
  QUILLO_REQUIRE_UI_THREAD();
  CefBrowser* browser = m_browser.Browser();
  FrameImpl* frame = &m_browser.MainFrame();
  BrowserState& state = m_browser.State();
  CefRefPtr<CefLoadHandler> load = m_browser.Client().GetLoadHandler();
  UpdateHistoryState();
  switch (event) {
    case WEBKIT_LOAD_STARTED: {
      // The view names no URI for a load that starts right after a navigation the policy check
      // refused (one that gave way to it); the decision that let the load through names it.
      const gchar* viewUri = webkit_web_view_get_uri(view);
      const gchar* startedUri =
          viewUri != nullptr && *viewUri != '\0' ? viewUri : m_lastNavigation.url.c_str();
      if (m_stuckGuard.IsExpected(startedUri)) m_stuckGuard.Started();
      if (!m_inFlight.Empty() && startedUri != nullptr && m_inFlight.engineUri == startedUri)
        m_inFlight.started = true;
      state.isLoading.store(true);
      m_failed = false;
      // The engine shows the URL of a navigation the page started only from
      // its first redirect or its commit; the policy decision that let the
      // navigation through (every main-frame load passes one just before it
      // starts) names it now.
      const gchar* uri = webkit_web_view_get_uri(view);
      const std::string& decided = m_lastNavigation.url;
      const std::string started = decided.empty() ? (uri ? uri : "") : decided;
      const bool hostStarted = m_hostLoads.Starting(started);
      if (RefusedTopLevelDataUrl(started, m_lastNavigation.transition, hostStarted)) {
        QLOG(u"BrowserImpl => the page may not navigate the top frame to a data URL");
        Stop();
        return;
      }
      if (!BeforeBrowse(started.c_str(), false)) return;
      if (load) {
        load->OnLoadingStateChange(browser, true, state.canGoBack.load(),
                                   state.canGoForward.load());
        load->OnLoadStart(browser, frame, TT_EXPLICIT);
      }
      break;
    }
    case WEBKIT_LOAD_REDIRECTED:
      BeforeBrowse(webkit_web_view_get_uri(view), true);
      break;
    case WEBKIT_LOAD_COMMITTED:
      // The embedder's navigation, once started, has a document (perhaps its redirect's): a
      // crash from here on shows the error page, and nothing keeps it from committing any more.
      if (m_inFlight.started) m_inFlight.Clear();
      m_endedBeforeCommit = false;
      m_stuckGuard.CommitSeen();
      state.hasDocument.store(true);
      frame->SetURL(ToU16(webkit_web_view_get_uri(view)));
      break;
    case WEBKIT_LOAD_FINISHED: {
      state.isLoading.store(false);
      int status = 0;
      if (WebKitWebResource* resource = webkit_web_view_get_main_resource(view))
        if (WebKitURIResponse* response = webkit_web_resource_get_response(resource))
          status = static_cast<int>(webkit_uri_response_get_status_code(response));
      // The engine refuses restricted ports without reporting a failure: it
      // shows an empty document instead of the URL it was asked for.
      const std::string& target = m_lastNavigation.url;
      if (!m_failed && status == 0 && IsRestrictedPortUrl(target.c_str()) && load) {
        frame->SetURL(ToU16(target.c_str()));
        load->OnLoadError(browser, frame, ERR_UNSAFE_PORT, "net::ERR_UNSAFE_PORT",
                          CefString(target));
      }
      if (!m_failed) m_addressAndTitle.ReportAddressIfUntitled();
      if (load) {
        load->OnLoadEnd(browser, frame, status);
        load->OnLoadingStateChange(browser, false, state.canGoBack.load(),
                                   state.canGoForward.load());
      }
      break;
    }
    default:
      break;
  }
}

void NavigationTracker::LoadFailed(const char* uri, GError* error) {
  QUILLO_REQUIRE_UI_THREAD();
  m_failed = true;
  // The embedder's navigation ended on its own (or is asked for again below).
  if (m_inFlight.started || (uri != nullptr && m_inFlight.engineUri == uri)) m_inFlight.Clear();
  if (m_stuckGuard.IsExpected(uri)) {
    // The page's own script cancelled the embedder's load, or interrupted its policy check,
    // after it started (a page that navigates itself or calls window.stop() in a loop): ask
    // for it again, a few times, rather than lose it. A page that goes on cancelling it is
    // treated as stuck: its process is ended. (Downloads and loads stopped on purpose gave up
    // their claim before, so they are not asked for again.)
    const bool interrupted =
        g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
        g_error_matches(error, WEBKIT_POLICY_ERROR,
                        WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE);
    if (interrupted && !m_stuckGuard.Url().empty()) {
      const std::u16string url = m_stuckGuard.Url();
      if (++m_loadCancels <= kMaxLoadCancels) {
        QLOG(u"BrowserImpl => the page cancelled the load asked for, asked again [%s]",
             url.c_str());
        m_browser.Post([this, url] { Load(url, true); });
      } else {
        m_browser.Post([this, url] { EndStuckProcess(url); });
      }
    }
    m_stuckGuard.Committed();
  }
  // The failing frame shows the URL it was loading.
  if (uri) m_browser.MainFrame().SetURL(ToU16(uri));
  MappedError mapped = MapLoadError(error);
  if (CefRefPtr<CefLoadHandler> load = m_browser.Client().GetLoadHandler())
    load->OnLoadError(m_browser.Browser(), &m_browser.MainFrame(), mapped.code, mapped.text,
                      CefString(uri ? uri : ""));
}

void NavigationTracker::ResourceLoadStarted(WebKitWebView* view, WebKitWebResource* resource,
                                            WebKitURIRequest* request) {
  QUILLO_REQUIRE_UI_THREAD();
  // Sub-frame documents are the resources fetched as HTML that are not the
  // main frame's; their failures reach OnLoadError with a frame of their own.
  if (resource == webkit_web_view_get_main_resource(view)) return;
  SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request);
  const char* accept = headers ? soup_message_headers_get_one(headers, "Accept") : nullptr;
  if (accept == nullptr || !g_str_has_prefix(accept, "text/html")) return;
  // The handler holds a reference to the browser, which owns this tracker, until the resource
  // goes, and does nothing once the view has been destroyed: a resource may fail after its page
  // was closed.
  struct Watch {
    NavigationTracker* tracker;
    CefRefPtr<CefBrowser> hold;
  };
  g_signal_connect_data(
      resource, "failed", G_CALLBACK(+[](WebKitWebResource* failed, GError* error, gpointer data) {
        NavigationTracker* tracker = static_cast<Watch*>(data)->tracker;
        BrowserSide& browser = tracker->m_browser;
        CefRefPtr<CefLoadHandler> load = browser.Client().GetLoadHandler();
        if (!load || browser.ViewGone()) return;
        const gchar* uri = webkit_web_resource_get_uri(failed);
        MappedError mapped = MapLoadError(error);
        CefRefPtr<CefFrame> frame =
            browser.MainFrame().SubFrame(++tracker->m_lastSubframeId, ToU16(uri));
        load->OnLoadError(browser.Browser(), frame, mapped.code, mapped.text,
                          CefString(uri ? uri : ""));
      }),
      new Watch{this, m_browser.Browser()},
      +[](gpointer data, GClosure*) {
        delete static_cast<Watch*>(data);  // may end the browser, and this tracker with it
      },
      GConnectFlags(0));
}

void NavigationTracker::UpdateHistoryState() {
  QUILLO_REQUIRE_UI_THREAD();
  WebKitWebView* view = m_browser.View();
  if (view == nullptr) return;
  m_browser.State().canGoBack.store(webkit_web_view_can_go_back(view));
  m_browser.State().canGoForward.store(webkit_web_view_can_go_forward(view));
}

}  // namespace quillo::engine
