// Turns CEF key events (Windows virtual-key codes and UTF-16 characters) into
// the engine's key events (XKB key symbols), so that a host's usual KEYDOWN,
// CHAR, KEYUP sequence types each character once: text comes from CHAR
// events; non-text keys and Ctrl/Alt shortcuts come from key-down and key-up.
//
// One mapper per browser, used on the UI thread (it keeps the first half of a
// surrogate pair between two CHAR events).
#pragma once

#include <cstdint>

#include "cef_types.h"

namespace quillo::engine {

struct KeyAction {
  uint32_t keysym;
  bool pressed;
  uint32_t modifiers;  // the engine's keyboard modifier bits
};

class KeyMapper {
 public:
  // Writes up to two actions into out; returns how many.
  int Map(const CefKeyEvent& event, KeyAction out[2]);

  // The key symbol of a key that types no text (arrows, Enter, F-keys, ...),
  // or 0.
  static uint32_t NonTextKeysym(int windowsKeyCode);

 private:
  char16_t m_pendingHighSurrogate = 0;
};

}  // namespace quillo::engine
