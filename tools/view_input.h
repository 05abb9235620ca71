// Translation of SDL's keyboard events into what quillo's views take: the Windows virtual-key
// codes a Windows host would send, and the modifier bits.
#ifndef QUILLO_TOOLS_VIEW_INPUT_H
#define QUILLO_TOOLS_VIEW_INPUT_H

#include <SDL.h>

#include <string>
#include <string_view>

namespace quillo_tools {

// The Windows virtual-key code of a key, or 0 when it has none. Letters, digits and the
// punctuation keys are found by the symbol the keyboard layout gives them, as on Windows; on a
// layout whose letter keys give no Latin letter, by the key's position instead, so that
// shortcuts such as Control+C still reach the page.
int WindowsVirtualKey(SDL_Keycode key, SDL_Scancode scancode);

// QUILLO_MOD_SHIFT, _CONTROL, _ALT and _META (the Windows or Command key) for SDL's modifier
// state. AltGr (SDL's "mode" key) counts as none of them: it only selects the character a key
// types.
unsigned InputModifiers(Uint16 sdlModifiers);

// Code points of UTF-8 text; each byte that does not belong to a well-formed sequence
// (overlong forms, surrogates and values above U+10FFFF included) gives U+FFFD.
std::u32string DecodeUtf8(std::string_view utf8);

}  // namespace quillo_tools

#endif  // QUILLO_TOOLS_VIEW_INPUT_H
