#include "cef/wpe/key_mapper.h"

#include <wpe/wpe.h>
#include <xkbcommon/xkbcommon.h>

namespace quillo::engine {
namespace {

uint32_t EngineModifiers(uint32_t cefModifiers) {
  uint32_t m = 0;
  if (cefModifiers & EVENTFLAG_SHIFT_DOWN) m |= wpe_input_keyboard_modifier_shift;
  if (cefModifiers & EVENTFLAG_CONTROL_DOWN) m |= wpe_input_keyboard_modifier_control;
  if (cefModifiers & EVENTFLAG_ALT_DOWN) m |= wpe_input_keyboard_modifier_alt;
  return m;
}

// The symbol a letter, digit or space key stands for in a shortcut.
uint32_t ShortcutKeysym(int vk) {
  if (vk >= 'A' && vk <= 'Z') return XKB_KEY_a + (vk - 'A');
  if (vk >= '0' && vk <= '9') return XKB_KEY_0 + (vk - '0');
  if (vk == 0x20) return XKB_KEY_space;
  return 0;
}

}  // namespace

uint32_t KeyMapper::NonTextKeysym(int vk) {
  switch (vk) {
    case 0x08:
      return XKB_KEY_BackSpace;
    case 0x09:
      return XKB_KEY_Tab;
    case 0x0D:
      return XKB_KEY_Return;
    case 0x10:
      return XKB_KEY_Shift_L;
    case 0x11:
      return XKB_KEY_Control_L;
    case 0x12:
      return XKB_KEY_Alt_L;
    case 0x13:
      return XKB_KEY_Pause;
    case 0x14:
      return XKB_KEY_Caps_Lock;
    case 0x1B:
      return XKB_KEY_Escape;
    case 0x21:
      return XKB_KEY_Page_Up;
    case 0x22:
      return XKB_KEY_Page_Down;
    case 0x23:
      return XKB_KEY_End;
    case 0x24:
      return XKB_KEY_Home;
    case 0x25:
      return XKB_KEY_Left;
    case 0x26:
      return XKB_KEY_Up;
    case 0x27:
      return XKB_KEY_Right;
    case 0x28:
      return XKB_KEY_Down;
    case 0x2D:
      return XKB_KEY_Insert;
    case 0x2E:
      return XKB_KEY_Delete;
    case 0x5D:
      return XKB_KEY_Menu;
    default:
      break;
  }
  if (vk >= 0x70 && vk <= 0x87) return XKB_KEY_F1 + (vk - 0x70);  // F1 to F24
  return 0;
}

int KeyMapper::Map(const CefKeyEvent& event, KeyAction out[2]) {
  const uint32_t modifiers = EngineModifiers(event.modifiers);
  const bool control = event.modifiers & EVENTFLAG_CONTROL_DOWN;
  const bool alt = event.modifiers & EVENTFLAG_ALT_DOWN;

  if (event.type != KEYEVENT_CHAR) {
    const bool pressed = event.type != KEYEVENT_KEYUP;
    uint32_t keysym = NonTextKeysym(event.windows_key_code);
    if (keysym == 0 && (control || alt)) keysym = ShortcutKeysym(event.windows_key_code);
    if (keysym == 0) return 0;  // a text key: its CHAR event types it
    out[0] = {keysym, pressed, modifiers};
    return 1;
  }

  // Control alone makes shortcuts, sent from the key-down; Control with Alt
  // is AltGr on Windows keyboards and types text.
  if (control && !alt) return 0;
  char32_t c = event.character;
  if (c < 0x20 || c == 0x7F) return 0;  // Enter, Tab, Backspace, Escape: from the key-down
  if (c >= 0xD800 && c <= 0xDBFF) {
    m_pendingHighSurrogate = static_cast<char16_t>(c);
    return 0;
  }
  if (c >= 0xDC00 && c <= 0xDFFF) {
    if (m_pendingHighSurrogate == 0) {
      c = 0xFFFD;
    } else {
      c = 0x10000 + ((static_cast<char32_t>(m_pendingHighSurrogate) - 0xD800) << 10) + (c - 0xDC00);
    }
  }
  m_pendingHighSurrogate = 0;
  uint32_t keysym = xkb_utf32_to_keysym(c);
  if (keysym == XKB_KEY_NoSymbol) return 0;
  const uint32_t textModifiers = modifiers & wpe_input_keyboard_modifier_shift;
  out[0] = {keysym, true, textModifiers};
  out[1] = {keysym, false, textModifiers};
  return 2;
}

}  // namespace quillo::engine
