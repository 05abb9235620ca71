// SingleTon<T>: one process-wide instance of T, created on first use and
// never destroyed.
//
// It lives in static storage of its own and is never deleted: at exit the
// engine's threads may still log (and so read the instance) while the exiting
// thread runs the library's destructors, and an instance deleted then was
// read after its end or created again and lost. T must need no clean-up.
// Creation is thread-safe (a function-local static).
#pragma once

#include <new>

namespace quillo {

template <typename T>
class SingleTon {
 public:
  static T* GetInstance() {
    alignas(T) static unsigned char storage[sizeof(T)];
    static T* const instance = new (storage) T;
    return instance;
  }

 protected:
  SingleTon() = default;
  virtual ~SingleTon() = default;
};

}  // namespace quillo
