// The views' handles: what the host holds is a number made of a tag, a slot and the slot's
// generation, never an address. A null, destroyed or made-up handle finds no live slot of its
// generation, so it is refused without ever being followed; a slot that is used again gets the
// next generation, so an old handle never reaches the new view.
//
// Threads: the host's thread only. The table owns its values.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace quillo::views {

template <typename T>
class HandleTable {
 public:
  explicit HandleTable(uint32_t capacity) : m_capacity(capacity) {}

  // Stores the value make(handle) returns (a std::unique_ptr<T>) under a new handle; the
  // handle, or 0 when the table is full or make returned null.
  template <typename Make>
  uint64_t Add(Make&& make) {
    uint32_t slot = 0;
    while (slot < m_slots.size() && m_slots[slot].value) ++slot;
    if (slot == m_slots.size()) {
      if (slot >= m_capacity) return 0;
      m_slots.emplace_back();
    }
    Slot& s = m_slots[slot];
    const uint64_t handle = Encode(slot, s.generation);
    s.value = make(handle);
    return s.value ? handle : 0;
  }

  // The live value of handle, or null.
  T* Find(uint64_t handle) const {
    uint32_t slot, generation;
    if (!Decode(handle, &slot, &generation)) return nullptr;
    const Slot& s = m_slots[slot];
    return s.generation == generation ? s.value.get() : nullptr;
  }

  // Takes the value of handle out (null when none); the handle is dead from now on.
  std::unique_ptr<T> Remove(uint64_t handle) {
    if (Find(handle) == nullptr) return nullptr;
    Slot& s = m_slots[SlotOf(handle)];
    ++s.generation;
    return std::move(s.value);
  }

  size_t Count() const {
    size_t n = 0;
    for (const Slot& s : m_slots) n += s.value ? 1 : 0;
    return n;
  }

  // Calls fn(handle, value) for every live value.
  template <typename Fn>
  void ForEach(Fn&& fn) const {
    for (uint32_t i = 0; i < m_slots.size(); ++i)
      if (m_slots[i].value) fn(Encode(i, m_slots[i].generation), *m_slots[i].value);
  }

  // Every live handle, in slot order.
  std::vector<uint64_t> Handles() const {
    std::vector<uint64_t> handles;
    ForEach([&](uint64_t handle, T&) { handles.push_back(handle); });
    return handles;
  }

 private:
  // The top byte marks the library's handles; bits 24..55 the generation, 0..23 the slot + 1.
  static constexpr uint64_t kTag = 0x51ull << 56;
  static constexpr uint64_t kTagMask = 0xFFull << 56;
  static constexpr uint64_t kSlotMask = (1ull << 24) - 1;

  struct Slot {
    std::unique_ptr<T> value;
    uint32_t generation = 1;
  };

  static uint64_t Encode(uint32_t slot, uint32_t generation) {
    return kTag | (static_cast<uint64_t>(generation) << 24) | (slot + 1);
  }
  static uint32_t SlotOf(uint64_t handle) {
    return static_cast<uint32_t>((handle & kSlotMask) - 1);
  }
  bool Decode(uint64_t handle, uint32_t* slot, uint32_t* generation) const {
    if ((handle & kTagMask) != kTag || (handle & kSlotMask) == 0) return false;
    *slot = SlotOf(handle);
    *generation = static_cast<uint32_t>(handle >> 24);
    return *slot < m_slots.size();
  }

  const uint32_t m_capacity;
  std::vector<Slot> m_slots;
};

}  // namespace quillo::views
