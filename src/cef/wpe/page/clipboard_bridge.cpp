#include "wpe/page/clipboard_bridge.h"

#include <initializer_list>
#include <utility>
#include <vector>

#include "diagnostics/debug_log.h"
#include "platform/utf.h"
#include "wpe/page/page_messages.h"
#include "wpe/process/ui_thread.h"
#include "wpe/room/browser_side.h"

namespace quillo::engine {
namespace {

// The layer's own script world (shared with the input router's scripts).
constexpr char kScriptWorld[] = "quillo";
constexpr char kHandler[] = "quilloClipboard";
// A copy in progress: the pasteboard type that marks it until the engine writes its data.
constexpr char kMarkerPrefix[] = "application/x-quillo-copy-";

// In every frame, before the page's scripts, in the layer's world (the page cannot see it).
constexpr char kScript[] =
    "(() => {"
    "  const handler = webkit.messageHandlers.quilloClipboard;"
    "  const read = (data, type) => {"
    "    try { return (data && data.getData(type)) || ''; } catch (e) { return ''; }"
    "  };"
    // A trusted copy or cut: its start now (before the engine writes the pasteboard), its end
    // once the event is over (after the write). The page's own data is read at the very end of
    // the event, where the page's handlers have set it.
    "  for (const kind of ['copy', 'cut']) {"
    "    addEventListener(kind, e => {"
    "      if (!e.isTrusted) return;"
    "      const id = Math.random().toString(36).slice(2, 12) + Date.now().toString(36);"
    "      handler.postMessage(['begin', id]);"
    "      let data = null;"
    "      addEventListener(kind, last => {"
    "        if (last === e && e.defaultPrevented)"
    "          data = [read(e.clipboardData, 'text/plain'), read(e.clipboardData, 'text/html')];"
    "      }, {once: true});"
    "      setTimeout(() => handler.postMessage(['end', id, kind, e.defaultPrevented ? 1 : 0,"
    "          data ? 1 : 0, data ? data[0] : '', data ? data[1] : '']), 0);"
    "    }, true);"
    "  }"
    // The engine reads the pasteboard's UTF-8 bytes as Latin-1 characters: back to UTF-8.
    "  const decode = s => /^[\\x00-\\xff]*$/.test(s) && /[\\x80-\\xff]/.test(s)"
    "      ? new TextDecoder().decode(Uint8Array.from(s, c => c.charCodeAt(0))) : s;"
    // The element with the keyboard focus, through open shadow roots and same-origin frames.
    "  const focused = () => {"
    "    let doc = document, el = doc.activeElement;"
    "    for (;;) {"
    "      if (el && el.shadowRoot && el.shadowRoot.activeElement) {"
    "        el = el.shadowRoot.activeElement; continue;"
    "      }"
    "      if (el && (el.tagName === 'IFRAME' || el.tagName === 'FRAME')) {"
    "        let inner = null;"
    "        try { inner = el.contentDocument; } catch (e) {}"
    "        if (inner) { doc = inner; el = inner.activeElement; continue; }"
    "      }"
    "      return el || doc.body || doc.documentElement;"
    "    }"
    "  };"
    // A paste as the user's: the event, then (unless cancelled) the text where the focus is.
    "  const paste = (target, text, html) => {"
    "    if (!target) return;"
    "    const doc = target.ownerDocument || document;"
    "    const data = new DataTransfer();"
    "    data.setData('text/plain', text);"
    "    if (html) data.setData('text/html', html);"
    "    const event = new ClipboardEvent('paste', {bubbles: true, cancelable: true,"
    "        composed: true, clipboardData: data});"
    "    if (!target.dispatchEvent(event)) return;"
    "    const field = target.tagName === 'INPUT' || target.tagName === 'TEXTAREA';"
    "    if (!field && !target.isContentEditable) return;"
    "    const rich = !field && html && (doc.defaultView || window).getComputedStyle(target)"
    "        .webkitUserModify !== 'read-write-plaintext-only';"
    "    doc.execCommand(rich ? 'insertHTML' : 'insertText', false, rich ? html : text);"
    "  };"
    "  Object.defineProperty(globalThis, '__quilloPaste', {"
    "    value: (text, html) => paste(focused(), text, html)});"
    // The engine's own pastes are taken before the page sees them, and pasted right.
    "  addEventListener('paste', e => {"
    "    if (!e.isTrusted) return;"
    "    e.preventDefault();"
    "    e.stopImmediatePropagation();"
    "    const text = decode(read(e.clipboardData, 'text/plain'));"
    "    const html = decode(read(e.clipboardData, 'text/html'));"
    "    paste(e.target && e.target.nodeType === 1 ? e.target : focused(), text, html);"
    "  }, true);"
    "})();";

// ---- libwpe's pasteboard (one for the process, read and written on the UI thread) ----------

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries ReadPasteboard() {
  wpe_pasteboard* pasteboard = wpe_pasteboard_get_singleton();
  wpe_pasteboard_string_vector types{};
  wpe_pasteboard_get_types(pasteboard, &types);
  Entries entries;
  for (uint64_t i = 0; i < types.length; ++i) {
    std::string type(types.strings[i].data ? types.strings[i].data : "", types.strings[i].length);
    wpe_pasteboard_string value{};
    wpe_pasteboard_get_string(pasteboard, type.c_str(), &value);
    entries.emplace_back(std::move(type), std::string(value.data ? value.data : "", value.length));
    wpe_pasteboard_string_free(&value);
  }
  wpe_pasteboard_string_vector_free(&types);
  return entries;
}

// Replaces the pasteboard's contents with entries.
void WritePasteboard(const Entries& entries);

// What a copy put on the clipboard, under the engine's names for it (which its own pastes read)
// and the web's (which a page's paste handler reads; the engine names them only so).
void WriteClipboard(const std::string& text, const std::string& html) {
  Entries entries{{"text/plain;charset=utf-8", text}, {"text/plain", text}};
  if (!html.empty()) {
    entries.emplace_back("text/html;charset=utf-8", html);
    entries.emplace_back("text/html", html);
  }
  WritePasteboard(entries);
}

void WritePasteboard(const Entries& entries) {
  std::vector<wpe_pasteboard_string_pair> pairs(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    pairs[i] = {};
    wpe_pasteboard_string_initialize(&pairs[i].type, entries[i].first.data(),
                                     entries[i].first.size());
    wpe_pasteboard_string_initialize(&pairs[i].string, entries[i].second.data(),
                                     entries[i].second.size());
  }
  wpe_pasteboard_string_map map{pairs.data(), pairs.size()};
  wpe_pasteboard_write(wpe_pasteboard_get_singleton(), &map);
  for (wpe_pasteboard_string_pair& pair : pairs) {
    wpe_pasteboard_string_free(&pair.type);
    wpe_pasteboard_string_free(&pair.string);
  }
}

// The value of the first of types present (and not empty), else "".
std::string ValueOf(const Entries& entries, std::initializer_list<const char*> types) {
  for (const char* type : types)
    for (const auto& [name, value] : entries)
      if (name == type && !value.empty()) return value;
  return {};
}

std::string StringAt(JSCValue* array, guint index) {
  JSCValue* value = jsc_value_object_get_property_at_index(array, index);
  gchar* text = jsc_value_is_string(value) ? jsc_value_to_string(value) : nullptr;
  std::string result = text ? text : "";
  g_free(text);
  g_object_unref(value);
  return result;
}

int NumberAt(JSCValue* array, guint index) {
  JSCValue* value = jsc_value_object_get_property_at_index(array, index);
  const int result = jsc_value_is_number(value) ? jsc_value_to_int32(value) : 0;
  g_object_unref(value);
  return result;
}

// The copy script's ids: letters and digits only, short (a page cannot post to this handler,
// but nothing else may reach a pasteboard type).
bool ValidId(const std::string& id) {
  if (id.empty() || id.size() > 32) return false;
  for (char c : id)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

void OnReported(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self) {
  static_cast<ClipboardBridge*>(self)->Reported(webkit_javascript_result_get_js_value(result));
}

void RunInWorld(WebKitWebView* view, const std::string& script) {
  webkit_web_view_run_javascript_in_world(
      view, script.c_str(), kScriptWorld, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer) {
        GError* error = nullptr;
        WebKitJavascriptResult* value =
            webkit_web_view_run_javascript_in_world_finish(WEBKIT_WEB_VIEW(source), result, &error);
        if (value) webkit_javascript_result_unref(value);
        if (error) {
          QLOG(u"ClipboardBridge => the paste did not run: %s",
               platform::Utf8ToUtf16(error->message).c_str());
          g_error_free(error);
        }
      },
      nullptr);
}

}  // namespace

void ClipboardBridge::Attach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(view);
  webkit_user_content_manager_register_script_message_handler_in_world(content, kHandler,
                                                                       kScriptWorld);
  g_signal_connect(content, "script-message-received::quilloClipboard", G_CALLBACK(OnReported),
                   this);
  WebKitUserScript* script = webkit_user_script_new_for_world(
      kScript, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
      kScriptWorld, nullptr, nullptr);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);
}

