// NoticeText<N>: a text that the engine thread records and the host's thread
// reads, without a lock and without ever handing out a half-written text.
//
// Three buffers of N bytes: the writer fills a spare one and publishes it;
// the reader takes the newest published one and keeps it until it asks again,
// so the text the host holds stays in place until its next read. One writer
// thread, one reader thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/utf.h"

namespace quillo {

template <size_t N>
class NoticeText {
 public:
  static constexpr size_t kCapacity = N;

  // Writer: records text, cut at a UTF-8 character boundary to N - 1 bytes.
  void Publish(std::string_view text) {
    platform::CopyUtf8Bounded(m_buffers[m_back], N, text);
    m_back = m_middle.exchange(static_cast<uint8_t>(m_back | kFresh)) & kIndex;
  }

  // Reader: the newest recorded text (empty before the first), NUL-terminated.
  const char* Latest() {
    TakeFresh();
    return m_buffers[m_front];
  }

  // Reader: the newest text if one was recorded since the last read, else
  // null; the text handed out before stays in place either way.
  const char* TakeFresh() {
    if (!(m_middle.load() & kFresh)) return nullptr;
    m_front = m_middle.exchange(m_front) & kIndex;
    return m_buffers[m_front];
  }

 private:
  static constexpr uint8_t kIndex = 0x3;
  static constexpr uint8_t kFresh = 0x4;

  char m_buffers[3][N] = {};
  std::atomic<uint8_t> m_middle{1};  // published buffer, with kFresh when unread
  uint8_t m_back = 2;                // writer's spare buffer
  uint8_t m_front = 0;               // reader's current buffer
};

}  // namespace quillo
