#include "view_input.h"

#include <quillo/views.h>

namespace quillo_tools {
namespace {

// Windows virtual-key codes that have no ASCII letter or digit of their own.
constexpr int kVkBack = 0x08;
constexpr int kVkTab = 0x09;
constexpr int kVkClear = 0x0C;
constexpr int kVkReturn = 0x0D;
constexpr int kVkShift = 0x10;
constexpr int kVkControl = 0x11;
constexpr int kVkMenu = 0x12;  // Alt
constexpr int kVkPause = 0x13;
constexpr int kVkCapital = 0x14;  // Caps Lock
constexpr int kVkEscape = 0x1B;
constexpr int kVkSpace = 0x20;
constexpr int kVkPrior = 0x21;  // Page Up
constexpr int kVkNext = 0x22;   // Page Down
constexpr int kVkEnd = 0x23;
constexpr int kVkHome = 0x24;
constexpr int kVkLeft = 0x25;
constexpr int kVkUp = 0x26;
constexpr int kVkRight = 0x27;
constexpr int kVkDown = 0x28;
constexpr int kVkSnapshot = 0x2C;  // Print Screen
constexpr int kVkInsert = 0x2D;
constexpr int kVkDelete = 0x2E;
constexpr int kVkLeftWin = 0x5B;
constexpr int kVkRightWin = 0x5C;
constexpr int kVkApps = 0x5D;  // the context-menu key
constexpr int kVkNumpad0 = 0x60;
constexpr int kVkMultiply = 0x6A;
constexpr int kVkAdd = 0x6B;
constexpr int kVkSubtract = 0x6D;
constexpr int kVkDecimal = 0x6E;
constexpr int kVkDivide = 0x6F;
constexpr int kVkF1 = 0x70;
constexpr int kVkF13 = 0x7C;
constexpr int kVkNumLock = 0x90;
constexpr int kVkScroll = 0x91;
// The punctuation keys of a US keyboard.
constexpr int kVkOem1 = 0xBA;  // ; :
constexpr int kVkOemPlus = 0xBB;
constexpr int kVkOemComma = 0xBC;
constexpr int kVkOemMinus = 0xBD;
constexpr int kVkOemPeriod = 0xBE;
constexpr int kVkOem2 = 0xBF;    // / ?
constexpr int kVkOem3 = 0xC0;    // ` ~
constexpr int kVkOem4 = 0xDB;    // [ {
constexpr int kVkOem5 = 0xDC;    // \ |
constexpr int kVkOem6 = 0xDD;    // ] }
constexpr int kVkOem7 = 0xDE;    // ' "
constexpr int kVkOem102 = 0xE2;  // the extra key beside left Shift on ISO keyboards

constexpr char32_t kReplacement = 0xFFFD;

int FromKeycode(SDL_Keycode key) {
  if (key >= SDLK_a && key <= SDLK_z) return 'A' + (key - SDLK_a);
  if (key >= SDLK_0 && key <= SDLK_9) return '0' + (key - SDLK_0);
  if (key >= SDLK_F1 && key <= SDLK_F12) return kVkF1 + (key - SDLK_F1);
  if (key >= SDLK_F13 && key <= SDLK_F24) return kVkF13 + (key - SDLK_F13);
  switch (key) {
    case SDLK_BACKSPACE:
      return kVkBack;
    case SDLK_TAB:
      return kVkTab;
    case SDLK_CLEAR:
      return kVkClear;
    case SDLK_RETURN:
    case SDLK_RETURN2:
    case SDLK_KP_ENTER:
      return kVkReturn;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return kVkShift;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return kVkControl;
    case SDLK_LALT:
    case SDLK_RALT:
      return kVkMenu;
    case SDLK_PAUSE:
      return kVkPause;
    case SDLK_CAPSLOCK:
      return kVkCapital;
    case SDLK_ESCAPE:
      return kVkEscape;
    case SDLK_SPACE:
      return kVkSpace;
    case SDLK_PAGEUP:
      return kVkPrior;
    case SDLK_PAGEDOWN:
      return kVkNext;
    case SDLK_END:
      return kVkEnd;
    case SDLK_HOME:
      return kVkHome;
    case SDLK_LEFT:
      return kVkLeft;
    case SDLK_UP:
      return kVkUp;
    case SDLK_RIGHT:
      return kVkRight;
    case SDLK_DOWN:
      return kVkDown;
    case SDLK_PRINTSCREEN:
      return kVkSnapshot;
    case SDLK_INSERT:
      return kVkInsert;
    case SDLK_DELETE:
      return kVkDelete;
    case SDLK_LGUI:
      return kVkLeftWin;
    case SDLK_RGUI:
      return kVkRightWin;
    case SDLK_APPLICATION:
    case SDLK_MENU:
      return kVkApps;
    case SDLK_KP_0:
      return kVkNumpad0;
    case SDLK_KP_1:
    case SDLK_KP_2:
    case SDLK_KP_3:
    case SDLK_KP_4:
    case SDLK_KP_5:
    case SDLK_KP_6:
    case SDLK_KP_7:
    case SDLK_KP_8:
    case SDLK_KP_9:
      return kVkNumpad0 + 1 + (key - SDLK_KP_1);
    case SDLK_KP_MULTIPLY:
      return kVkMultiply;
    case SDLK_KP_PLUS:
      return kVkAdd;
    case SDLK_KP_MINUS:
      return kVkSubtract;
    case SDLK_KP_PERIOD:
    case SDLK_KP_DECIMAL:
      return kVkDecimal;
    case SDLK_KP_DIVIDE:
      return kVkDivide;
    case SDLK_NUMLOCKCLEAR:
      return kVkNumLock;
    case SDLK_SCROLLLOCK:
      return kVkScroll;
    case SDLK_SEMICOLON:
    case SDLK_COLON:
      return kVkOem1;
    case SDLK_EQUALS:
    case SDLK_PLUS:
      return kVkOemPlus;
    case SDLK_COMMA:
    case SDLK_LESS:
      return kVkOemComma;
    case SDLK_MINUS:
    case SDLK_UNDERSCORE:
      return kVkOemMinus;
    case SDLK_PERIOD:
    case SDLK_GREATER:
      return kVkOemPeriod;
    case SDLK_SLASH:
    case SDLK_QUESTION:
      return kVkOem2;
    case SDLK_BACKQUOTE:
      return kVkOem3;
    case SDLK_LEFTBRACKET:
      return kVkOem4;
    case SDLK_BACKSLASH:
      return kVkOem5;
    case SDLK_RIGHTBRACKET:
      return kVkOem6;
    case SDLK_QUOTE:
    case SDLK_QUOTEDBL:
      return kVkOem7;
    default:
      return 0;
  }
}

// The key at this position on a US keyboard.
int FromScancode(SDL_Scancode scancode) {
  if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z)
    return 'A' + (scancode - SDL_SCANCODE_A);
  // SDL numbers the digit row from 1 to 9, then 0.
  if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9)
    return '1' + (scancode - SDL_SCANCODE_1);
  switch (scancode) {
    case SDL_SCANCODE_0:
      return '0';
    case SDL_SCANCODE_SEMICOLON:
      return kVkOem1;
    case SDL_SCANCODE_EQUALS:
      return kVkOemPlus;
    case SDL_SCANCODE_COMMA:
      return kVkOemComma;
    case SDL_SCANCODE_MINUS:
      return kVkOemMinus;
    case SDL_SCANCODE_PERIOD:
      return kVkOemPeriod;
    case SDL_SCANCODE_SLASH:
      return kVkOem2;
    case SDL_SCANCODE_GRAVE:
      return kVkOem3;
    case SDL_SCANCODE_LEFTBRACKET:
      return kVkOem4;
    case SDL_SCANCODE_BACKSLASH:
      return kVkOem5;
    case SDL_SCANCODE_RIGHTBRACKET:
      return kVkOem6;
    case SDL_SCANCODE_APOSTROPHE:
      return kVkOem7;
    case SDL_SCANCODE_NONUSBACKSLASH:
      return kVkOem102;
    default:
      return 0;
  }
}

}  // namespace

