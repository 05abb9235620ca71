#include "wpe/page/page_messages.h"

#include <cstdio>

#include "diagnostics/debug_log.h"
#include "wpe/process/ui_thread.h"
#include "wpe/room/browser_side.h"

namespace quillo::engine {
namespace {

// The script message handler the page's function posts through.
constexpr char kHandler[] = "quilloPageMessage";

void OnPosted(WebKitUserContentManager*, WebKitJavascriptResult* post, gpointer self) {
  static_cast<PageMessages*>(self)->Posted(post);
}

std::string ReplyFunctionName() {
  char name[48];
  std::snprintf(name, sizeof(name), "__quilloReply%08x%08x", g_random_int(), g_random_int());
  return name;
}

std::string StringOf(JSCValue* array, guint index) {
  JSCValue* value = jsc_value_object_get_property_at_index(array, index);
  gchar* text = jsc_value_is_string(value) ? jsc_value_to_string(value) : nullptr;
  std::string result = text ? text : "";
  g_free(text);
  g_object_unref(value);
  return result;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  // U+2028 and U+2029 may stand in script strings since ES2019; other bytes pass as UTF-8.
  return out + "\"";
}

PageMessages::PageMessages(BrowserSide& browser, std::string function)
    : m_browser(browser), m_function(std::move(function)), m_replyFunction(ReplyFunctionName()) {}

void PageMessages::Attach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_function.empty()) return;
  WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(view);
  webkit_user_content_manager_register_script_message_handler(content, kHandler);
  g_signal_connect(content, "script-message-received::quilloPageMessage", G_CALLBACK(OnPosted),
                   this);
  // In the page's own world, before its scripts: the handler is taken while the page cannot
  // have replaced it; the reply function cannot be changed or enumerated.
  const std::string script =
      "(() => {"
      "  const handler = window.webkit.messageHandlers." +
      std::string(kHandler) +
      ";"
      "  const token = Math.random().toString(36).slice(2) + Date.now().toString(36);"
      "  const waiting = new Map();"
      "  let sequence = 0;"
      "  Object.defineProperty(window, " +
      JsonString(m_replyFunction) +
      ", {value:"
      "    (t, s, ok, text) => {"
      "      if (t !== token || !waiting.has(s)) return;"
      "      const w = waiting.get(s); waiting.delete(s);"
      "      if (ok) w.resolve(text); else w.reject(new Error(text));"
      "    }});"
      "  window[" +
      JsonString(m_function) +
      "] = function (text) {"
      "    const s = ++sequence;"
      "    return new Promise((resolve, reject) => {"
      "      waiting.set(s, {resolve, reject});"
      "      handler.postMessage([token, s, String(text)]);"
      "    });"
      "  };"
      "})();";
  WebKitUserScript* user =
      webkit_user_script_new(script.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                             WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(content, user);
  webkit_user_script_unref(user);
}

void PageMessages::Detach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_function.empty()) return;
  g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(view), this);
  m_waiting.clear();
}

void PageMessages::Posted(WebKitJavascriptResult* post) {
  QUILLO_REQUIRE_UI_THREAD();
  JSCValue* value = webkit_javascript_result_get_js_value(post);
  if (!jsc_value_is_array(value)) return;
  JSCValue* sequence = jsc_value_object_get_property_at_index(value, 1);
  Waiting waiting{StringOf(value, 0),
                  jsc_value_is_number(sequence) ? jsc_value_to_double(sequence) : 0};
  g_object_unref(sequence);
  const std::string text = StringOf(value, 2);
  const int64_t id = ++m_lastId;
  m_waiting.emplace(id, std::move(waiting));
  if (m_waiting.size() > kMaxWaiting) {
    QLOG(u"BrowserImpl => %d page messages unanswered, the oldest forgotten",
         static_cast<int>(m_waiting.size()));
    m_waiting.erase(m_waiting.begin());
  }
  if (CefRefPtr<CefPageMessageHandler> handler = m_browser.Client().GetPageMessageHandler())
    handler->OnPageMessage(m_browser.Browser(), id, CefString(text));
}

void PageMessages::Reply(int64_t id, bool success, const std::string& text) {
  QUILLO_REQUIRE_UI_THREAD();
  auto it = m_waiting.find(id);
  if (it == m_waiting.end()) {
    QLOG(u"BrowserImpl::ReplyToPageMessage => message [%d] is not waiting", static_cast<int>(id));
    return;
  }
  char sequence[32];
  std::snprintf(sequence, sizeof(sequence), "%.17g", it->second.sequence);
  const std::string script = "window[" + JsonString(m_replyFunction) + "]?.(" +
                             JsonString(it->second.token) + ", " + sequence + ", " +
                             (success ? "true" : "false") + ", " + JsonString(text) + ")";
  m_waiting.erase(it);
  webkit_web_view_run_javascript(
      m_browser.View(), script.c_str(), nullptr,
      [](GObject* view, GAsyncResult* result, gpointer) {
        WebKitJavascriptResult* value =
            webkit_web_view_run_javascript_finish(WEBKIT_WEB_VIEW(view), result, nullptr);
        if (value) webkit_javascript_result_unref(value);
      },
      nullptr);
}

}  // namespace quillo::engine
