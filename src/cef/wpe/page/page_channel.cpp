#include "wpe/page/page_channel.h"

#include "webext/protocol.h"
#include "wpe/process/engine_context.h"
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

CefRefPtr<CefRenderProcessHandler> RenderProcessHandler() {
  CefRefPtr<CefApp> app = EngineContext::Get().App();
  return app ? app->GetRenderProcessHandler() : nullptr;
}

}  // namespace

void PageChannel::Attach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  g_signal_connect(view, "user-message-received", G_CALLBACK(OnUserMessage), this);
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
  webkit_web_view_run_javascript(
      m_browser.View(), script.c_str(), nullptr,
      [](GObject* view, GAsyncResult* result, gpointer) {
        // Errors (exceptions, unserialisable results) are the page's own.
        WebKitJavascriptResult* value =
            webkit_web_view_run_javascript_finish(WEBKIT_WEB_VIEW(view), result, nullptr);
        if (value) webkit_javascript_result_unref(value);
      },
      nullptr);
}

void PageChannel::ReleaseAllContexts() {
  QUILLO_REQUIRE_UI_THREAD();
  m_contexts.ReleaseAll(
      [this](bool came, const ScriptContexts::Context& context) { NotifyContext(came, context); });
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
