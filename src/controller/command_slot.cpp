#include "controller/command_slot.h"

namespace quillo {

bool CommandTable::TryPost(int32_t command, int32_t p1, int32_t p2, int32_t p3) {
  for (CommandSlot& slot : m_slots) {
    int32_t expected = SLOT_FREE;
    if (!slot.state.compare_exchange_strong(expected, SLOT_CLAIMED)) continue;
    slot.command = command;
    slot.param1 = p1;
    slot.param2 = p2;
    slot.param3 = p3;
    slot.posted = m_posts.fetch_add(1);
    slot.state.exchange(SLOT_READY);
    Wake();
    return true;
  }
  return false;
}

}  // namespace quillo
