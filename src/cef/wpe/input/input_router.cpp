#include "wpe/input/input_router.h"

#include <cstdio>

#include "diagnostics/debug_log.h"
#include "diagnostics/stage_trace.h"
#include "wpe/input/popup_controller.h"
#include "wpe/process/ui_thread.h"
#include "wpe/room/browser_side.h"
#include "wpe/room/webkit_mapping.h"

namespace quillo::engine {
namespace {

// The layer's own script world, where its scripts run apart from the page's.
constexpr char kScriptWorld[] = "quillo";

uint32_t NowMs() {
  return static_cast<uint32_t>(g_get_monotonic_time() / 1000);
}

// The engine's numbers for CEF's buttons: 1 left, 2 right, 3 middle.
uint32_t EngineButton(CefBrowserHost::MouseButtonType type) {
  return type == MBT_LEFT ? 1 : type == MBT_RIGHT ? 2 : 3;
}

uint32_t ButtonModifier(CefBrowserHost::MouseButtonType type) {
  return type == MBT_LEFT    ? wpe_input_pointer_modifier_button1
         : type == MBT_RIGHT ? wpe_input_pointer_modifier_button2
                             : wpe_input_pointer_modifier_button3;
}

// The engine's held-button bits for CEF's EVENTFLAG_*_MOUSE_BUTTON.
uint32_t HeldButtons(uint32_t flags) {
  uint32_t held = 0;
  if (flags & EVENTFLAG_LEFT_MOUSE_BUTTON) held |= wpe_input_pointer_modifier_button1;
  if (flags & EVENTFLAG_RIGHT_MOUSE_BUTTON) held |= wpe_input_pointer_modifier_button2;
  if (flags & EVENTFLAG_MIDDLE_MOUSE_BUTTON) held |= wpe_input_pointer_modifier_button3;
  return held;
}

// MouseEvent.button: 0 left, 1 middle, 2 right.
int DomButtonNumber(CefBrowserHost::MouseButtonType type) {
  return type == MBT_LEFT ? 0 : type == MBT_MIDDLE ? 1 : 2;
}

// Every frame reports each release it got (button, clientX, clientY, whether it is the main
// frame) to the layer's message handler: keys wait for the releases sent before them, and a
// double click's release in the main frame is answered with the "dblclick" the engine leaves
// out (with the release's modifiers).
constexpr char kReleaseHandler[] = "quilloRelease";

void OnReleaseReported(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self) {
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  if (!jsc_value_is_array(value)) return;
  double parts[4] = {};
  for (guint i = 0; i < 4; ++i) {
    JSCValue* part = jsc_value_object_get_property_at_index(value, i);
    parts[i] = jsc_value_is_number(part) ? jsc_value_to_double(part) : 0;
    g_object_unref(part);
  }
  static_cast<InputRouter*>(self)->Released(static_cast<int>(parts[0]), parts[1], parts[2],
                                            parts[3] != 0);
}

// Adds script to every frame of view, in the layer's script world, with the message handler
// named handler that it reports to.
void AddReportingScript(WebKitWebView* view, const char* handler, const char* source) {
  WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(view);
  webkit_user_content_manager_register_script_message_handler_in_world(content, handler,
                                                                       kScriptWorld);
  WebKitUserScript* script = webkit_user_script_new_for_world(
      source, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
      kScriptWorld, nullptr, nullptr);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);
}

void AddReleaseReports(WebKitWebView* view) {
  static const char kScript[] =
      "addEventListener('mouseup', e => {"
      "  if (!e.isTrusted) return;"
      "  window.__quilloModifiers = {ctrlKey: e.ctrlKey, shiftKey: e.shiftKey, altKey: e.altKey,"
      "                              metaKey: e.metaKey};"
      "  webkit.messageHandlers.quilloRelease.postMessage("
      "      [e.button, e.clientX, e.clientY, window === top ? 1 : 0]);"
      "}, true);";
  AddReportingScript(view, kReleaseHandler, kScript);
}

// Every frame reports each key event it got to the layer's message handler: input the engine
// types outside its key queue waits until the page has the key events sent before it.
constexpr char kKeyHandler[] = "quilloKey";

void OnKeyReported(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer self) {
  static_cast<InputRouter*>(self)->KeySeen();
}

void AddKeyReports(WebKitWebView* view) {
  static const char kScript[] =
      "for (const type of ['keydown', 'keyup'])"
      "  addEventListener(type, e => {"
      "    if (e.isTrusted) webkit.messageHandlers.quilloKey.postMessage(0);"
      "  }, true);";
  AddReportingScript(view, kKeyHandler, kScript);
}

// This engine focuses a field with the autofocus attribute at its first rendering update after
// the field came in, even when the user's click has focused another element meanwhile (which
// a browser leaves alone): on a busy machine, a click right after the page showed lost its focus
// to the autofocus field, with the text typed next. Until the first animation frame after the
// document was parsed (which follows that update), a focus that moves from the element the user
// clicked to an autofocus field is given back to the element clicked.
void AddAutofocusGuard(WebKitWebView* view) {
  static const char kScript[] =
      "(() => {"
      "  let pending = true, pressed = null, chosen = null;"
      "  const settle = () => requestAnimationFrame(() => { pending = false; chosen = null; });"
      "  if (document.readyState === 'loading')"
      "    addEventListener('DOMContentLoaded', settle, {once: true});"
      "  else settle();"
      "  addEventListener('mousedown', e => { if (e.isTrusted && pending) pressed = e.target; },"
      "      true);"
      "  addEventListener('focus', e => {"
      "    const el = e.target;"
      "    if (!pending || !(el instanceof Element)) return;"
      "    if (pressed && el.contains(pressed)) { chosen = el; pressed = null; return; }"
      "    if (!chosen || el === chosen || !el.hasAttribute('autofocus') || !chosen.isConnected)"
      "      return;"
      "    const back = chosen;"
      "    chosen = null, pending = false;"
      "    queueMicrotask(() => back.focus({preventScroll: true}));"
      "  }, true);"
      "})();";
  WebKitUserScript* script = webkit_user_script_new_for_world(
      kScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
      kScriptWorld, nullptr, nullptr);
  webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(view), script);
  webkit_user_script_unref(script);
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
      kScriptWorld, nullptr, nullptr);
  webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(view), script);
  webkit_user_script_unref(script);
}

}  // namespace

