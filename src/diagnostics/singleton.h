// SingleTon<T>: one process-wide instance of T, created on first use and
// deleted when the library is unloaded (or the process exits).
//
// The first GetInstance happens on the host's thread before any thread of the
// library starts, so creation needs no synchronisation.
#pragma once

#include <atomic>

namespace quillo {

template <typename T>
class SingleTon {
 public:
  static T* GetInstance() {
    T* instance = s_instance.load(std::memory_order_acquire);
    if (instance == nullptr) {
      instance = new T;
      s_instance.store(instance, std::memory_order_release);
      static Destroyer destroyer;  // runs at library unload
    }
    return instance;
  }

 protected:
  SingleTon() = default;
  virtual ~SingleTon() = default;

 private:
  struct Destroyer {
    ~Destroyer() { delete s_instance.exchange(nullptr); }
  };
  static inline std::atomic<T*> s_instance{nullptr};
};

}  // namespace quillo
