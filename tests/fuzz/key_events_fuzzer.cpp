// Key events of any type, code, character and modifiers map to at most
// kMaxActions engine key events, each with a key symbol; a key that waits for
// its character is pressed at most once when flushed.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "wpe/input/key_mapper.h"

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
    quillo::engine::KeyAction out[quillo::engine::KeyMapper::kMaxActions];
    const int n = mapper.Map(event, out);
    if (n < 0 || n > quillo::engine::KeyMapper::kMaxActions) abort();
    for (int k = 0; k < n; ++k)
      if (out[k].keysym == 0) abort();
    if (mapper.HasPending() && (data[i + 6] & 1)) {
      const int flushed = mapper.FlushPending(mapper.PendingSerial(), out);
      if (flushed != 1 || out[0].keysym == 0 || !out[0].pressed || mapper.HasPending()) abort();
    }
  }
  return 0;
}
