// CWebApplication::InputWeb: the host's input words turned into browser input,
// on the input thread.
#include "application/web_application.h"
#include "quillo.h"

namespace quillo {

void CWebApplication::InputWeb(int event, int a, int b) {
  if (!m_client || !m_client->GetBrowser()) return;
  switch (event & INPUT_CLASS_MASK) {
    case INPUT_MOUSE:
      InputMouse(event, a, b);
      break;
    case INPUT_KEY:
      InputKey(event, a, b);
      break;
    case INPUT_DIALOG:
      m_client->ReplyJSDialog(a == 1);
      break;
    default:
      break;
  }
}

void CWebApplication::InputMouse(int event, int a, int b) {
  CefRefPtr<CefBrowser> browser = m_client->GetBrowser();
  if (!browser) return;
  CefRefPtr<CefBrowserHost> host = browser->GetHost();
  CefMouseEvent& mouse = m_client->m_mouseEvent;
  switch (event & INPUT_ACTION_MASK) {
    case INPUT_MOUSE_DOWN:
    case INPUT_MOUSE_UP: {
      const bool up = (event & INPUT_ACTION_MASK) == INPUT_MOUSE_UP;
      mouse.x = a, mouse.y = b, mouse.modifiers = 0;
      host->SendMouseClickEvent(mouse, MBT_LEFT, up, 1);
      break;
    }
    case INPUT_MOUSE_MOVE:
      mouse.x = a, mouse.y = b;
      mouse.modifiers = (event & INPUT_SHIFT) ? EVENTFLAG_LEFT_MOUSE_BUTTON : 0;
      host->SendMouseMoveEvent(mouse, false);
      break;
    case INPUT_MOUSE_WHEEL:
      mouse.modifiers = 0;  // acts at the last button or move position
      host->SendMouseWheelEvent(mouse, a, b);
      break;
    default:
      break;
  }
}

void CWebApplication::InputKey(int event, int a, int b) {
  CefRefPtr<CefBrowser> browser = m_client->GetBrowser();
  if (!browser) return;
  CefRefPtr<CefBrowserHost> host = browser->GetHost();
  uint32_t modifiers = 0;
  if (event & INPUT_SHIFT) modifiers |= EVENTFLAG_SHIFT_DOWN;
  if (event & INPUT_ALT) modifiers |= EVENTFLAG_ALT_DOWN;
  if (event & INPUT_CONTROL) modifiers |= EVENTFLAG_CONTROL_DOWN;
  CefKeyEvent& key = m_client->m_keyEvent;
  auto send = [&](cef_key_event_type_t type) {
    key.type = type;
    key.windows_key_code = a;
    key.native_key_code = a;
    key.character = static_cast<char16>(b & 0xFFFF);
    key.unmodified_character = key.character;
    key.modifiers = modifiers;
    host->SendKeyEvent(key);
  };
  switch (event & INPUT_ACTION_MASK) {
    case INPUT_KEY_DOWN:
      send(KEYEVENT_KEYDOWN);
      break;
    case INPUT_KEY_UP:
      send(KEYEVENT_KEYUP);
      break;
    case INPUT_KEY_CHAR:
      send(KEYEVENT_CHAR);
      break;
    case INPUT_FOCUS_IN:
      m_client->m_focused.store(1);
      host->SetFocus(true);
      break;
    case INPUT_FOCUS_OUT:
      m_client->m_focused.store(0);
      host->SetFocus(false);
      break;
    default:
      break;
  }
}

}  // namespace quillo