void InputRouter::Attach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  AddDragSelection(view);
  AddReleaseReports(view);
  AddKeyReports(view);
  AddAutofocusGuard(view);
  g_signal_connect(view, "mouse-target-changed", G_CALLBACK(OnMouseTargetChanged), this);
  g_signal_connect(webkit_web_view_get_user_content_manager(view),
                   "script-message-received::quilloRelease", G_CALLBACK(OnReleaseReported), this);
  g_signal_connect(webkit_web_view_get_user_content_manager(view),
                   "script-message-received::quilloKey", G_CALLBACK(OnKeyReported), this);
}

void InputRouter::Detach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  m_charWait.Cancel();
  m_releaseWait.Cancel();
  m_heldKeys.clear();
  m_keysHeld = false;
  m_keyReportWait.Cancel();
  m_afterKeys = nullptr;
  m_keysSent = m_keysSeen = 0;
  m_releases.clear();
  m_beforeFrame.clear();
  g_signal_handlers_disconnect_by_data(view, this);
  g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(view), this);
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
  KeySent();
  wpe_view_backend_dispatch_keyboard_event(Backend(), &key);
}

void InputRouter::DispatchPointer(wpe_input_pointer_event& event) {
  event.time = NowMs();
  if (event.type == wpe_input_pointer_event_type_button)
    diagnostics::MarkStage(diagnostics::Stage::kInputDispatched);
  wpe_view_backend_dispatch_pointer_event(Backend(), &event);
}

void InputRouter::Key(const CefKeyEvent& event) {
  QUILLO_REQUIRE_UI_THREAD();
  if (Defer([this, event] { Key(event); })) return;
  // The engine keeps mouse and key events in queues of their own, so a key would overtake a
  // release still on its way (and type into the field the click had not focused yet): keys wait
  // until the page has reported the releases sent before them.
  if (!m_releases.empty() || !m_heldKeys.empty() || m_keysHeld) {
    Hold([this, event] { KeyNow(event); });
    return;
  }
  KeyNow(event);
}

void InputRouter::InKeyOrder(std::function<void()> input) {
  QUILLO_REQUIRE_UI_THREAD();
  if (Defer([this, input] { InKeyOrder(input); })) return;
  if (!m_releases.empty() || !m_heldKeys.empty() || m_keysHeld) {
    Hold([this, input = std::move(input)] {
      FlushPendingKey();
      input();
    });
    return;
  }
  FlushPendingKey();
  input();
}

void InputRouter::AfterKeys(std::function<void()> command) {
  QUILLO_REQUIRE_UI_THREAD();
  InKeyOrder([this, command = std::move(command)] { AfterKeysSeen(command); });
}

void InputRouter::FlushPendingKey() {
  KeyAction press[1];
  if (m_keys.HasPending() && m_keys.FlushPending(m_keys.PendingSerial(), press) == 1)
    DispatchKey(press[0]);
}

