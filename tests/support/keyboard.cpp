#include "support/keyboard.h"

#include <cctype>

#include "quillo.h"

namespace quillo_test {

void Click(const LibraryCopy& lib, int x, int y) {
  lib.InputWeb(INPUT_MOUSE | INPUT_MOUSE_MOVE, x, y);
  lib.InputWeb(INPUT_MOUSE | INPUT_MOUSE_DOWN, x, y);
  lib.InputWeb(INPUT_MOUSE | INPUT_MOUSE_UP, x, y);
}

void Drag(const LibraryCopy& lib, int from_x, int from_y, int to_x, int to_y) {
  lib.InputWeb(INPUT_MOUSE | INPUT_MOUSE_MOVE, from_x, from_y);
  lib.InputWeb(INPUT_MOUSE | INPUT_MOUSE_DOWN, from_x, from_y);
  // A few steps on the way, as a real pointer reports them.
  constexpr int kSteps = 4;
  for (int i = 1; i <= kSteps; ++i) {
    lib.InputWeb(INPUT_MOUSE | INPUT_MOUSE_MOVE | INPUT_SHIFT,
                 from_x + (to_x - from_x) * i / kSteps, from_y + (to_y - from_y) * i / kSteps);
  }
  lib.InputWeb(INPUT_MOUSE | INPUT_MOUSE_UP, to_x, to_y);
}

void Stroke(const LibraryCopy& lib, int vk, int ch, int modifiers) {
  lib.InputWeb(INPUT_KEY | INPUT_KEY_DOWN | modifiers, vk, ch);
  lib.InputWeb(INPUT_KEY | INPUT_KEY_CHAR | modifiers, ch, ch);
  lib.InputWeb(INPUT_KEY | INPUT_KEY_UP | modifiers, vk, ch);
}

void TypeText(const LibraryCopy& lib, std::string_view text) {
  for (const char c : text) {
    const int ch = static_cast<unsigned char>(c);
    Stroke(lib, std::toupper(ch), ch);
  }
}

}  // namespace quillo_test
