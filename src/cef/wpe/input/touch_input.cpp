#include "wpe/input/touch_input.h"

#include <wpe/wpe.h>

#include <cstdio>
#include <vector>

#include "diagnostics/debug_log.h"
#include "platform/utf.h"
#include "wpe/input/key_mapper.h"
#include "wpe/process/ui_thread.h"
#include "wpe/room/browser_side.h"

namespace quillo::engine {
namespace {

// The layer's own script world (shared with the input router's scripts).
constexpr char kScriptWorld[] = "quillo";

// In every frame, before the page's scripts, in the layer's world. From each trusted touch event
// (at the window, before the page's own listeners) it fires the pointer events of the points
// that changed, as a browser does for a touch screen: for a press pointerover, pointerenter
// (outermost element first) and pointerdown at the point's target; for a move pointermove; for
// a release pointerup, lostpointercapture, pointerout and pointerleave (innermost first). A
// touch's pointer is captured by its target: gotpointercapture comes before the first event after
// pointerdown, and the events after it go to the target wherever the finger is.
// __quilloTouchCancel(id) cancels a point down: pointercancel and the same ending, then
// touchcancel.
constexpr char kScript[] =
    "(() => {"
    "  const pointers = new Map();"  // touch id -> {pointerId, target, primary, captured, touch}
    "  let nextPointer = 2, down = [];"
    "  const chain = t => { const out = []; for (let n = t; n && n.nodeType === 1;"
    "      n = n.parentNode || (n.host || null)) out.push(n); return out; };"
    "  const mods = e => ({ctrlKey: e.ctrlKey, shiftKey: e.shiftKey, altKey: e.altKey,"
    "      metaKey: e.metaKey});"
    "  const fire = (type, p, t, target, m, buttons) => {"
    "    const boundary = type === 'pointerenter' || type === 'pointerleave';"
    "    const cancelable = !boundary && type !== 'pointercancel' &&"
    "        !type.endsWith('pointercapture');"
    "    target.dispatchEvent(new PointerEvent(type, Object.assign({bubbles: !boundary,"
    "        cancelable, composed: !boundary, view: window, pointerId: p.pointerId,"
    "        pointerType: 'touch', isPrimary: p.primary, clientX: t.clientX, clientY: t.clientY,"
    "        screenX: t.screenX, screenY: t.screenY, width: 1, height: 1,"
    "        pressure: buttons ? 0.5 : 0, button: type === 'pointerdown' || type === 'pointerup'"
    "        ? 0 : -1, buttons}, m)));"
    "  };"
    "  const capture = (p, t, m, buttons) => {"
    "    if (!p.captured) { p.captured = true; fire('gotpointercapture', p, t, p.target, m,"
    "        buttons); }"
    "  };"
    "  const end = (p, t, m, cancelled) => {"
    "    capture(p, t, m, 0);"
    "    fire(cancelled ? 'pointercancel' : 'pointerup', p, t, p.target, m, 0);"
    "    fire('lostpointercapture', p, t, p.target, m, 0);"
    "    fire('pointerout', p, t, p.target, m, 0);"
    "    for (const n of chain(p.target)) fire('pointerleave', p, t, n, m, 0);"
    "  };"
    "  const follow = e => {"
    "    if (!e.isTrusted) return;"
    "    const m = mods(e);"
    "    for (const t of e.changedTouches) {"
    "      let p = pointers.get(t.identifier);"
    "      if (e.type === 'touchstart') {"
    "        p = {pointerId: nextPointer++, target: t.target, primary: pointers.size === 0,"
    "             captured: false, touch: t};"
    "        pointers.set(t.identifier, p);"
    "        fire('pointerover', p, t, p.target, m, 1);"
    "        for (const n of chain(p.target).reverse()) fire('pointerenter', p, t, n, m, 1);"
    "        fire('pointerdown', p, t, p.target, m, 1);"
    "        continue;"
    "      }"
    "      if (!p) continue;"
    "      p.touch = t;"
    "      if (e.type === 'touchmove') {"
    "        capture(p, t, m, 1);"
    "        fire('pointermove', p, t, p.target, m, 1);"
    "      } else {"
    "        pointers.delete(t.identifier);"
    "        end(p, t, m, false);"
    "      }"
    "    }"
    "    down = [...e.touches];"
    "  };"
    "  for (const type of ['touchstart', 'touchmove', 'touchend'])"
    "    addEventListener(type, follow, {capture: true, passive: true});"
    // A tap the page did not cancel: the engine then clicks where the finger was, and fires the
    // pointer events of that mouse (pointerType "mouse") too, which a browser does not; a page
    // listening to pointer events would take the tap twice. They are stopped here, for a second
    // after the last finger lifted, at the place it lifted.
    "  let tap = null;"
    "  addEventListener('touchend', e => {"
    "    if (!e.isTrusted || e.touches.length) return;"
    "    const t = e.changedTouches[0];"
    "    tap = {x: t.clientX, y: t.clientY, until: performance.now() + 1000};"
    "  }, {capture: true, passive: true});"
    "  for (const type of ['pointerover', 'pointerenter', 'pointermove', 'pointerdown',"
    "                      'pointerup', 'pointerout', 'pointerleave'])"
    "    addEventListener(type, e => {"
    "      if (!tap || !e.isTrusted || e.pointerType !== 'mouse') return;"
    "      if (performance.now() > tap.until) { tap = null; return; }"
    "      if (e.clientX !== tap.x || e.clientY !== tap.y) return;"
    "      e.stopImmediatePropagation();"
    "      if (type === 'pointerup') tap = null;"
    "    }, true);"
    "  const cancel = id => {"
    "    const p = pointers.get(id);"
    "    if (!p) return false;"
    "    pointers.delete(id);"
    "    const t = p.touch, m = {};"
    "    end(p, t, m, true);"
    "    down = down.filter(d => d.identifier !== id);"
    "    const on = down.filter(d => d.target === p.target);"
    // (This engine's TouchEvent takes TouchLists only.)
    "    const list = a => document.createTouchList(...a);"
    "    p.target.dispatchEvent(new TouchEvent('touchcancel', {bubbles: true, cancelable: false,"
    "        composed: true, view: window, touches: list(down), targetTouches: list(on),"
    "        changedTouches: list([t])}));"
    "    return true;"
    "  };"
    // The cancel of a point reaches the frame whose page has it: this one, or one within.
    "  Object.defineProperty(globalThis, '__quilloTouchCancel', {value: id => {"
    "    if (cancel(id)) return true;"
    "    for (let i = 0; i < frames.length; i++) {"
    "      try { if (frames[i].__quilloTouchCancel(id)) return true; } catch (e) {}"
    "    }"
    "    return false;"
    "  }});"
    "})();";

void RunInWorld(WebKitWebView* view, const char* script) {
  webkit_web_view_run_javascript_in_world(
      view, script, kScriptWorld, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer) {
        GError* error = nullptr;
        WebKitJavascriptResult* value =
            webkit_web_view_run_javascript_in_world_finish(WEBKIT_WEB_VIEW(source), result, &error);
        if (value) webkit_javascript_result_unref(value);
        if (error) {
          QLOG(u"TouchInput => the touch cancel did not run: %s",
               platform::Utf8ToUtf16(error->message).c_str());
          g_error_free(error);
        }
      },
      nullptr);
}

}  // namespace

