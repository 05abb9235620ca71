// Host key events (Windows virtual-key codes, UTF-16 characters) as the engine's key presses:
// when a text key is pressed, which character it types, and that it types it once.
#include "wpe/input/key_mapper.h"

#include <gtest/gtest.h>
#include <wpe/wpe.h>
#include <xkbcommon/xkbcommon.h>

#include <vector>

namespace quillo::engine {
namespace {

CefKeyEvent Key(cef_key_event_type_t type, int code, int character = 0, uint32_t modifiers = 0) {
  CefKeyEvent event;
  event.type = type;
  event.windows_key_code = code;
  event.character = static_cast<char16_t>(character);
  event.unmodified_character = event.character;
  event.modifiers = modifiers;
  return event;
}

std::vector<KeyAction> Map(KeyMapper& mapper, const CefKeyEvent& event) {
  KeyAction out[KeyMapper::kMaxActions];
  const int n = mapper.Map(event, out);
  return std::vector<KeyAction>(out, out + n);
}

constexpr uint32_t kHardwareA = 38, kHardwareShift = 50;

TEST(KeyMapper, TextKeyIsPressedWithTheCharacterOfItsChar) {
  KeyMapper mapper;
  EXPECT_TRUE(Map(mapper, Key(KEYEVENT_KEYDOWN, 'A')).empty());
  ASSERT_TRUE(mapper.HasPending());
  const auto typed = Map(mapper, Key(KEYEVENT_CHAR, 'a', 'a'));
  ASSERT_EQ(typed.size(), 1u);
  EXPECT_EQ(typed[0].keysym, uint32_t{XKB_KEY_a});
  EXPECT_TRUE(typed[0].pressed);
  EXPECT_EQ(typed[0].hardwareKeyCode, kHardwareA);
  EXPECT_FALSE(mapper.HasPending());
  const auto released = Map(mapper, Key(KEYEVENT_KEYUP, 'A'));
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].keysym, uint32_t{XKB_KEY_a});
  EXPECT_FALSE(released[0].pressed);
  EXPECT_EQ(released[0].hardwareKeyCode, kHardwareA);
}

TEST(KeyMapper, KeyWithoutCharIsPressedWhenFlushedAndItsLateCharTypesNothing) {
  KeyMapper mapper;
  Map(mapper, Key(KEYEVENT_KEYDOWN, 'W', 0, EVENTFLAG_SHIFT_DOWN));
  const uint32_t serial = mapper.PendingSerial();
  KeyAction press[1];
  EXPECT_EQ(mapper.FlushPending(serial + 1, press), 0) << "a stale flush pressed the key";
  ASSERT_EQ(mapper.FlushPending(serial, press), 1);
  EXPECT_EQ(press[0].keysym, uint32_t{XKB_KEY_W});
  EXPECT_EQ(mapper.FlushPending(serial, press), 0) << "pressed twice";
  EXPECT_TRUE(Map(mapper, Key(KEYEVENT_CHAR, 'W', 'W', EVENTFLAG_SHIFT_DOWN)).empty());
  // A different character (another layout) is typed: the engine cannot take the first back.
  Map(mapper, Key(KEYEVENT_KEYDOWN, 0xC0));
  ASSERT_EQ(mapper.FlushPending(mapper.PendingSerial(), press), 1);
  EXPECT_EQ(press[0].keysym, uint32_t{XKB_KEY_grave});
  EXPECT_EQ(Map(mapper, Key(KEYEVENT_CHAR, 0xF6, 0xF6)).size(), 2u);
}

TEST(KeyMapper, KeyUpOfAWaitingKeyPressesThenReleasesIt) {
  KeyMapper mapper;
  Map(mapper, Key(KEYEVENT_KEYDOWN, 'D'));
  const auto actions = Map(mapper, Key(KEYEVENT_KEYUP, 'D'));
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_TRUE(actions[0].pressed);
  EXPECT_FALSE(actions[1].pressed);
  EXPECT_EQ(actions[0].keysym, actions[1].keysym);
}

TEST(KeyMapper, ShortcutsAndModifierKeysArePressedAtOnce) {
  KeyMapper mapper;
  const auto shift = Map(mapper, Key(KEYEVENT_KEYDOWN, 0x10, 0, EVENTFLAG_SHIFT_DOWN));
  ASSERT_EQ(shift.size(), 1u);
  EXPECT_EQ(shift[0].keysym, uint32_t{XKB_KEY_Shift_L});
  EXPECT_EQ(shift[0].hardwareKeyCode, kHardwareShift);
  const auto ctrl_a = Map(mapper, Key(KEYEVENT_KEYDOWN, 'A', 0, EVENTFLAG_CONTROL_DOWN));
  ASSERT_EQ(ctrl_a.size(), 1u);
  EXPECT_EQ(ctrl_a[0].keysym, uint32_t{XKB_KEY_a});
  EXPECT_TRUE(ctrl_a[0].modifiers & wpe_input_keyboard_modifier_control);
  EXPECT_FALSE(mapper.HasPending());
  EXPECT_TRUE(Map(mapper, Key(KEYEVENT_CHAR, 1, 1, EVENTFLAG_CONTROL_DOWN)).empty());
}

}  // namespace
}  // namespace quillo::engine
