// Frames on their way from the engine to the host's pixel memory. The painting thread writes
// each frame into a buffer of the library's own, already in the host's layout; the polling
// thread copies the newest whole frame into the host's memory when the host asks (Deliver),
// only where it differs from the frame the host was given before. So the host's memory changes
// only inside Deliver, and always to one whole frame: a host may read it at leisure until it
// polls again, however slowly it polls.
//
// Three buffers take turns (triple buffering): the painter fills its back buffer and publishes
// it as the newest; it takes back the buffer the newest replaced (never taken, or given back by
// the poller). The poller takes the newest and gives back the one it had. The hand-over is one
// atomic word; neither side ever waits for the other.
//
// Threads: Configure and Release while neither side runs (no page open, or before the threads
// start). Begin, Write and Publish on the painting thread. Deliver on the polling thread.
// BytesDelivered from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "client/dirty_region.h"

namespace quillo {

class FrameStore {
 public:
  // The host's memory: width x height pixels of 4 bytes, rows stride bytes apart; B,G,R,A or,
  // swapped, R,G,B,A; the top row first or, bottom-up, the bottom row first.
  struct Layout {
    int width = 0;
    int height = 0;
    size_t stride = 0;
    bool swapRedBlue = false;
    bool bottomUp = false;
  };

  FrameStore() = default;
  ~FrameStore() { Release(); }
  FrameStore(const FrameStore&) = delete;
  FrameStore& operator=(const FrameStore&) = delete;

  // Makes the three buffers for layout (their pages are taken from the system only as frames
  // touch them; a view of no pixels has none). False, with nothing painted afterwards, when the
  // layout is unusable or the memory cannot be had.
  bool Configure(const Layout& layout);
  void Release();
  bool Configured() const { return m_configured; }
  const Layout& layout() const { return m_layout; }

  // ---- Painting thread: one frame is Begin(area), Write for each piece of area, Publish(area).
  // Brings the back buffer up to the newest published frame outside area (which the frame
  // writes whole).
  void Begin(const DirtyRegion& area);
  // Copies a w x h block of B,G,R,A pixels (rows sourceStride bytes apart) to view position
  // (x, y) of the back buffer, in the host's layout. The block lies inside the view.
  void Write(int x, int y, int w, int h, const uint8_t* source, size_t sourceStride);
  // Makes the back buffer the newest frame; area is what changed since the frame before.
  void Publish(const DirtyRegion& area);
  // How many frames were published (the newest one's number; 0 before the first).
  uint64_t Published() const { return m_frames; }

  // ---- Polling thread.
  // Whether a frame was published since the last delivery (one load).
  bool HasNew() const { return (m_newest.load(std::memory_order_acquire) & kFresh) != 0; }
  // Copies the newest frame into target (memory of the layout) where it differs from the frame
  // delivered before; false, with nothing written, when no frame was published since. area
  // receives what was copied and frame the frame's number (both optional).
  bool Deliver(uint8_t* target, DirtyRegion* area = nullptr, uint64_t* frame = nullptr);

  uint64_t BytesDelivered() const { return m_bytesDelivered.load(std::memory_order_relaxed); }

 private:
  static constexpr int kSlots = 3;
  static constexpr uint32_t kIndexMask = 0x3;
  static constexpr uint32_t kFresh = 0x4;  // published and not taken yet

  struct Slot {
    uint8_t* pixels = nullptr;
    DirtyRegion sinceTaken;  // what changed since the frame the poller took last
    uint64_t frame = 0;
  };

  // Copies the rows of rect (view pixels) from one buffer of the layout to another.
  size_t CopyRect(const CefRect& rect, const uint8_t* from, uint8_t* to) const;
  size_t Offset(int x, int y) const;

  Layout m_layout;     // set by Configure
  size_t m_bytes = 0;  // each slot's size, as allocated
  bool m_configured = false;
  // Each slot's pixels and record belong to whoever holds its index: the painter (back), the
  // word m_newest (published or given back), or the poller (front).
  Slot m_slots[kSlots];
  // The hand-over word: the index in m_newest's low bits, kFresh when published and not taken.
  std::atomic<uint32_t> m_newest{1};

  // Painting thread only.
  int m_back = 0;
  int m_lastPublished = -1;
  DirtyRegion m_stale[kSlots];  // where each buffer lags behind the newest published frame
  uint64_t m_frames = 0;

  // Polling thread only.
  int m_front = 2;
  std::atomic<uint64_t> m_bytesDelivered{0};
};

}  // namespace quillo