void InputRouter::Hold(std::function<void()> input) {
  m_heldKeys.push_back(std::move(input));
  WaitForReleases();
}

void InputRouter::WaitForReleases() {
  if (!m_releaseWait.IsPending())
    m_releaseWait.Start(kReleaseReportMs, [this] {
      // Never reported: their page went, or a frame's could not.
      QLOG(u"InputRouter => %d button releases never reported; the keys held for them go now",
           static_cast<int>(m_releases.size()));
      m_releases.clear();
      ReleaseHeldKeys();
    });
}

bool InputRouter::Defer(std::function<void()> input) {
  if (m_beforeFrame.empty()) return false;
  m_beforeFrame.push_back(std::move(input));
  return true;
}

void InputRouter::FrameShown(bool shown) {
  QUILLO_REQUIRE_UI_THREAD();
  m_frameShown = shown;
  if (!shown) {
    // A new web process: the key events still on their way went with the last one.
    m_keysSeen = m_keysSent;
    if (m_afterKeys) KeysCaughtUp();
    return;
  }
  std::deque<std::function<void()>> waiting;
  waiting.swap(m_beforeFrame);
  for (auto& input : waiting) input();
}

void InputRouter::AfterKeysSeen(std::function<void()> then) {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_keysSeen >= m_keysSent) {
    then();
    return;
  }
  m_afterKeys = std::move(then);
  m_keysHeld = true;
  m_keyReportWait.Start(kKeyReportMs, [this] {
    QLOG(u"InputRouter => the page reported %d of %d key events; the input after them goes now",
         static_cast<int>(m_keysSeen), static_cast<int>(m_keysSent));
    m_keysSeen = m_keysSent;
    KeysCaughtUp();
  });
}

void InputRouter::KeySeen() {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_keysSeen < m_keysSent) ++m_keysSeen;
  if (m_afterKeys && m_keysSeen >= m_keysSent) KeysCaughtUp();
}

void InputRouter::KeysCaughtUp() {
  m_keyReportWait.Cancel();
  std::function<void()> then = std::move(m_afterKeys);
  m_afterKeys = nullptr;
  m_keysHeld = false;
  then();  // may wait for the keys again
  if (m_keysHeld) return;
  if (m_releases.empty())
    ReleaseHeldKeys();
  else if (!m_heldKeys.empty())
    WaitForReleases();
}

void InputRouter::ReleaseHeldKeys() {
  m_releaseWait.Cancel();
  // One at a time: one of them may wait for the key reports (AfterKeysSeen); the rest wait too.
  while (!m_heldKeys.empty() && !m_keysHeld) {
    std::function<void()> key = std::move(m_heldKeys.front());
    m_heldKeys.pop_front();
    key();
  }
}

void InputRouter::KeyNow(const CefKeyEvent& event) {
  if (m_popup.TakesKey(event)) return;
  KeyAction actions[KeyMapper::kMaxActions];
  const int count = m_keys.Map(event, actions);
  for (int i = 0; i < count; ++i) DispatchKey(actions[i]);
  // A text key waits for its CHAR (which the host sends right behind its KEYDOWN, but which may
  // reach this thread a work or two later now that the engine works between polls): until the
  // next input, or kCharWaitMs.
  if (m_keys.HasPending()) {
    m_charWait.Start(kCharWaitMs, [this, serial = m_keys.PendingSerial()] {
      KeyAction press[1];
      if (m_keys.FlushPending(serial, press) == 1) DispatchKey(press[0]);
    });
  }
}

void InputRouter::Click(const CefMouseEvent& event, CefBrowserHost::MouseButtonType type,
                        bool mouseUp, int clickCount) {
  QUILLO_REQUIRE_UI_THREAD();
  if (Defer([=, this] { Click(event, type, mouseUp, clickCount); })) return;
  FlushPendingKey();  // a key typed before the click is pressed before it
  if (m_popup.TakesClick(event, type, mouseUp)) return;
  wpe_input_pointer_event pointer{};
  pointer.type = wpe_input_pointer_event_type_button;
  pointer.x = event.x;
  pointer.y = event.y;
  pointer.button = EngineButton(type);
  pointer.state = mouseUp ? 0 : 1;
  // The buttons held after this event, and the keyboard's modifiers.
  uint32_t held = HeldButtons(event.modifiers) & ~ButtonModifier(type);
  if (!mouseUp) held |= ButtonModifier(type);
  pointer.modifiers = held | KeyMapper::EngineModifiers(event.modifiers);
  DispatchPointer(pointer);
  if (mouseUp)
    m_releases.push_back({DomButtonNumber(type), clickCount, g_get_monotonic_time() / 1000});
}

