// Key events of any type, code, character and modifiers map to at most two
// engine key events; a text character is pressed and released as a pair.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cef/wpe/key_mapper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static quillo::engine::KeyMapper mapper;  // keeps surrogate state across inputs
  for (size_t i = 0; i + 8 <= size; i += 8) {
    CefKeyEvent event;
    event.type = static_cast<cef_key_event_type_t>(data[i] % 4);
    std::memcpy(&event.windows_key_code, data + i + 1, 2);
    event.windows_key_code &= 0xFFFF;
    event.modifiers = data[i + 3];
    uint16_t character;
    std::memcpy(&character, data + i + 4, 2);
    event.character = character;
    event.unmodified_character = character;
    quillo::engine::KeyAction out[2];
    const int n = mapper.Map(event, out);
    if (n < 0 || n > 2) abort();
    if (n == 2 && (!out[0].pressed || out[1].pressed || out[0].keysym != out[1].keysym)) abort();
    if (n >= 1 && out[0].keysym == 0) abort();
  }
  return 0;
}
