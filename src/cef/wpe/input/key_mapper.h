// Turns CEF key events (Windows virtual-key codes and UTF-16 characters) into
// the engine's key events (XKB key symbols and hardware key codes), so that a
// page sees what Chromium shows for the host's usual KEYDOWN, CHAR, KEYUP
// sequence: `keydown` with the key's `key`, `code` and `keyCode`, the text
// typed once, `keyup` at KEYUP; KEYDOWN and KEYUP alone still give `keydown`
// and `keyup`, and modifier keys give their own.
//
// The engine types a key's text together with its `keydown`, so the press of
// a text key waits for the CHAR that follows its KEYDOWN and types exactly
// that character; when none comes before the next input or a short wait
// (FlushPending), the key is pressed with its US-layout character and a later
// CHAR of that same character is not typed again.
//
// One mapper per browser, used on the UI thread.
#pragma once

#include <array>
#include <cstdint>

#include "cef_types.h"

namespace quillo::engine {

struct KeyAction {
  uint32_t keysym;
  bool pressed;
  uint32_t modifiers;        // the engine's keyboard modifier bits
  uint32_t hardwareKeyCode;  // XKB key code of the physical key, 0 if none
};

class KeyMapper {
 public:
  static constexpr int kMaxActions = 2;

  // Writes up to kMaxActions actions into out; returns how many.
  int Map(const CefKeyEvent& event, KeyAction out[kMaxActions]);

  // Whether a text key's press waits for its CHAR; the number tells one wait
  // from the next.
  bool HasPending() const { return m_pending.vk != 0; }
  uint32_t PendingSerial() const { return m_pending.serial; }
  // Presses the waiting key, if it is still wait number `serial`, with its
  // US-layout character. Returns how many actions it wrote (0 or 1).
  int FlushPending(uint32_t serial, KeyAction out[1]);

  // The engine's keyboard modifier bits for CEF's EVENTFLAG_* (Shift, Control, Alt, and
  // Command as Meta).
  static uint32_t EngineModifiers(uint32_t cefModifiers);
  // The key symbol of a key that types no text (arrows, Enter, F-keys, ...),
  // or 0.
  static uint32_t NonTextKeysym(int windowsKeyCode);
  // The XKB key code of the key with this virtual-key code on a US keyboard,
  // or 0.
  static uint32_t HardwareKeyCode(int windowsKeyCode);
  // The character of a text key on a US keyboard, with or without Shift, or 0.
  static char32_t UsCharacter(int windowsKeyCode, bool shift);

 private:
  int Flush(KeyAction out[1]);
  // The press of a key, remembered for its release.
  KeyAction Press(int vk, uint32_t keysym, uint32_t modifiers);

  struct Pending {
    int vk = 0;
    uint32_t modifiers = 0;
    uint32_t serial = 0;
  } m_pending;
  uint32_t m_serial = 0;
  char32_t m_typedAhead = 0;              // typed by a flush; its CHAR types nothing
  std::array<uint32_t, 256> m_pressed{};  // keysym pressed, by virtual-key code
  char16_t m_pendingHighSurrogate = 0;
};

}  // namespace quillo::engine