void InputRouter::Released(int button, double x, double y, bool top) {
  QUILLO_REQUIRE_UI_THREAD();
  // The page reports its releases in order; the oldest release of that button sent to it is
  // this one. Releases the page never reported (a frame's, a page that went) are let go.
  const int64_t now = g_get_monotonic_time() / 1000;
  while (!m_releases.empty() && now - m_releases.front().timeMs > kReleaseReportMs)
    m_releases.pop_front();
  for (auto it = m_releases.begin(); it != m_releases.end(); ++it) {
    if (it->button != button) continue;
    const bool second = it->clickCount == 2;
    m_releases.erase(m_releases.begin(), it + 1);
    if (second && top) DispatchDoubleClick(button, x, y);
    break;
  }
  if (m_releases.empty()) ReleaseHeldKeys();
}

void InputRouter::DispatchDoubleClick(int button, double x, double y) {
  // At the element under the point, in the layer's own script world, after the page has
  // handled the release and its click: the page sees a "dblclick" as from the engine.
  char script[512];
  std::snprintf(
      script, sizeof(script),
      "(() => { const x = %g, y = %g, m = window.__quilloModifiers || {};"
      " const target = document.elementFromPoint(x, y) || document.documentElement;"
      " target.dispatchEvent(new MouseEvent('dblclick', {bubbles: true, cancelable: true,"
      " composed: true, view: window, detail: 2, clientX: x, clientY: y, screenX: x, screenY: y,"
      " button: %d, ctrlKey: !!m.ctrlKey, shiftKey: !!m.shiftKey, altKey: !!m.altKey,"
      " metaKey: !!m.metaKey}));"
      "})()",
      x, y, button);
  webkit_web_view_run_javascript_in_world(
      m_browser.View(), script, kScriptWorld, nullptr,
      [](GObject* view, GAsyncResult* result, gpointer) {
        WebKitJavascriptResult* value =
            webkit_web_view_run_javascript_in_world_finish(WEBKIT_WEB_VIEW(view), result, nullptr);
        if (value) webkit_javascript_result_unref(value);
      },
      nullptr);
}

void InputRouter::Move(const CefMouseEvent& event) {
  QUILLO_REQUIRE_UI_THREAD();
  if (Defer([this, event] { Move(event); })) return;
  if (m_popup.TakesMove(event)) return;
  wpe_input_pointer_event pointer{};
  pointer.type = wpe_input_pointer_event_type_motion;
  pointer.x = event.x;
  pointer.y = event.y;
  const uint32_t held = HeldButtons(event.modifiers);
  if (held != 0) {
    // The engine reads a drag's button from the motion itself.
    pointer.button = held & wpe_input_pointer_modifier_button1   ? 1
                     : held & wpe_input_pointer_modifier_button2 ? 2
                                                                 : 3;
    pointer.state = 1;
  }
  pointer.modifiers = held | KeyMapper::EngineModifiers(event.modifiers);
  DispatchPointer(pointer);
}

void InputRouter::Wheel(const CefMouseEvent& event, int deltaX, int deltaY) {
  QUILLO_REQUIRE_UI_THREAD();
  // This engine never delivers a wheel event sent before the page's first frame, and takes no
  // input after it: the wheel, and what follows it, wait for that frame.
  if (!m_frameShown || !m_beforeFrame.empty()) {
    m_beforeFrame.push_back([this, event, deltaX, deltaY] { Wheel(event, deltaX, deltaY); });
    return;
  }
  if (m_popup.TakesWheel()) return;
  wpe_input_axis_2d_event axis{};
  axis.base.type = static_cast<wpe_input_axis_event_type>(wpe_input_axis_event_type_mask_2d |
                                                          wpe_input_axis_event_type_motion_smooth);
  axis.base.time = NowMs();
  axis.base.x = event.x;
  axis.base.y = event.y;
  axis.base.modifiers = KeyMapper::EngineModifiers(event.modifiers);
  // Both count positive away from the user (scrolling up), in pixels.
  axis.x_axis = static_cast<double>(deltaX);
  axis.y_axis = static_cast<double>(deltaY);
  wpe_view_backend_dispatch_axis_event(Backend(), &axis.base);
}

void InputRouter::WhenShown(std::function<void()> input) {
  QUILLO_REQUIRE_UI_THREAD();
  if (!m_frameShown || !m_beforeFrame.empty()) {
    m_beforeFrame.push_back(std::move(input));
    return;
  }
  input();
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
