// Host input the way a desktop host forwards it: clicks, drags and key strokes as InputWeb words.
#pragma once

#include <string_view>

#include "support/library_copy.h"

namespace quillo_test {

// Windows virtual-key codes the tests use.
inline constexpr int kVkBack = 0x08;
inline constexpr int kVkTab = 0x09;
inline constexpr int kVkReturn = 0x0D;
inline constexpr int kVkLeft = 0x25;

// Move to (x, y), press and release the left button there.
void Click(const LibraryCopy& lib, int x, int y);

// Press at `from`, move with the button held to `to`, release at `to`.
void Drag(const LibraryCopy& lib, int from_x, int from_y, int to_x, int to_y);

// One key stroke: KEYDOWN(vk, ch), CHAR(ch, ch), KEYUP(vk, ch), each with `modifiers`
// (INPUT_SHIFT, INPUT_ALT, INPUT_CONTROL).
void Stroke(const LibraryCopy& lib, int vk, int ch, int modifiers = 0);

// Types letters, digits and blanks one stroke each; a letter's key code is its upper case.
void TypeText(const LibraryCopy& lib, std::string_view text);

}  // namespace quillo_test
