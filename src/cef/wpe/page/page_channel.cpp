#include "wpe/page/page_channel.h"

#include <gio/gunixfdlist.h>

#include <memory>
#include <utility>

#include "diagnostics/debug_log.h"
#include "webext/protocol.h"
#include "wpe/process/engine_context.h"
#include "wpe/process/scheme_handlers.h"
#include "wpe/room/browser_side.h"
#include "wpe/room/frame_impl.h"
#include "wpe/room/request_impl.h"
#include "wpe/room/v8_impl.h"
#include "wpe/room/webkit_mapping.h"

namespace quillo::engine {
namespace {

gboolean OnUserMessage(WebKitWebView*, WebKitUserMessage* message, gpointer self) {
  return static_cast<PageChannel*>(self)->Receive(message);
}

void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
  static_cast<PageChannel*>(self)->LoadChanged(event);
}

// A marker's answer finds its channel through the browser, which it keeps alive.
struct Marker {
  CefRefPtr<CefBrowser> browser;
  BrowserSide* side;
  PageChannel* channel;
  uint64_t id;
};

CefRefPtr<CefRenderProcessHandler> RenderProcessHandler() {
  CefRefPtr<CefApp> app = EngineContext::Get().App();
  return app ? app->GetRenderProcessHandler() : nullptr;
}

}  // namespace

void PageChannel::Attach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  g_signal_connect(view, "user-message-received", G_CALLBACK(OnUserMessage), this);
  g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChanged), this);
}

void PageChannel::Detach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  g_signal_handlers_disconnect_by_data(view, this);
}

void PageChannel::ReplaceSubframe(const std::string& frameUrl, const std::string& url) {
  QUILLO_REQUIRE_UI_THREAD();
  webkit_web_view_send_message_to_page(
      m_browser.View(),
      webkit_user_message_new(webext::kReplaceSubframe,
                              g_variant_new("(ss)", frameUrl.c_str(), url.c_str())),
      nullptr, nullptr, nullptr);
}

void PageChannel::RunScript(const std::string& script) {
  QUILLO_REQUIRE_UI_THREAD();
  Script next{++m_lastScriptId, script, false};
  if (m_processGone)
    m_waiting.push_back(std::move(next));
  else
    Send(std::move(next));
}

void PageChannel::Send(Script script) {
  WebKitWebView* view = m_browser.View();
  webkit_web_view_run_javascript(
      view, script.text.c_str(), nullptr,
      [](GObject* source, GAsyncResult* result, gpointer) {
        // Errors (exceptions, unserialisable results) are the page's own.
        WebKitJavascriptResult* value =
            webkit_web_view_run_javascript_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
        if (value) webkit_javascript_result_unref(value);
      },
      nullptr);
  // The process handles what it is sent in order, so its answer to a marker sent next says
  // that it got past the script, whatever the script did; no answer comes when it ends first.
  webkit_web_view_run_javascript(
      view, "0", nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Marker> marker(static_cast<Marker*>(data));
        WebKitJavascriptResult* value =
            webkit_web_view_run_javascript_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
        if (value == nullptr) return;
        webkit_javascript_result_unref(value);
        if (!marker->side->ViewGone()) marker->channel->Confirmed(marker->id);
      },
      new Marker{m_browser.Browser(), &m_browser, this, script.id});
  m_unconfirmed.push_back(std::move(script));
}

void PageChannel::Evaluate(const std::string& script, CefRefPtr<CefEvaluateCallback> callback) {
  QUILLO_REQUIRE_UI_THREAD();
  webkit_web_view_run_javascript(
      m_browser.View(), script.c_str(), nullptr,
      [](GObject* view, GAsyncResult* result, gpointer data) {
        CefRefPtr<CefEvaluateCallback> callback =
            CefRefPtr<CefEvaluateCallback>::Adopt(static_cast<CefEvaluateCallback*>(data));
        GError* error = nullptr;
        WebKitJavascriptResult* value =
            webkit_web_view_run_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
        if (value == nullptr) {
          // The engine fails a value it cannot hand over (a function, a promise, a node) with
          // no message; an exception always has one.
          const bool noForm = error && error->message && *error->message == '\0';
          callback->OnResult(noForm, CefString(noForm  ? ""
                                               : error ? error->message
                                                       : "the script failed"));
          if (error) g_error_free(error);
          return;
        }
        JSCValue* js = webkit_javascript_result_get_js_value(value);
        gchar* json = jsc_value_is_undefined(js) ? nullptr : jsc_value_to_json(js, 0);
        callback->OnResult(true, CefString(json ? json : ""));
        g_free(json);
        webkit_javascript_result_unref(value);
      },
      callback.release());
}

void PageChannel::Confirmed(uint64_t id) {
  QUILLO_REQUIRE_UI_THREAD();
  std::erase_if(m_unconfirmed, [id](const Script& script) { return script.id <= id; });
}