void ClipboardBridge::Detach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(view), this);
}

void ClipboardBridge::Copy() {
  QUILLO_REQUIRE_UI_THREAD();
  webkit_web_view_execute_editing_command(m_browser.View(), WEBKIT_EDITING_COMMAND_COPY);
}

void ClipboardBridge::Cut() {
  QUILLO_REQUIRE_UI_THREAD();
  webkit_web_view_execute_editing_command(m_browser.View(), WEBKIT_EDITING_COMMAND_CUT);
}

void ClipboardBridge::Paste() {
  QUILLO_REQUIRE_UI_THREAD();
  webkit_web_view_execute_editing_command(m_browser.View(), WEBKIT_EDITING_COMMAND_PASTE);
}

void ClipboardBridge::PasteText(const std::string& text, const std::string& html) {
  QUILLO_REQUIRE_UI_THREAD();
  RunInWorld(m_browser.View(), "typeof __quilloPaste === 'function' && __quilloPaste(" +
                                   JsonString(text) + ", " + JsonString(html) + ");");
}

void ClipboardBridge::Reported(JSCValue* report) {
  QUILLO_REQUIRE_UI_THREAD();
  if (!jsc_value_is_array(report)) return;
  const std::string step = StringAt(report, 0);
  const std::string id = StringAt(report, 1);
  if (!ValidId(id)) return;
  const std::string marker = kMarkerPrefix + id;
  Entries entries = ReadPasteboard();
  if (step == "begin") {
    // Whatever is there stays (a paste meanwhile gets it); the marker goes when the engine
    // writes, which replaces the whole pasteboard.
    entries.emplace_back(marker, "1");
    WritePasteboard(entries);
    return;
  }
  if (step != "end") return;
  const bool cut = StringAt(report, 2) == "cut";
  const bool prevented = NumberAt(report, 3) != 0;
  const bool pageData = NumberAt(report, 4) != 0;
  std::string text = StringAt(report, 5);
  std::string html = StringAt(report, 6);
  if (prevented && pageData && !(text.empty() && html.empty())) {
    // The page's own data, whole.
    WriteClipboard(text, html);
  } else {
    bool marked = false;
    for (auto it = entries.begin(); it != entries.end();) {
      if (it->first == marker) {
        marked = true;
        it = entries.erase(it);
      } else {
        ++it;
      }
    }
    if (marked) {
      // Nothing was written (nothing selected, or the page cancelled it and set nothing).
      WritePasteboard(entries);
      return;
    }
    text = ValueOf(entries, {"text/plain;charset=utf-8", "text/plain"});
    html = ValueOf(entries, {"text/html;charset=utf-8", "text/html"});
    if (text.empty() && html.empty()) return;
    WriteClipboard(text, html);
  }
  if (m_browser.ViewGone()) return;
  CefRefPtr<CefClipboardHandler> handler = m_browser.Client().GetClipboardHandler();
  if (handler)
    handler->OnClipboardWrite(m_browser.Browser(), cut, CefString(text), CefString(html));
}

}  // namespace quillo::engine
