#include "support/guarded_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

namespace quillo_test {

GuardedMemory::GuardedMemory(int width, int height) : width_(width), height_(height) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t pages = (size() + page - 1) / page;
  mapped_ = (pages + 2) * page;
  void* base = mmap(nullptr, mapped_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) std::abort();
  base_ = static_cast<uint8_t*>(base);
  view_offset_ = page;
  if (mprotect(base_ + view_offset_, pages * page, PROT_READ | PROT_WRITE) != 0) std::abort();
  data_ = base_ + view_offset_ + pages * page - size();
}

GuardedMemory::~GuardedMemory() {
  munmap(base_, mapped_);
}

void GuardedMemory::Revoke() {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  mprotect(base_ + view_offset_, mapped_ - 2 * page, PROT_NONE);
  revoked_ = true;
}

bool GuardedMemory::Painted() const {
  if (revoked_) return false;
  for (size_t i = 0; i < size(); ++i)
    if (data_[i] != 0) return true;
  return false;
}

}  // namespace quillo_test
