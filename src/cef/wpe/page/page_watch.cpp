#include "wpe/page/page_watch.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "diagnostics/debug_log.h"
#include "wpe/process/ui_thread.h"
#include "wpe/room/browser_side.h"
#include "wpe/room/frame_impl.h"

namespace quillo::engine {
namespace {

// The layer's own script world (shared with the other rooms' scripts).
constexpr char kScriptWorld[] = "quillo";
constexpr char kHandler[] = "quilloPageWatch";
// The most bytes of an editable element's text the render handler is told.
constexpr size_t kMaxSurroundingBytes = 2048;

// In the main frame, before the page's scripts, in the layer's world (the page cannot see it or
// post to its handler). Also run once a load has finished, for a document it was not put in;
// it watches a document once.
constexpr char kScript[] = R"JS((() => {
  if (globalThis.__quilloWatch) return;
  Object.defineProperty(globalThis, '__quilloWatch', {value: true});
  const post = message => {
    try { webkit.messageHandlers.quilloPageWatch.postMessage(message); } catch (e) {}
  };

  // Ready: after the load event, once the web fonts are in and every image that is to show (all
  // but lazy ones out of view) is loaded and decoded, again until nothing new came meanwhile;
  // then two animation frames, so that the frame showing them has been painted.
  const inView = img => {
    const r = img.getBoundingClientRect();
    return r.bottom >= 0 && r.right >= 0 && r.top <= innerHeight && r.left <= innerWidth;
  };
  const wanted = () => Array.from(document.images).filter(i => i.loading !== 'lazy' || inView(i));
  const settled = img => img.complete ? Promise.resolve() : new Promise(done => {
    img.addEventListener('load', done, {once: true});
    img.addEventListener('error', done, {once: true});
  });
  const ready = async () => {
    for (;;) {
      if (document.body) void document.body.offsetHeight;  // layout asks for the fonts it uses
      await document.fonts.ready;
      await Promise.all(wanted().map(i => settled(i).then(
          () => i.naturalWidth ? i.decode().catch(() => {}) : null)));
      if (document.body) void document.body.offsetHeight;
      if (document.fonts.status === 'loaded' && wanted().every(i => i.complete)) break;
      await new Promise(next => setTimeout(next, 50));  // a new font or image: look again soon
    }
    requestAnimationFrame(() => requestAnimationFrame(() => post(['ready', location.href])));
  };
  // Painted: two animation frames after the load event, the frame of the loaded page has been
  // painted (whatever its fonts and images).
  const loaded = () => {
    requestAnimationFrame(() => requestAnimationFrame(() => post(['painted'])));
    ready();
  };
  // After the page's own load handlers, which may still add images.
  if (document.readyState === 'complete') loaded();
  else addEventListener('load', () => setTimeout(loaded, 0), {once: true});

