#include "client/frame_store.h"

#include <cstring>

#include "platform/platform.h"

namespace quillo {

bool FrameStore::Configure(const Layout& layout) {
  Release();
  if (layout.width < 0 || layout.height < 0 ||
      layout.stride < static_cast<size_t>(layout.width) * 4)
    return false;
  const size_t bytes = layout.stride * static_cast<size_t>(layout.height);
  if (layout.stride != 0 && bytes / layout.stride != static_cast<size_t>(layout.height))
    return false;
  // A view without pixels still has frames (their areas are empty); it has no buffers. The size
  // is kept first: a Release after a failed allocation frees the buffers made before it.
  m_bytes = bytes;
  for (int i = 0; i < kSlots && bytes > 0; ++i) {
    // The buffers of the first two frames (a fresh page's blank paint, then its content) are
    // made ready now, while the engine starts; the third fills its pages at its first frame.
    m_slots[i].pixels = platform::AllocateFrameMemory(bytes, i < 2);
    if (m_slots[i].pixels == nullptr) {
      Release();
      return false;
    }
  }
  m_layout = layout;
  m_configured = true;
  m_newest.store(1);
  m_back = 0;
  m_front = 2;
  m_lastPublished = -1;
  for (DirtyRegion& stale : m_stale) stale.Clear();
  return true;
}

void FrameStore::Release() {
  for (Slot& slot : m_slots) {
    platform::FreeFrameMemory(slot.pixels, m_bytes);
    slot = Slot();
  }
  m_configured = false;
}

size_t FrameStore::Offset(int x, int y) const {
  const int row = m_layout.bottomUp ? m_layout.height - 1 - y : y;
  return static_cast<size_t>(row) * m_layout.stride + static_cast<size_t>(x) * 4;
}

size_t FrameStore::CopyRect(const CefRect& rect, const uint8_t* from, uint8_t* to) const {
  const size_t rowBytes = static_cast<size_t>(rect.width) * 4;
  for (int y = rect.y; y < rect.y + rect.height; ++y) {
    const size_t at = Offset(rect.x, y);
    std::memcpy(to + at, from + at, rowBytes);
  }
  return rowBytes * static_cast<size_t>(rect.height);
}

void FrameStore::Begin(const DirtyRegion& area) {
  if (!Configured()) return;
  DirtyRegion& stale = m_stale[m_back];
  if (m_lastPublished >= 0) {
    // The newest frame's buffer stays as it is until the next Publish, whoever holds it now.
    const uint8_t* newest = m_slots[m_lastPublished].pixels;
    for (const CefRect& rect : stale)
      if (!area.Covers(rect)) CopyRect(rect, newest, m_slots[m_back].pixels);
  }
  stale.Clear();
}

void FrameStore::Write(int x, int y, int w, int h, const uint8_t* source, size_t sourceStride) {
  if (!Configured() || w <= 0 || h <= 0) return;
  uint8_t* const back = m_slots[m_back].pixels;
  const size_t rowBytes = static_cast<size_t>(w) * 4;
  for (int i = 0; i < h; ++i) {
    const uint8_t* from = source + static_cast<size_t>(i) * sourceStride;
    uint8_t* to = back + Offset(x, y + i);
    if (!m_layout.swapRedBlue) {
      std::memcpy(to, from, rowBytes);
      continue;
    }
    for (size_t b = 0; b < rowBytes; b += 4) {
      to[b] = from[b + 2];
      to[b + 1] = from[b + 1];
      to[b + 2] = from[b];
      to[b + 3] = from[b + 3];
    }
  }
}

void FrameStore::Publish(const DirtyRegion& area) {
  if (!Configured()) return;
  const int back = m_back;
  for (int i = 0; i < kSlots; ++i)
    if (i != back) m_stale[i].Add(area);
  Slot& slot = m_slots[back];
  slot.frame = ++m_frames;
  uint32_t newest = m_newest.load(std::memory_order_acquire);
  for (;;) {
    // A newest frame the poller never took is replaced: what it changed must be copied with
    // this one. Reading its record is safe while the poller may take it: both only read.
    slot.sinceTaken = area;
    if (newest & kFresh) slot.sinceTaken.Add(m_slots[newest & kIndexMask].sinceTaken);
    if (m_newest.compare_exchange_weak(newest, static_cast<uint32_t>(back) | kFresh,
                                       std::memory_order_acq_rel, std::memory_order_acquire))
      break;
  }
  m_lastPublished = back;
  m_back = static_cast<int>(newest & kIndexMask);
}

bool FrameStore::Deliver(uint8_t* target, DirtyRegion* area, uint64_t* frame) {
  // Nothing new: one load, no write, no wait.
  if (target == nullptr || !HasNew()) return false;
  const uint32_t taken =
      m_newest.exchange(static_cast<uint32_t>(m_front), std::memory_order_acq_rel);
  m_front = static_cast<int>(taken & kIndexMask);
  const Slot& slot = m_slots[m_front];
  size_t copied = 0;
  for (const CefRect& rect : slot.sinceTaken) copied += CopyRect(rect, slot.pixels, target);
  m_bytesDelivered.fetch_add(copied, std::memory_order_relaxed);
  if (area != nullptr) *area = slot.sinceTaken;
  if (frame != nullptr) *frame = slot.frame;
  return true;
}

}  // namespace quillo