void PageChannel::ProcessGone() {
  QUILLO_REQUIRE_UI_THREAD();
  m_processGone = true;
  m_contexts.ReleaseAll(
      [this](bool came, const ScriptContexts::Context& context) { NotifyContext(came, context); });
  for (Script& script : m_unconfirmed) {
    if (script.again) {
      QLOG(u"BrowserImpl => script dropped: its web process ended twice before it had run");
      continue;
    }
    script.again = true;
    m_waiting.push_back(std::move(script));
  }
  m_unconfirmed.clear();
}

void PageChannel::LoadChanged(WebKitLoadEvent event) {
  QUILLO_REQUIRE_UI_THREAD();
  if (event == WEBKIT_LOAD_COMMITTED) m_processGone = false;
  if (event != WEBKIT_LOAD_FINISHED || m_processGone || m_waiting.empty()) return;
  std::vector<Script> waiting = std::move(m_waiting);
  m_waiting.clear();
  for (Script& script : waiting) Send(std::move(script));
}

bool PageChannel::Receive(WebKitUserMessage* message) {
  QUILLO_REQUIRE_UI_THREAD();
  CefBrowser* browser = m_browser.Browser();
  const char* name = webkit_user_message_get_name(message);
  GVariant* parameters = webkit_user_message_get_parameters(message);
  if (parameters == nullptr) return false;
  CefRefPtr<CefRenderProcessHandler> renderer = RenderProcessHandler();
  if (g_strcmp0(name, webext::kContextMessage) == 0 &&
      g_variant_is_of_type(parameters, G_VARIANT_TYPE("(btbst)"))) {
    gboolean created = FALSE, main = FALSE;
    guint64 id = 0, process = 0;
    const char* uri = nullptr;
    g_variant_get(parameters, "(btb&st)", &created, &id, &main, &uri, &process);
    m_contexts.Report(process, created, {id, main != FALSE, uri ? uri : ""},
                      [this](bool came, const ScriptContexts::Context& context) {
                        NotifyContext(came, context);
                      });
    return true;
  }
  if (g_strcmp0(name, webext::kConsoleMessage) == 0 &&
      g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssuub)"))) {
    const char* text = nullptr;
    const char* source = nullptr;
    guint line = 0, level = 0;
    gboolean uncaught = FALSE;
    g_variant_get(parameters, "(&s&suub)", &text, &source, &line, &level, &uncaught);
    if (CefRefPtr<CefDisplayHandler> display = m_browser.Client().GetDisplayHandler())
      display->OnConsoleMessage(browser, CefString(text), CefString(source),
                                static_cast<int>(line));
    if (uncaught && renderer && EngineContext::Get().UncaughtExceptionStackSize() > 0)
      renderer->OnUncaughtException(browser, &m_browser.MainFrame(), new V8ContextImpl,
                                    new V8ExceptionImpl(text, source, static_cast<int>(line)),
                                    new V8StackTraceImpl);
    return true;
  }
  if (g_strcmp0(name, webext::kMediaRequest) == 0 &&
      g_variant_is_of_type(parameters, G_VARIANT_TYPE("(st)"))) {
    const char* uri = nullptr;
    guint64 first = 0;
    g_variant_get(parameters, "(&st)", &uri, &first);
    GUnixFDList* fds = webkit_user_message_get_fd_list(message);
    const int socket = fds && g_unix_fd_list_get_length(fds) == 1
                           ? g_unix_fd_list_get(fds, 0, nullptr)  // a copy of our own
                           : -1;
    if (socket >= 0) SchemeHandlers::Get().MediaRequest(m_browser, uri, first, socket);
    return true;
  }
  if (g_strcmp0(name, webext::kSubframeNavigated) == 0 &&
      g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ts)"))) {
    guint64 id = 0;
    const char* uri = nullptr;
    g_variant_get(parameters, "(t&s)", &id, &uri);
    if (CefRefPtr<CefRequestHandler> handler = m_browser.Client().GetRequestHandler()) {
      CefRefPtr<CefFrame> frame =
          m_browser.MainFrame().SubFrame(static_cast<int64>(id), ToU16(uri));
      CefRefPtr<CefRequest> request =
          new RequestImpl(CefString(uri), CefString("GET"), TT_AUTO_SUBFRAME);
      handler->OnBeforeBrowse(browser, frame, request, false, false);
    }
    return true;
  }
  return false;
}

void PageChannel::NotifyContext(bool created, const ScriptContexts::Context& context) {
  CefRefPtr<CefRenderProcessHandler> renderer = RenderProcessHandler();
  if (!renderer) return;
  CefRefPtr<CefFrame> frame =
      context.main ? CefRefPtr<CefFrame>(&m_browser.MainFrame())
                   : CefRefPtr<CefFrame>(m_browser.MainFrame().SubFrame(
                         static_cast<int64>(context.frameId), ToU16(context.url.c_str())));
  CefRefPtr<CefV8Context> v8 = new V8ContextImpl;
  if (created)
    renderer->OnContextCreated(m_browser.Browser(), frame, v8);
  else
    renderer->OnContextReleased(m_browser.Browser(), frame, v8);
}

}  // namespace quillo::engine
