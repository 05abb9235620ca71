// Host memory between inaccessible guard pages, which the host can take back: any write by the
// library outside the view memory, or into it after Revoke, kills the process at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillo_test {

class GuardedMemory {
 public:
  // width x height pixels of 4 bytes, ending right at the trailing guard page.
  GuardedMemory(int width, int height);
  ~GuardedMemory();
  GuardedMemory(const GuardedMemory&) = delete;
  GuardedMemory& operator=(const GuardedMemory&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  uint8_t* data() const { return data_; }
  size_t size() const { return static_cast<size_t>(width_) * height_ * 4; }
  bool revoked() const { return revoked_; }

  // Makes the view memory inaccessible, as freed memory would be.
  void Revoke();
  // Whether any byte differs from the fill it was given (0).
  bool Painted() const;

 private:
  int width_, height_;
  size_t mapped_ = 0;
  uint8_t* base_ = nullptr;
  uint8_t* data_ = nullptr;
  size_t view_offset_ = 0;  // page-aligned start of the pages that hold the view memory
  bool revoked_ = false;
};

}  // namespace quillo_test
