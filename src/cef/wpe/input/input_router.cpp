#include "wpe/input/input_router.h"

#include "wpe/input/popup_controller.h"
#include "wpe/process/ui_thread.h"
#include "wpe/room/browser_side.h"
#include "wpe/room/webkit_mapping.h"

namespace quillo::engine {
namespace {

uint32_t NowMs() {
  return static_cast<uint32_t>(g_get_monotonic_time() / 1000);
}

void OnMouseTargetChanged(WebKitWebView*, WebKitHitTestResult* hit, guint, gpointer self) {
  static_cast<InputRouter*>(self)->UpdateCursor(hit);
}

// This engine build does not select text while the mouse is dragged (its
// pointer moves carry no button to the selection code). A small script in a
// world of the layer's own does it from the page's mouse events, which keeps
// their order; it adds nothing to the page's script world, and editable
// fields keep the engine's own handling.
void AddDragSelection(WebKitWebView* view) {
  static const char kScript[] =
      "(() => {"
      "  let start = null;"
      "  const editable = n => {"
      "    const el = n && (n.nodeType === Node.TEXT_NODE ? n.parentElement : n);"
      "    return !el || el.isContentEditable || !!el.closest('input, textarea, select');"
      "  };"
      // The text position under a point. Past the end of a line the engine
      // answers the line's start; then the caret closest to the point wins.
      "  const at = (x, y) => {"
      "    const r = document.caretRangeFromPoint(x, y);"
      "    if (!r) return null;"
      "    const n = r.startContainer;"
      "    if (n.nodeType !== Node.TEXT_NODE || n.length > 4096) return [n, r.startOffset];"
      "    const probe = document.createRange();"
      "    let best = r.startOffset, dist = Infinity;"
      "    for (let i = 0; i <= n.length; i++) {"
      "      probe.setStart(n, i); probe.setEnd(n, i);"
      "      const q = probe.getClientRects()[0];"
      "      if (!q || y < q.top || y > q.bottom) continue;"
      "      const d = Math.abs(q.left - x);"
      "      if (d < dist) { dist = d; best = i; }"
      "    }"
      "    return [n, best];"
      "  };"
      "  addEventListener('mousedown', e => {"
      "    start = null;"
      "    if (e.button !== 0 || e.detail > 1 || e.shiftKey) return;"
      "    const p = at(e.clientX, e.clientY);"
      "    if (p && !editable(p[0])) start = p;"
      "  }, true);"
      "  addEventListener('mousemove', e => {"
      "    if (!start || !(e.buttons & 1)) return;"
      "    const p = at(e.clientX, e.clientY);"
      "    if (p) getSelection().setBaseAndExtent(start[0], start[1], p[0], p[1]);"
      "  }, true);"
      "  addEventListener('mouseup', e => { if (e.button === 0) start = null; }, true);"
      "})();";
  WebKitUserScript* script = webkit_user_script_new_for_world(
      kScript, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
      "quillo", nullptr, nullptr);
  webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(view), script);
  webkit_user_script_unref(script);
}

}  // namespace

void InputRouter::Attach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  AddDragSelection(view);
  g_signal_connect(view, "mouse-target-changed", G_CALLBACK(OnMouseTargetChanged), this);
}

void InputRouter::Detach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  g_signal_handlers_disconnect_by_data(view, this);
}

wpe_view_backend* InputRouter::Backend() const {
  return webkit_web_view_backend_get_wpe_backend(webkit_web_view_get_backend(m_browser.View()));
}

void InputRouter::DispatchKey(const KeyAction& action) {
  wpe_input_keyboard_event key{};
  key.time = NowMs();
  key.key_code = action.keysym;
  key.hardware_key_code = action.hardwareKeyCode;
  key.pressed = action.pressed;
  key.modifiers = action.modifiers;
  wpe_view_backend_dispatch_keyboard_event(Backend(), &key);
}

void InputRouter::DispatchPointer(wpe_input_pointer_event& event) {
  event.time = NowMs();
  wpe_view_backend_dispatch_pointer_event(Backend(), &event);
}

