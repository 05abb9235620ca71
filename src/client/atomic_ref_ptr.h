// AtomicRefPtr<T>: a CefRefPtr that one thread may replace while others copy
// it. A plain CefRefPtr read during a reset can add a reference to an object
// that is being freed.
//
// Readers announce themselves in m_readers for the few instructions between
// loading the pointer and adding their reference; a writer that replaced the
// pointer waits until no reader is inside that window before it drops the old
// reference. Readers never wait; only Store waits, and only for readers that
// saw the old value.
#pragma once

#include <atomic>
#include <thread>

#include "cef_base.h"

namespace quillo {

template <class T>
class AtomicRefPtr {
 public:
  AtomicRefPtr() = default;
  ~AtomicRefPtr() {
    if (T* p = m_ptr.exchange(nullptr)) p->Release();
  }
  AtomicRefPtr(const AtomicRefPtr&) = delete;
  AtomicRefPtr& operator=(const AtomicRefPtr&) = delete;

  CefRefPtr<T> Load() const {
    m_readers.fetch_add(1);
    CefRefPtr<T> copy(m_ptr.load());  // adds the reference while announced
    m_readers.fetch_sub(1);
    return copy;
  }

  bool IsNull() const { return m_ptr.load() == nullptr; }

  void Store(CefRefPtr<T> value) {
    T* fresh = value.release();  // the stored pointer owns this reference
    T* old = m_ptr.exchange(fresh);
    if (old == nullptr) return;
    // A reader that loaded `old` is inside its window; later readers see `fresh`.
    while (m_readers.load() != 0) std::this_thread::yield();
    old->Release();
  }

 private:
  std::atomic<T*> m_ptr{nullptr};
  mutable std::atomic<int> m_readers{0};
};

}  // namespace quillo