int WindowsVirtualKey(SDL_Keycode key, SDL_Scancode scancode) {
  if (const int vk = FromKeycode(key); vk != 0) return vk;
  return FromScancode(scancode);
}

unsigned InputModifiers(Uint16 sdlModifiers) {
  unsigned modifiers = 0;
  if (sdlModifiers & KMOD_SHIFT) modifiers |= QUILLO_MOD_SHIFT;
  if (sdlModifiers & KMOD_CTRL) modifiers |= QUILLO_MOD_CONTROL;
  if (sdlModifiers & KMOD_ALT) modifiers |= QUILLO_MOD_ALT;
  if (sdlModifiers & KMOD_GUI) modifiers |= QUILLO_MOD_META;
  return modifiers;
}

std::u32string DecodeUtf8(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      out += lead;
      ++i;
      continue;
    }
    // Length of the sequence, the bits its lead byte carries and the smallest code point it
    // may encode (anything below is an overlong form).
    size_t length = 0;
    char32_t c = 0;
    char32_t smallest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, c = lead & 0x1F, smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, c = lead & 0x0F, smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, c = lead & 0x07, smallest = 0x10000;
    }
    size_t used = 1;
    while (length != 0 && used < length && i + used < utf8.size()) {
      const unsigned char next = static_cast<unsigned char>(utf8[i + used]);
      if ((next & 0xC0) != 0x80) break;
      c = c << 6 | (next & 0x3F);
      ++used;
    }
    if (length == 0 || used < length || c < smallest || c > 0x10FFFF ||
        (c >= 0xD800 && c <= 0xDFFF)) {
      // Only the lead byte is given up; what follows is read again on its own.
      out += kReplacement;
      ++i;
      continue;
    }
    out += c;
    i += length;
  }
  return out;
}

}  // namespace quillo_tools