void InputRouter::Key(const CefKeyEvent& event) {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_popup.TakesKey(event)) return;
  KeyAction actions[KeyMapper::kMaxActions];
  const int count = m_keys.Map(event, actions);
  for (int i = 0; i < count; ++i) DispatchKey(actions[i]);
  // A text key waits for its CHAR until the work queued now is done.
  if (m_keys.HasPending()) {
    m_browser.Post([this, serial = m_keys.PendingSerial()] {
      KeyAction press[1];
      if (m_keys.FlushPending(serial, press) == 1) DispatchKey(press[0]);
    });
  }
}

void InputRouter::Click(const CefMouseEvent& event, CefBrowserHost::MouseButtonType type,
                        bool mouseUp) {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_popup.TakesClick(event, type, mouseUp)) return;
  wpe_input_pointer_event pointer{};
  pointer.type = wpe_input_pointer_event_type_button;
  pointer.x = event.x;
  pointer.y = event.y;
  pointer.button = type == MBT_LEFT ? 1 : type == MBT_RIGHT ? 2 : 3;
  pointer.state = mouseUp ? 0 : 1;
  const uint32_t held = type == MBT_LEFT    ? wpe_input_pointer_modifier_button1
                        : type == MBT_RIGHT ? wpe_input_pointer_modifier_button2
                                            : wpe_input_pointer_modifier_button3;
  pointer.modifiers = mouseUp ? 0 : held;
  DispatchPointer(pointer);
}

void InputRouter::Move(const CefMouseEvent& event) {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_popup.TakesMove(event)) return;
  wpe_input_pointer_event pointer{};
  pointer.type = wpe_input_pointer_event_type_motion;
  pointer.x = event.x;
  pointer.y = event.y;
  if (event.modifiers & EVENTFLAG_LEFT_MOUSE_BUTTON) {
    pointer.button = 1;
    pointer.state = 1;
    pointer.modifiers = wpe_input_pointer_modifier_button1;
  }
  DispatchPointer(pointer);
}

void InputRouter::Wheel(const CefMouseEvent& event, int deltaX, int deltaY) {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_popup.TakesWheel()) return;
  wpe_input_axis_2d_event axis{};
  axis.base.type = static_cast<wpe_input_axis_event_type>(wpe_input_axis_event_type_mask_2d |
                                                          wpe_input_axis_event_type_motion_smooth);
  axis.base.time = NowMs();
  axis.base.x = event.x;
  axis.base.y = event.y;
  // Both count positive away from the user (scrolling up), in pixels.
  axis.x_axis = static_cast<double>(deltaX);
  axis.y_axis = static_cast<double>(deltaY);
  wpe_view_backend_dispatch_axis_event(Backend(), &axis.base);
}

void InputRouter::Focus(bool focus) {
  QUILLO_REQUIRE_UI_THREAD();
  if (!focus) {
    m_popup.CloseMenu();
    wpe_view_backend_remove_activity_state(Backend(), wpe_view_activity_state_focused);
    return;
  }
  CefRefPtr<CefFocusHandler> handler = m_browser.Client().GetFocusHandler();
  if (handler && handler->OnSetFocus(m_browser.Browser(), FOCUS_SOURCE_SYSTEM)) return;  // refused
  wpe_view_backend_add_activity_state(Backend(), wpe_view_activity_state_focused);
  if (handler) handler->OnGotFocus(m_browser.Browser());
}

void InputRouter::UpdateCursor(WebKitHitTestResult* hit) {
  QUILLO_REQUIRE_UI_THREAD();
  const int cursor = CursorOf(hit);
  if (cursor == m_cursor) return;
  m_cursor = cursor;
  if (CefRefPtr<CefRenderHandler> render = m_browser.Client().GetRenderHandler())
    render->OnCursorChange(m_browser.Browser(), nullptr, static_cast<cef_cursor_type_t>(cursor),
                           CefCursorInfo());
}

}  // namespace quillo::engine
