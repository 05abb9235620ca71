// Reference counting of the engine layer, with the names and behaviour of the
// Chromium Embedded Framework: objects derive (virtually) from
// CefBaseRefCounted, count references atomically, delete themselves when the
// count drops to zero, and are held through CefRefPtr. Any thread may add or
// drop a reference.
#pragma once

#include <atomic>
#include <cstddef>
#include <utility>

class CefBaseRefCounted {
 public:
  virtual void AddRef() const = 0;
  virtual bool Release() const = 0;  // true when this call deleted the object
  virtual bool HasOneRef() const = 0;
  virtual bool HasAtLeastOneRef() const = 0;

 protected:
  virtual ~CefBaseRefCounted() = default;
};

// The atomic count behind IMPLEMENT_REFCOUNTING.
class CefRefCount {
 public:
  void AddRef() const { count_.fetch_add(1); }
  // True when the count reached zero.
  bool Release() const { return count_.fetch_sub(1) == 1; }
  bool HasOneRef() const { return count_.load() == 1; }
  bool HasAtLeastOneRef() const { return count_.load() >= 1; }

 private:
  mutable std::atomic<int> count_{0};
};

#define IMPLEMENT_REFCOUNTING(ClassName)          \
 public:                                          \
  void AddRef() const override {                  \
    ref_count_.AddRef();                          \
  }                                               \
  bool Release() const override {                 \
    if (ref_count_.Release()) {                   \
      delete static_cast<const ClassName*>(this); \
      return true;                                \
    }                                             \
    return false;                                 \
  }                                               \
  bool HasOneRef() const override {               \
    return ref_count_.HasOneRef();                \
  }                                               \
  bool HasAtLeastOneRef() const override {        \
    return ref_count_.HasAtLeastOneRef();         \
  }                                               \
                                                  \
 private:                                         \
  CefRefCount ref_count_

// A strong reference. Copying adds a reference, destruction drops one. Like
// any smart pointer, one CefRefPtr object must not be written by one thread
// while another reads it.
template <class T>
class CefRefPtr {
 public:
  CefRefPtr() = default;
  CefRefPtr(std::nullptr_t) {}
  CefRefPtr(T* p) : ptr_(p) {
    if (ptr_) ptr_->AddRef();
  }
  CefRefPtr(const CefRefPtr& other) : CefRefPtr(other.ptr_) {}
  template <class U>
  CefRefPtr(const CefRefPtr<U>& other) : CefRefPtr(other.get()) {}
  CefRefPtr(CefRefPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ~CefRefPtr() {
    if (ptr_) ptr_->Release();
  }

  CefRefPtr& operator=(T* p) {
    if (p) p->AddRef();
    T* old = std::exchange(ptr_, p);
    if (old) old->Release();
    return *this;
  }
  CefRefPtr& operator=(const CefRefPtr& other) { return *this = other.ptr_; }
  CefRefPtr& operator=(CefRefPtr&& other) noexcept {
    if (this != &other) {
      T* old = std::exchange(ptr_, std::exchange(other.ptr_, nullptr));
      if (old) old->Release();
    }
    return *this;
  }
  CefRefPtr& operator=(std::nullptr_t) { return *this = static_cast<T*>(nullptr); }

  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  T& operator*() const { return *ptr_; }
  operator T*() const { return ptr_; }

  // Hands the reference to the caller without releasing it.
  T* release() { return std::exchange(ptr_, nullptr); }
  // Takes over a reference the caller already owns.
  static CefRefPtr Adopt(T* p) {
    CefRefPtr r;
    r.ptr_ = p;
    return r;
  }

 private:
  T* ptr_ = nullptr;
};

// Non-owning pointer, as CEF passes short-lived arguments.
template <class T>
using CefRawPtr = T*;
