// The command slots through which the host's thread hands work to the engine
// and input threads, without a lock.
//
// A producer claims a free slot (compare-and-exchange FREE -> CLAIMED, lowest
// index first), writes the command, its parameters and its posting number, and
// publishes it (exchange to READY). The consumer runs the READY slots it finds
// in the order they were posted, not in index order: a slot freed early is
// claimed again by a later command, and keys typed quickly must reach the page
// in the order they were typed. Every operation on `state` is sequentially
// consistent, so the fields written between claim and publish are visible to
// the consumer that saw READY.
//
// A consumer with nothing to run sleeps on the table's wake word instead of
// looking again after a while: it sets the word, looks once more, and waits
// while the word stays set. A producer that published a slot (or set a word
// the consumer tests before it sleeps) clears the word and wakes it; when the
// consumer is not asleep that costs the producer one load.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/platform.h"

namespace quillo {

enum SlotState : int32_t { SLOT_FREE = 0, SLOT_CLAIMED = 1, SLOT_READY = 2 };

enum Command : int32_t {
  CMD_INIT_CEF = 0,
  CMD_CREATE_BROWSER = 1,
  CMD_MESSAGE_LOOP_WORK = 2,
  CMD_INPUT = 3,
  CMD_GO_BACK_FORWARD_HOME = 4,
};

struct CommandSlot {
  int32_t command = 0;  // meaningful only while READY
  std::atomic<int32_t> state{SLOT_FREE};
  int32_t param1 = 0;
  int32_t param2 = 0;
  int32_t param3 = 0;
  uint32_t posted = 0;  // posting number; meaningful only while READY
};

constexpr int kSlotCount = 10;

// A table of kSlotCount slots: one producer thread (the host's), one consumer.
class CommandTable {
 public:
  // One scan from index 0: claims, fills and publishes the lowest free slot,
  // then wakes the consumer if it sleeps. False when every slot was taken.
  // Never allocates.
  bool TryPost(int32_t command, int32_t p1, int32_t p2, int32_t p3);

  // Retries TryPost every `retry` until it succeeds or keepTrying turns
  // false (tested before the first scan and after every failed one). False
  // when the command was dropped.
  bool PostWhile(const std::atomic<bool>& keepTrying, std::chrono::milliseconds retry,
                 int32_t command, int32_t p1, int32_t p2, int32_t p3) {
    while (keepTrying.load()) {
      if (TryPost(command, p1, p2, p3)) return true;
      std::this_thread::sleep_for(retry);
    }
    return false;
  }

  // Runs, in posting order, every slot posted no later than the newest one
  // READY in a first scan, with run(command, p1, p2, p3), and frees it.
  // Returns how many slots ran. One scan is not enough: a post can land in a
  // slot the scan has passed and the next one in a slot it has not reached, so
  // the later post would run first. With one producer, every post before the
  // newest seen was published before it, so a second scan finds them all;
  // posts it finds beyond that newest one run in the next pass.
  template <typename Run>
  int ConsumePass(Run&& run) {
    bool any = false;
    uint32_t newest = 0;
    for (CommandSlot& slot : m_slots) {
      if (slot.state.load() != SLOT_READY) continue;
      // Differences order posting numbers across the counter's wrap.
      if (!any || static_cast<int32_t>(slot.posted - newest) > 0) newest = slot.posted;
      any = true;
    }
    if (!any) return 0;
    CommandSlot* ready[kSlotCount];
    int count = 0;
    for (CommandSlot& slot : m_slots) {
      if (slot.state.load() != SLOT_READY || static_cast<int32_t>(slot.posted - newest) > 0)
        continue;
      int at = count++;  // insertion by posting number
      for (; at > 0 && static_cast<int32_t>(slot.posted - ready[at - 1]->posted) < 0; --at)
        ready[at] = ready[at - 1];
      ready[at] = &slot;
    }
    for (int i = 0; i < count; ++i) {
      run(ready[i]->command, ready[i]->param1, ready[i]->param2, ready[i]->param3);
      ready[i]->state.exchange(SLOT_FREE);
    }
    return count;
  }

  // Consumer: sleeps until a slot is published or Wake is called. Returns at
  // once when a slot is READY already or stopWaiting() is true; stopWaiting
  // reads the words whose producers call Wake after setting them. May also
  // return without cause; callers loop.
  template <typename StopWaiting>
  void WaitForWork(StopWaiting&& stopWaiting) {
    // Announce the sleep before the last look: a producer publishes, then
    // reads the word, so either this look sees its slot or it sees the word.
    m_wakeWord.store(kConsumerAsleep);
    if (!AnyReady() && !stopWaiting()) {
      // The kernel sleeps only while the word still holds kConsumerAsleep, so
      // a wake between the look and the sleep is never lost.
      while (m_wakeWord.load() == kConsumerAsleep)
        platform::WaitWhileEquals(m_wakeWord, kConsumerAsleep);
    }
    m_wakeWord.store(kConsumerAwake);
  }

  // Producer: wakes the consumer if it sleeps in WaitForWork.
  void Wake() {
    if (m_wakeWord.load() == kConsumerAsleep &&
        m_wakeWord.exchange(kConsumerAwake) == kConsumerAsleep)
      platform::WakeWordWaiter(m_wakeWord);
  }

  // True from the consumer's announcement of a sleep until it is woken.
  bool ConsumerAsleep() const { return m_wakeWord.load() == kConsumerAsleep; }

  // Frees slot i, discarding what it held.
  void Reset(int i) { m_slots[i].state.exchange(SLOT_FREE); }
  int32_t StateOf(int i) const { return m_slots[i].state.load(); }

 private:
  static constexpr uint32_t kConsumerAwake = 0;
  // Producers' posting counter (several producers are tolerated, not expected).
  std::atomic<uint32_t> m_posts{0};
  static constexpr uint32_t kConsumerAsleep = 1;

  bool AnyReady() const {
    for (const CommandSlot& slot : m_slots)
      if (slot.state.load() == SLOT_READY) return true;
    return false;
  }

  CommandSlot m_slots[kSlotCount];
  // kConsumerAsleep from the consumer's last look until a producer clears it;
  // written by both sides, waited on by the consumer only.
  std::atomic<uint32_t> m_wakeWord{kConsumerAwake};
};

}  // namespace quillo
