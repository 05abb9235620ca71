#include "platform/platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/utf.h"

namespace quillo::platform {
namespace {

// What FindModule looks for and finds.
struct ModuleSearch {
  uintptr_t address;  // an address inside this library's code
  std::string path;   // the file name the loader opened it by; empty for the main program
  bool found = false;
};

// Finds the loaded object that holds search->address: this library, whatever its file is
// called (libquillo.so, the libquillo.so.0 link, a name the host chose) or, when it is
// linked into a program, the program.
int FindModule(struct dl_phdr_info* info, size_t, void* data) {
  auto* search = static_cast<ModuleSearch*>(data);
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD) continue;
    const uintptr_t start = info->dlpi_addr + segment.p_vaddr;
    if (search->address < start || search->address - start >= segment.p_memsz) continue;
    search->found = true;
    if (info->dlpi_name != nullptr) search->path = info->dlpi_name;
    return 1;
  }
  return 0;
}

std::string ExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf));
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace

size_t ModuleFileName(char16_t* buffer, size_t capacity, bool* truncated) {
  if (truncated) *truncated = false;
  if (buffer == nullptr || capacity == 0) return 0;
  ModuleSearch search{reinterpret_cast<uintptr_t>(&ModuleFileName), {}};
  dl_iterate_phdr(FindModule, &search);
  std::string path = search.path;
  if (!path.empty() && path[0] != '/') {
    // A relative name from the loader: make it absolute against the cwd.
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof(cwd)) != nullptr) path = std::string(cwd) + "/" + path;
  }
  if (path.empty()) path = ExecutablePath();
  std::u16string wide = Utf8ToUtf16(path);
  size_t n = Utf16CutLength(wide, capacity - 1);
  if (truncated) *truncated = n < wide.size();
  std::memcpy(buffer, wide.data(), n * sizeof(char16_t));
  buffer[n] = u'\0';
  return n;
}

bool KeepModuleLoaded() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&KeepModuleLoaded), &info) == 0 || info.dli_fname == nullptr)
    return false;
  // A reference of our own, never given back, on the object already loaded.
  return dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

void WatchForks(void (*onChild)()) {
  pthread_atfork(nullptr, nullptr, onChild);
}

void DebuggerOutput(std::u16string_view text) {
  std::string utf8 = Utf16ToUtf8(text);
  const char* p = utf8.data();
  size_t left = utf8.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

std::u16string DecodeHostText(const char* text) {
  if (text == nullptr) return {};
  return Utf8ToUtf16(text);
}

int LogFile::Open(const char16_t* path) {
  Close();
  if (path == nullptr) return EINVAL;
  std::string utf8 = Utf16ToUtf8(path);
  // Emptied only once this process holds the lock: a second process that loads the library
  // from the same folder must neither wipe nor interleave the first one's file.
  int fd = ::open(utf8.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno == EWOULDBLOCK ? EWOULDBLOCK : errno;
    ::close(fd);
    return error;
  }
  if (ftruncate(fd, 0) != 0) {
    const int error = errno;
    ::close(fd);
    return error;
  }
  fd_.store(fd);
  return 0;
}

void LogFile::Write(const void* data, size_t size) const {
  int fd = fd_.load();
  if (fd < 0) return;
  (void)!::write(fd, data, size);
}

void LogFile::Close() {
  int fd = fd_.exchange(-1);
  if (fd >= 0) ::close(fd);
}

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
                  std::atomic<uint32_t>::is_always_lock_free,
              "a waited-on word is a plain 32-bit word the kernel can read");

void WaitWhileEquals(std::atomic<uint32_t>& word, uint32_t expected) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected, nullptr,
          nullptr, 0);
}

void WakeWordWaiter(std::atomic<uint32_t>& word) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr,
          0);
}

int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
// Smaller blocks come from the heap: rounding them up to a huge page would cost more memory
// than their faults cost time. Under AddressSanitizer every block does, so that a write past a
// frame's end meets a red zone rather than the rest of a huge page.
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kHugeFrom = SIZE_MAX;
#else
constexpr size_t kHugeFrom = kHugePage;
#endif

size_t HugeSize(size_t bytes) {
  return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

}  // namespace

uint8_t* AllocateFrameMemory(size_t bytes, bool populate) {
  if (bytes < kHugeFrom) return static_cast<uint8_t*>(std::calloc(bytes == 0 ? 1 : bytes, 1));
  const size_t size = HugeSize(bytes);
  if (size < bytes || size + kHugePage < size) return nullptr;
  // Mapped with a huge page's room to spare, then cut to an aligned block: only aligned
  // ranges are given huge pages.
  void* mapped =
      mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = (start + kHugePage - 1) & ~(uintptr_t{kHugePage} - 1);
  if (aligned > start) munmap(mapped, aligned - start);
  if (const size_t tail = kHugePage - (aligned - start); tail > 0)
    munmap(reinterpret_cast<void*>(aligned + size), tail);
  auto* block = reinterpret_cast<uint8_t*>(aligned);
  // Both are advice: a kernel without them gives small pages, faulted at first use.
  madvise(block, size, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
  if (populate) madvise(block, size, MADV_POPULATE_WRITE);
#else
  (void)populate;
#endif
  return block;
}

void FreeFrameMemory(uint8_t* memory, size_t bytes) {
  if (memory == nullptr) return;
  if (bytes < kHugeFrom)
    std::free(memory);
  else
    munmap(memory, HugeSize(bytes));
}

}  // namespace quillo::platform
