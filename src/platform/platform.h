// The small layer that stands in for the operating-system services the
// library needs: its own file name, the log file, debugger output and the
// decoding of host text for log lines.
//
// Thread safety: ModuleFileName and DecodeHostText may be called from any
// thread. A LogFile is opened and closed on the host's thread and written
// from any thread (each Write is one write(2) call).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillo::platform {

// Path buffers hold this many UTF-16 code units, terminator included.
constexpr size_t kPathCapacity = 1024;

// Writes the full path of the loaded object that holds this code, by the name
// the loader opened it with (libquillo.so, libquillo.so.0 or a name of the
// host's choosing; when the code is linked into a program, the program's
// path) into buffer[capacity], NUL-terminated and cut to fit. Returns the number of code
// units written without the terminator; `truncated` tells whether the path
// had to be cut. Returns 0 when no path could be read.
size_t ModuleFileName(char16_t* buffer, size_t capacity, bool* truncated);

// Sends text to the debugger output (standard error here), as UTF-8.
void DebuggerOutput(std::u16string_view text);

// Keeps this library mapped for the rest of the process, whatever dlclose the host calls: the
// engine leaves threads of its own running (see quillo.h) whose code must stay. False when the
// library could not be found.
bool KeepModuleLoaded();

// Calls onChild in the child of every later fork() of this process (once per process).
void WatchForks(void (*onChild)());

// A thread sleeps on a 32-bit word: WaitWhileEquals returns once the word no
// longer holds expected and WakeWordWaiter was called, or at once when it
// differs already; it may also return for no reason, so callers loop. One
// waiter per word. (A futex of the process's own here: std::atomic::wait
// would spin and yield first and share a waiter table with every other wait.)
void WaitWhileEquals(std::atomic<uint32_t>& word, uint32_t expected);
void WakeWordWaiter(std::atomic<uint32_t>& word);

// A monotonic clock in nanoseconds (GetTickCount's role): for leases and
// intervals, never for the time of day.
int64_t MonotonicNs();

// Zeroed memory for frame buffers (VirtualAlloc's role). Blocks of a frame's size come from the
// system in huge pages where it offers them: the first write to each small page of a fresh block
// costs a fault, and a whole frame's faults cost more than the copy that caused them. With
// `populate`, the pages are put in place now rather than at the first frame. nullptr when no
// memory is left. Free with FreeFrameMemory, giving the same size. Any thread.
uint8_t* AllocateFrameMemory(size_t bytes, bool populate);
void FreeFrameMemory(uint8_t* memory, size_t bytes);

// Decodes host text given in the system code page (UTF-8 here) for log
// lines; invalid bytes become U+FFFD. A null pointer gives an empty text.
std::u16string DecodeHostText(const char* text);

// A log file: created and emptied on Open under an exclusive advisory lock,
// write-only for us, readable by others while it is written. A file that
// another process holds open this way is left alone (Open fails).
class LogFile {
 public:
  LogFile() = default;
  ~LogFile() { Close(); }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Creates (or empties) the file at the UTF-16 path. 0 when it is open, else
  // why not: EWOULDBLOCK when another writer holds the file, the system's
  // error when it cannot be made (a read-only folder, a missing one...).
  int Open(const char16_t* path);
  // Writes the bytes; failures are ignored.
  void Write(const void* data, size_t size) const;
  void Close();
  bool IsOpen() const { return fd_.load() >= 0; }

 private:
  std::atomic<int> fd_{-1};  // set and cleared on the host's thread, read by writers
};

}  // namespace quillo::platform