  // The editable element with the focus: told when it gains it (once the event is over, so that
  // the caret and the scroll that brings it into view are in place) and when it loses it.
  const textTypes = ['text', 'search', 'url', 'tel', 'email', 'password', 'number'];
  const kindOf = el => {
    if (!el || el.nodeType !== 1) return '';
    if (el.localName === 'input') {
      const type = (el.type || 'text').toLowerCase();
      return textTypes.includes(type) && !el.readOnly && !el.disabled ? type : '';
    }
    if (el.localName === 'textarea') return el.readOnly || el.disabled ? '' : 'textarea';
    return el.isContentEditable ? 'contenteditable' : '';
  };
  const active = () => {
    let el = document.activeElement;
    while (el && el.shadowRoot && el.shadowRoot.activeElement) el = el.shadowRoot.activeElement;
    return el;
  };
  const span = 256;  // UTF-16 units either side of the caret
  const around = (el, kind) => {
    if (kind === 'password') return ['', 0];
    let text = '', caret = 0;
    if (kind === 'contenteditable') {
      const all = document.createRange();
      all.selectNodeContents(el);
      text = all.toString();
      caret = text.length;
      const s = getSelection();
      if (s && s.rangeCount && el.contains(s.focusNode)) {
        const before = document.createRange();
        before.selectNodeContents(el);
        before.setEnd(s.focusNode, s.focusOffset);
        caret = before.toString().length;
      }
    } else {
      text = String(el.value || '');
      caret = typeof el.selectionEnd === 'number' ? el.selectionEnd : text.length;
    }
    const low = c => c >= 0xdc00 && c <= 0xdfff;
    let from = Math.max(0, caret - span), to = Math.min(text.length, caret + span);
    if (from > 0 && low(text.charCodeAt(from))) ++from;  // never half a surrogate pair
    if (to < text.length && low(text.charCodeAt(to))) --to;
    return [text.slice(from, to), Array.from(text.slice(from, caret)).length];
  };
  const tell = (el, kind, focused) => {
    const r = el.getBoundingClientRect();
    const [text, caret] = focused ? around(el, kind) : ['', 0];
    const mode = typeof el.inputMode === 'string' ? el.inputMode
        : String(el.getAttribute('inputmode') || '').toLowerCase();
    post(['editable', focused ? 1 : 0, kind, mode, r.left, r.top, r.width, r.height, text, caret]);
  };
  let current = null, kind = '', untold = false, observer = null;
  const flush = () => {
    if (!untold) return;
    untold = false;
    tell(current, kind, true);
  };
  const lose = () => {
    if (!current) return;
    flush();
    const el = current;
    current = null;
    observer.disconnect();
    tell(el, kind, false);
  };
  addEventListener('focus', e => {
    if (e.target === window) return;
    const el = active();
    if (el === current) return;
    lose();
    const k = kindOf(el);
    if (!k) return;
    current = el, kind = k, untold = true;
    setTimeout(flush, 0);
    // A focused element taken out of the document loses the focus without a blur.
    observer = observer || new MutationObserver(() => { if (current && !current.isConnected) lose(); });
    observer.observe(document, {childList: true, subtree: true});
  }, true);
  addEventListener('blur', e => {
    if (e.target === window || !current) return;
    if (active() !== current || e.composedPath()[0] === current) lose();
  }, true);
})();)JS";

PageWatch* Watch(gpointer self) {
  return static_cast<PageWatch*>(self);
}

void OnReported(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self) {
  Watch(self)->Reported(webkit_javascript_result_get_js_value(result));
}

void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
  Watch(self)->LoadChanged(event);
}

JSCValue* At(JSCValue* array, guint index) {
  return jsc_value_object_get_property_at_index(array, index);
}

std::string StringAt(JSCValue* array, guint index) {
  JSCValue* value = At(array, index);
  gchar* text = jsc_value_is_string(value) ? jsc_value_to_string(value) : nullptr;
  std::string result = text ? text : "";
  g_free(text);
  g_object_unref(value);
  return result;
}

double NumberAt(JSCValue* array, guint index) {
  JSCValue* value = At(array, index);
  const double result = jsc_value_is_number(value) ? jsc_value_to_double(value) : 0;
  g_object_unref(value);
  return std::isfinite(result) ? result : 0;
}

// text as valid UTF-8 of at most kMaxSurroundingBytes, cut at a character's start.
std::string BoundedText(const std::string& text) {
  gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string result = valid;
  g_free(valid);
  if (result.size() > kMaxSurroundingBytes) {
    size_t cut = kMaxSurroundingBytes;
    while (cut > 0 && (static_cast<unsigned char>(result[cut]) & 0xC0) == 0x80) --cut;
    result.resize(cut);
  }
  return result;
}

// A short ASCII word of the script's (a type or an input mode), or "".
std::string Word(const std::string& text) {
  if (text.size() > 32) return {};
  for (char c : text)
    if (!((c >= 'a' && c <= 'z') || c == '-')) return {};
  return text;
}

}  // namespace

