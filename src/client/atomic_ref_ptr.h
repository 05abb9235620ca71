// AtomicRefPtr<T>: a CefRefPtr that one thread may replace while others copy
// it. A plain CefRefPtr read during a reset can add a reference to an object
// that is being freed; here every reader holds the old value alive until its
// own copy has taken a reference.
#pragma once

#include <atomic>
#include <memory>

#include "cef_base.h"

namespace quillo {

template <class T>
class AtomicRefPtr {
 public:
  CefRefPtr<T> Load() const {
    std::shared_ptr<const Holder> holder = m_holder.load();
    return holder ? holder->ref : CefRefPtr<T>();
  }
  bool IsNull() const { return m_holder.load() == nullptr; }
  void Store(CefRefPtr<T> value) {
    m_holder.store(value ? std::make_shared<const Holder>(Holder{value}) : nullptr);
  }

 private:
  struct Holder {
    CefRefPtr<T> ref;
  };
  std::atomic<std::shared_ptr<const Holder>> m_holder;
};

}  // namespace quillo
