#include "support/keyboard.h"

#include <cctype>
#include <chrono>
#include <thread>

#include "quillo.h"

namespace quillo_test {

void HostInput::Send(int event, int a, int b) {
  lib_.InputWeb(event, a, b);
  for (int i = 0; i < kPollsBetween; ++i) {
    host_.Update();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void HostInput::Click(int x, int y) {
  Send(INPUT_MOUSE | INPUT_MOUSE_MOVE, x, y);
  Send(INPUT_MOUSE | INPUT_MOUSE_DOWN, x, y);
  Send(INPUT_MOUSE | INPUT_MOUSE_UP, x, y);
}

void HostInput::Drag(int from_x, int from_y, int to_x, int to_y) {
  Send(INPUT_MOUSE | INPUT_MOUSE_MOVE, from_x, from_y);
  Send(INPUT_MOUSE | INPUT_MOUSE_DOWN, from_x, from_y);
  constexpr int kSteps = 8;
  for (int i = 1; i <= kSteps; ++i) {
    Send(INPUT_MOUSE | INPUT_MOUSE_MOVE | INPUT_SHIFT, from_x + (to_x - from_x) * i / kSteps,
         from_y + (to_y - from_y) * i / kSteps);
  }
  Send(INPUT_MOUSE | INPUT_MOUSE_UP, to_x, to_y);
}

void HostInput::Stroke(int vk, int ch, int modifiers) {
  Send(INPUT_KEY | INPUT_KEY_DOWN | modifiers, vk, ch);
  Send(INPUT_KEY | INPUT_KEY_CHAR | modifiers, ch, ch);
  Send(INPUT_KEY | INPUT_KEY_UP | modifiers, vk, ch);
}

void HostInput::Press(int vk, int modifiers) {
  Send(INPUT_KEY | INPUT_KEY_DOWN | modifiers, vk, 0);
  Send(INPUT_KEY | INPUT_KEY_UP | modifiers, vk, 0);
}

void HostInput::Type(std::string_view text) {
  for (const char c : text) {
    const int ch = static_cast<unsigned char>(c);
    Stroke(std::toupper(ch), ch);
  }
}

}  // namespace quillo_test
