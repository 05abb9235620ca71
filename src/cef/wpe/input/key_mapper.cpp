#include "wpe/input/key_mapper.h"

#include <wpe/wpe.h>
#include <xkbcommon/xkbcommon.h>

namespace quillo::engine {
namespace {

// evdev key codes of a US keyboard by virtual-key code; XKB's are 8 higher.
uint32_t EvdevCode(int vk) {
  static const char kLetters[] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                  49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
  if (vk >= 'A' && vk <= 'Z') return static_cast<uint32_t>(kLetters[vk - 'A']);
  if (vk >= '1' && vk <= '9') return static_cast<uint32_t>(2 + vk - '1');
  if (vk >= 0x70 && vk <= 0x79) return static_cast<uint32_t>(59 + vk - 0x70);   // F1 to F10
  if (vk >= 0x7C && vk <= 0x87) return static_cast<uint32_t>(183 + vk - 0x7C);  // F13 to F24
  switch (vk) {
    case '0':
      return 11;
    case 0x08:
      return 14;  // Backspace
    case 0x09:
      return 15;  // Tab
    case 0x0D:
      return 28;  // Enter
    case 0x10:
      return 42;  // Shift (left)
    case 0x11:
      return 29;  // Control (left)
    case 0x12:
      return 56;  // Alt (left)
    case 0x13:
      return 119;  // Pause
    case 0x14:
      return 58;  // Caps Lock
    case 0x1B:
      return 1;  // Escape
    case 0x20:
      return 57;  // Space
    case 0x21:
      return 104;  // Page Up
    case 0x22:
      return 109;  // Page Down
    case 0x23:
      return 107;  // End
    case 0x24:
      return 102;  // Home
    case 0x25:
      return 105;  // Left
    case 0x26:
      return 103;  // Up
    case 0x27:
      return 106;  // Right
    case 0x28:
      return 108;  // Down
    case 0x2D:
      return 110;  // Insert
    case 0x2E:
      return 111;  // Delete
    case 0x5D:
      return 127;  // Menu
    case 0x7A:
      return 87;  // F11
    case 0x7B:
      return 88;  // F12
    case 0xBA:
      return 39;  // ;
    case 0xBB:
      return 13;  // =
    case 0xBC:
      return 51;  // ,
    case 0xBD:
      return 12;  // -
    case 0xBE:
      return 52;  // .
    case 0xBF:
      return 53;  // /
    case 0xC0:
      return 41;  // `
    case 0xDB:
      return 26;  // [
    case 0xDC:
      return 43;  // backslash
    case 0xDD:
      return 27;  // ]
    case 0xDE:
      return 40;  // '
    default:
      return 0;
  }
}

}  // namespace

uint32_t KeyMapper::EngineModifiers(uint32_t cefModifiers) {
  uint32_t m = 0;
  if (cefModifiers & EVENTFLAG_SHIFT_DOWN) m |= wpe_input_keyboard_modifier_shift;
  if (cefModifiers & EVENTFLAG_CONTROL_DOWN) m |= wpe_input_keyboard_modifier_control;
  if (cefModifiers & EVENTFLAG_ALT_DOWN) m |= wpe_input_keyboard_modifier_alt;
  if (cefModifiers & EVENTFLAG_COMMAND_DOWN) m |= wpe_input_keyboard_modifier_meta;
  return m;
}

uint32_t KeyMapper::HardwareKeyCode(int vk) {
  const uint32_t evdev = EvdevCode(vk);
  return evdev == 0 ? 0 : evdev + 8;
}

char32_t KeyMapper::UsCharacter(int vk, bool shift) {
  if (vk >= 'A' && vk <= 'Z') return shift ? vk : vk - 'A' + 'a';
  if (vk >= '0' && vk <= '9') return shift ? U")!@#$%^&*("[vk - '0'] : vk;
  if (vk == 0x20) return U' ';
  static const struct {
    int vk;
    char32_t plain, shifted;
  } kPunctuation[] = {{0xBA, ';', ':'},  {0xBB, '=', '+'}, {0xBC, ',', '<'}, {0xBD, '-', '_'},
                      {0xBE, '.', '>'},  {0xBF, '/', '?'}, {0xC0, '`', '~'}, {0xDB, '[', '{'},
                      {0xDC, '\\', '|'}, {0xDD, ']', '}'}, {0xDE, '\'', '"'}};
  for (const auto& key : kPunctuation)
    if (key.vk == vk) return shift ? key.shifted : key.plain;
  return 0;
}

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
    case 0x5B:
      return XKB_KEY_Meta_L;
    case 0x5C:
      return XKB_KEY_Meta_R;
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

KeyAction KeyMapper::Press(int vk, uint32_t keysym, uint32_t modifiers) {
  const bool known = vk > 0 && vk < static_cast<int>(m_pressed.size());
  if (known) m_pressed[static_cast<size_t>(vk)] = keysym;
  return {keysym, true, modifiers, known ? HardwareKeyCode(vk) : 0};
}

int KeyMapper::Flush(KeyAction out[1]) {
  if (m_pending.vk == 0) return 0;
  const Pending key = m_pending;
  m_pending.vk = 0;
  const char32_t c = UsCharacter(key.vk, key.modifiers & wpe_input_keyboard_modifier_shift);
  m_typedAhead = c;
  out[0] = Press(key.vk, xkb_utf32_to_keysym(c), key.modifiers);
  return 1;
}

int KeyMapper::FlushPending(uint32_t serial, KeyAction out[1]) {
  if (m_pending.vk == 0 || m_pending.serial != serial) return 0;
  return Flush(out);
}

int KeyMapper::Map(const CefKeyEvent& event, KeyAction out[kMaxActions]) {
  const uint32_t modifiers = EngineModifiers(event.modifiers);
  // Meta (Command) makes shortcuts as Control does.
  const bool control = event.modifiers & (EVENTFLAG_CONTROL_DOWN | EVENTFLAG_COMMAND_DOWN);
  const bool alt = event.modifiers & EVENTFLAG_ALT_DOWN;
  const bool shift = event.modifiers & EVENTFLAG_SHIFT_DOWN;
  const int vk = event.windows_key_code;

  if (event.type != KEYEVENT_CHAR) {
    // A key that still waits for its CHAR is pressed before anything else.
    int count = Flush(out);
    const bool pressed = event.type != KEYEVENT_KEYUP;
    const char32_t text = UsCharacter(vk, shift);
    if (pressed && text != 0 && !control && !alt) {
      m_pending = {vk, modifiers, ++m_serial};  // typed by its CHAR
      return count;
    }
    uint32_t keysym = NonTextKeysym(vk);
    if (keysym == 0 && text != 0) {
      // A text key's release, or its press in a shortcut.
      const bool known = vk > 0 && vk < static_cast<int>(m_pressed.size());
      keysym = !pressed && known && m_pressed[static_cast<size_t>(vk)] != 0
                   ? m_pressed[static_cast<size_t>(vk)]
                   : xkb_utf32_to_keysym(text);
    }
    if (keysym == 0) return count;
    if (pressed) {
      out[count++] = Press(vk, keysym, modifiers);
    } else {
      if (vk > 0 && vk < static_cast<int>(m_pressed.size())) m_pressed[static_cast<size_t>(vk)] = 0;
      out[count++] = {keysym, false, modifiers, HardwareKeyCode(vk)};
    }
    return count;
  }

  // Control alone makes shortcuts, sent from the key-down; Control with Alt
  // is AltGr on Windows keyboards and types text.
  if (control && !alt) return Flush(out);
  char32_t c = event.character;
  if (c < 0x20 || c == 0x7F) return Flush(out);  // Enter, Tab, Backspace, Escape: key-down
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
  if (keysym == XKB_KEY_NoSymbol) return Flush(out);
  const uint32_t textModifiers = modifiers & wpe_input_keyboard_modifier_shift;
  if (m_pending.vk != 0) {
    // The waiting key types this character with its keydown.
    const int key = m_pending.vk;
    m_pending.vk = 0;
    m_typedAhead = 0;
    out[0] = Press(key, keysym, textModifiers);
    return 1;
  }
  if (m_typedAhead == c) {
    m_typedAhead = 0;  // typed already when its key was pressed
    return 0;
  }
  m_typedAhead = 0;
  out[0] = {keysym, true, textModifiers, 0};
  out[1] = {keysym, false, textModifiers, 0};
  return 2;
}

}  // namespace quillo::engine
