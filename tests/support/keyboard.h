// Host input the way a desktop host forwards it: clicks, drags and key strokes as InputWeb words,
// one event at a time with UpdateWeb calls in between, as a host that forwards what happened
// since its last frame does. Events posted in a burst may reach the engine in another order.
#pragma once

#include <string_view>

#include "support/library_copy.h"
#include "support/poller.h"

namespace quillo_test {

// Windows virtual-key codes the tests use.
inline constexpr int kVkBack = 0x08;
inline constexpr int kVkTab = 0x09;
inline constexpr int kVkReturn = 0x0D;
inline constexpr int kVkLeft = 0x25;

class HostInput {
 public:
  // UpdateWeb calls after each event.
  static constexpr int kPollsBetween = 5;

  HostInput(const LibraryCopy& lib, Host& host) : lib_(lib), host_(host) {}

  // InputWeb(event, a, b), then kPollsBetween UpdateWeb calls.
  void Send(int event, int a, int b);

  // Move to (x, y), press and release the left button there.
  void Click(int x, int y);
  // Press at `from`, move with the button held to `to` in a few steps, release at `to`.
  void Drag(int from_x, int from_y, int to_x, int to_y);
  // One key stroke: KEYDOWN(vk, ch), CHAR(ch, ch), KEYUP(vk, ch), each with `modifiers`
  // (INPUT_SHIFT, INPUT_ALT, INPUT_CONTROL).
  void Stroke(int vk, int ch, int modifiers = 0);
  // A key without a character: KEYDOWN(vk, 0), KEYUP(vk, 0).
  void Press(int vk, int modifiers = 0);
  // Letters, digits and blanks one stroke each; a letter's key code is its upper case.
  void Type(std::string_view text);

 private:
  const LibraryCopy& lib_;
  Host& host_;
};

}  // namespace quillo_test
