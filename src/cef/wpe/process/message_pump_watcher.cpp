#include "wpe/process/message_pump_watcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "diagnostics/debug_log.h"
#include "platform/platform.h"

namespace quillo::engine {
namespace {

uint64_t Pack(const GPollFD& fd) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(fd.fd)) << 16) | fd.events;
}

pollfd Unpack(uint64_t packed) {
  pollfd fd{};
  fd.fd = static_cast<int>(static_cast<uint32_t>(packed >> 16));
  fd.events = static_cast<short>(packed & 0xffff);
  return fd;
}

}  // namespace

bool MessagePumpWatcher::Start(std::function<void()> schedule) {
  if (m_running) return true;
  m_schedule = std::move(schedule);
  m_interruptFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (m_interruptFd < 0) {
    QLOG(u"MessagePumpWatcher::Start => no eventfd (errno %d), every work is scheduled", errno);
    return false;
  }
  m_stop.store(false);
  m_thread = std::thread(&MessagePumpWatcher::Run, this);
  m_running = true;
  return true;
}

void MessagePumpWatcher::Stop() {
  if (m_running) {
    m_stop.store(true);
    Interrupt();
    platform::WakeWordWaiter(m_sequence);
    m_thread.join();
    m_running = false;
  }
  if (m_interruptFd >= 0) close(m_interruptFd);
  m_interruptFd = -1;
  m_schedule = nullptr;
}

void MessagePumpWatcher::Interrupt() {
  const uint64_t one = 1;
  ssize_t written = write(m_interruptFd, &one, sizeof one);
  (void)written;  // a full counter is readable anyway
}

void MessagePumpWatcher::Arm(GMainContext* context) {
  if (!m_running) {
    Schedule();
    return;
  }
  gint maxPriority = 0;
  if (g_main_context_prepare(context, &maxPriority)) {
    Schedule();  // ready already: the watcher's older set may stay, a late fire costs one work
    return;
  }
  GPollFD fds[kMaxDescriptors];
  gint timeoutMs = -1;
  const gint count = g_main_context_query(context, maxPriority, &timeoutMs, fds, kMaxDescriptors);
  if (count > kMaxDescriptors) {
    Schedule();
    return;
  }
  const uint32_t sequence = m_sequence.load(std::memory_order_relaxed);
  m_sequence.store(sequence + 1);  // odd: being written
  m_count.store(count, std::memory_order_relaxed);
  m_timeoutMs.store(timeoutMs, std::memory_order_relaxed);
  for (gint i = 0; i < count; ++i) m_descriptors[i].store(Pack(fds[i]), std::memory_order_relaxed);
  m_sequence.store(sequence + 2);
  // The watcher announces a poll before it reads the sequence, and this side
  // publishes before it reads the announcement: either the watcher sees the
  // new set, or this side sees it polling and ends that poll.
  if (m_polling.load())
    Interrupt();
  else
    platform::WakeWordWaiter(m_sequence);
}

void MessagePumpWatcher::Run() {
  uint32_t fired = 0;  // the set that last asked for a work; not polled again
  pollfd fds[kMaxDescriptors + 1];
  while (!m_stop.load()) {
    uint32_t sequence = m_sequence.load();
    if (sequence == fired || (sequence & 1) != 0) {
      platform::WaitWhileEquals(m_sequence, sequence);
      continue;
    }
    m_polling.store(true);
    sequence = m_sequence.load(std::memory_order_acquire);
    if (sequence == fired || (sequence & 1) != 0) {
      m_polling.store(false);
      continue;
    }
    // Acquire loads keep the sequence's second reading after every field (where a fence would
    // do the same, but ThreadSanitizer does not follow fences).
    const int count = m_count.load(std::memory_order_acquire);
    const int timeoutMs = m_timeoutMs.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i)
      fds[i] = Unpack(m_descriptors[i].load(std::memory_order_acquire));
    if (m_sequence.load(std::memory_order_relaxed) != sequence) {
      m_polling.store(false);
      continue;  // torn: a newer set was being written
    }
    fds[count] = pollfd{m_interruptFd, POLLIN, 0};
    const int ready = poll(fds, static_cast<nfds_t>(count + 1), timeoutMs);
    m_polling.store(false);
    if (m_stop.load()) break;
    if (ready > 0 && fds[count].revents != 0) {
      uint64_t drained = 0;
      ssize_t got = read(m_interruptFd, &drained, sizeof drained);
      (void)got;
    }
    if (m_sequence.load() != sequence) continue;  // a newer set replaces this one
    bool due = ready == 0;                        // the context's timeout ran out
    for (int i = 0; i < count && !due; ++i) due = fds[i].revents != 0;
    if (ready < 0 && errno != EINTR) due = true;  // cannot watch: ask for a work rather than wait
    if (!due) continue;
    fired = sequence;
    Schedule();
  }
}

}  // namespace quillo::engine