void PageWatch::Attach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(view);
  webkit_user_content_manager_register_script_message_handler_in_world(content, kHandler,
                                                                       kScriptWorld);
  g_signal_connect(content, "script-message-received::quilloPageWatch", G_CALLBACK(OnReported),
                   this);
  WebKitUserScript* script = webkit_user_script_new_for_world(
      kScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
      kScriptWorld, nullptr, nullptr);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);
  g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChanged), this);
}

void PageWatch::Detach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(view), this);
  g_signal_handlers_disconnect_by_data(view, this);
}

void PageWatch::ProcessGone() {
  QUILLO_REQUIRE_UI_THREAD();
  LoseEditable();
  m_loaded = m_readyHeard = false;
}

void PageWatch::LoadChanged(WebKitLoadEvent event) {
  QUILLO_REQUIRE_UI_THREAD();
  if (event == WEBKIT_LOAD_COMMITTED) {
    // A new document: the focus of the one before is gone, and readiness is its own.
    LoseEditable();
    m_loaded = m_readyHeard = m_readyTold = false;
    return;
  }
  if (event != WEBKIT_LOAD_FINISHED) return;
  m_loaded = true;
  // A document the user script did not reach (the engine's first empty one) is watched from
  // now on; one it reached is left as it is.
  webkit_web_view_run_javascript_in_world(
      m_browser.View(), kScript, kScriptWorld, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer) {
        WebKitJavascriptResult* value = webkit_web_view_run_javascript_in_world_finish(
            WEBKIT_WEB_VIEW(source), result, nullptr);
        if (value) webkit_javascript_result_unref(value);
      },
      nullptr);
  MaybeReady();
}

void PageWatch::Reported(JSCValue* report) {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_browser.ViewGone() || !jsc_value_is_array(report)) return;
  const std::string what = StringAt(report, 0);
  if (what == "painted" || what == "ready") {
    if (m_onPainted) m_onPainted();
  }
  if (what == "ready") {
    m_readyHeard = true;
    m_readyUrl = StringAt(report, 1);
    MaybeReady();
    return;
  }
  if (what != "editable") return;
  CefEditableInfo info;
  info.focused = NumberAt(report, 1) != 0;
  info.type = CefString(Word(StringAt(report, 2)));
  info.input_mode = CefString(Word(StringAt(report, 3)));
  // CSS pixels of the page's viewport; the view's coordinates have the zoom applied.
  const double zoom = webkit_web_view_get_zoom_level(m_browser.View());
  info.x = NumberAt(report, 4) * zoom;
  info.y = NumberAt(report, 5) * zoom;
  info.width = std::max(0.0, NumberAt(report, 6)) * zoom;
  info.height = std::max(0.0, NumberAt(report, 7)) * zoom;
  const std::string text = BoundedText(StringAt(report, 8));
  const glong characters = g_utf8_strlen(text.c_str(), static_cast<gssize>(text.size()));
  info.surrounding_text = CefString(text);
  info.caret = static_cast<int>(std::clamp<double>(NumberAt(report, 9), 0, characters));
  // A loss of an element that was never told (its document went first) is not news.
  if (!info.focused && !m_editable.focused) return;
  Editable(info);
}

void PageWatch::Editable(const CefEditableInfo& info) {
  m_editable = info;
  CefRefPtr<CefRenderHandler> render = m_browser.Client().GetRenderHandler();
  if (render) render->OnFocusedEditableChanged(m_browser.Browser(), info);
}

void PageWatch::LoseEditable() {
  if (!m_editable.focused || m_browser.ViewGone()) return;
  CefEditableInfo lost = m_editable;
  lost.focused = false;
  lost.surrounding_text = CefString();
  lost.caret = 0;
  Editable(lost);
}

void PageWatch::MaybeReady() {
  if (!m_loaded || !m_readyHeard || m_readyTold || m_browser.ViewGone()) return;
  m_readyTold = true;
  QLOG(u"BrowserImpl => the page is ready");
  if (CefRefPtr<CefLoadHandler> load = m_browser.Client().GetLoadHandler())
    load->OnPageReady(m_browser.Browser(), &m_browser.MainFrame(), CefString(m_readyUrl));
}

}  // namespace quillo::engine