void TouchInput::Attach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  WebKitUserScript* script = webkit_user_script_new_for_world(
      kScript, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
      kScriptWorld, nullptr, nullptr);
  webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(view), script);
  webkit_user_script_unref(script);
}

void TouchInput::Detach(WebKitWebView*) {
  QUILLO_REQUIRE_UI_THREAD();
  m_down.clear();
}

void TouchInput::Send(const CefTouchEvent& event) {
  QUILLO_REQUIRE_UI_THREAD();
  if (event.pointer_type != CEF_POINTER_TYPE_TOUCH) {
    QLOG(u"SendTouchEvent => pointer type %d is not touch: dropped",
         static_cast<int>(event.pointer_type));
    return;
  }
  const int x = static_cast<int>(event.x), y = static_cast<int>(event.y);
  const auto found = m_down.find(event.id);
  switch (event.type) {
    case CEF_TET_PRESSED:
      if (found != m_down.end()) {
        QLOG(u"SendTouchEvent => point %d is down already: the press is dropped", event.id);
        return;
      }
      if (m_down.size() >= kMaxPoints) {
        QLOG(u"SendTouchEvent => %d points are down already: the press of %d is dropped",
             static_cast<int>(m_down.size()), event.id);
        return;
      }
      m_down[event.id] = {x, y};
      Dispatch(event.id, wpe_input_touch_event_type_down, event.modifiers);
      return;
    case CEF_TET_MOVED:
    case CEF_TET_RELEASED:
    case CEF_TET_CANCELLED:
      break;
    default:
      QLOG(u"SendTouchEvent => unknown type %d: dropped", static_cast<int>(event.type));
      return;
  }
  if (found == m_down.end()) {
    QLOG(u"SendTouchEvent => point %d is not down: its %s is dropped", event.id,
         event.type == CEF_TET_MOVED      ? u"move"
         : event.type == CEF_TET_RELEASED ? u"release"
                                          : u"cancel");
    return;
  }
  if (event.type == CEF_TET_CANCELLED) {
    // The engine's input has no cancel: the point goes without a release, and the layer's
    // script cancels it in the page.
    m_down.erase(found);
    char script[96];
    std::snprintf(script, sizeof script,
                  "typeof __quilloTouchCancel === 'function' && __quilloTouchCancel(%d)", event.id);
    RunInWorld(m_browser.View(), script);
    return;
  }
  found->second = {x, y};
  Dispatch(event.id,
           event.type == CEF_TET_MOVED ? wpe_input_touch_event_type_motion
                                       : wpe_input_touch_event_type_up,
           event.modifiers);
  if (event.type == CEF_TET_RELEASED) m_down.erase(event.id);
}

void TouchInput::Dispatch(int changedId, int type, uint32_t modifiers) {
  const uint32_t time = static_cast<uint32_t>(g_get_monotonic_time() / 1000);
  std::vector<wpe_input_touch_event_raw> points;
  points.reserve(m_down.size());
  for (const auto& [id, point] : m_down) {
    wpe_input_touch_event_raw raw{};
    // The engine marks the point that changed by the event's id; the others stand still, but
    // a point of type null would be left out of the page's touches.
    raw.type = id == changedId ? static_cast<wpe_input_touch_event_type>(type)
                               : wpe_input_touch_event_type_motion;
    raw.time = time;
    raw.id = id;
    raw.x = point.x;
    raw.y = point.y;
    points.push_back(raw);
  }
  wpe_input_touch_event touch{};
  touch.touchpoints = points.data();
  touch.touchpoints_length = points.size();
  touch.type = static_cast<wpe_input_touch_event_type>(type);
  touch.id = changedId;
  touch.time = time;
  touch.modifiers = KeyMapper::EngineModifiers(modifiers);
  wpe_view_backend_dispatch_touch_event(
      webkit_web_view_backend_get_wpe_backend(webkit_web_view_get_backend(m_browser.View())),
      &touch);
}

}  // namespace quillo::engine
