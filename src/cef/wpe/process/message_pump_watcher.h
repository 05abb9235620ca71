// Asks the embedder for a message-loop work only when the engine has something
// to do (CefSettings::external_message_pump): between two works, a thread of
// its own polls the UI context's file descriptors with the context's timeout,
// and calls the schedule callback once when one of them is ready or the
// timeout ran out. An idle page then costs the embedder nothing, rather than a
// full context iteration per poll.
//
// The UI thread arms the watcher after each work (Arm): a source that is ready
// already is scheduled at once; otherwise the context's descriptors and timeout
// are handed over through a sequence-numbered set of atomics, and a watcher
// polling an older set is interrupted. Sources attached or made ready from any
// thread signal the context's wake-up descriptor, which is in the set (the
// context is made with G_MAIN_CONTEXT_FLAGS_OWNERLESS_POLLING, so that attaches
// from the UI thread itself signal it too). After it has fired, the watcher
// waits for the next arm instead of polling the same ready set again.
//
// Threads: Start, Arm and Stop on the UI thread; the watcher thread in between;
// the callback runs on either.
#pragma once

#include <glib.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace quillo::engine {

class MessagePumpWatcher {
 public:
  // Most descriptors a set can hold; a context with more is scheduled after
  // every work, as if no watcher ran.
  static constexpr int kMaxDescriptors = 64;

  MessagePumpWatcher() = default;
  ~MessagePumpWatcher() { Stop(); }
  MessagePumpWatcher(const MessagePumpWatcher&) = delete;
  MessagePumpWatcher& operator=(const MessagePumpWatcher&) = delete;

  // Starts the watcher thread; schedule is what asks for the next work. False
  // (and schedule is then called on every Arm) when the thread cannot start.
  bool Start(std::function<void()> schedule);
  // Hands the context's state after a work to the watcher. The calling thread
  // must own context.
  void Arm(GMainContext* context);
  // Stops and joins the watcher thread; nothing is scheduled afterwards.
  void Stop();

 private:
  void Run();
  void Schedule() {
    if (m_schedule) m_schedule();
  }
  void Interrupt();

  // Written by Start and Stop on the UI thread while the watcher thread does
  // not run; read by both.
  std::function<void()> m_schedule;
  std::thread m_thread;
  int m_interruptFd = -1;  // an eventfd in every polled set; written to end a poll

  // The armed set, a sequence lock with one writer (the UI thread): the
  // sequence is odd while the set is written and grows by two per arm; the
  // watcher copies the set and keeps the copy only if the sequence stayed the
  // same. Every field is an atomic, so a torn copy is detected, never raced.
  std::atomic<uint32_t> m_sequence{0};  // also the word the idle watcher waits on
  std::atomic<int32_t> m_count{0};
  std::atomic<int32_t> m_timeoutMs{-1};
  std::atomic<uint64_t> m_descriptors[kMaxDescriptors] = {};  // fd << 16 | events

  std::atomic<bool> m_polling{false};  // the watcher is in, or about to enter, poll
  std::atomic<bool> m_stop{false};
  bool m_running = false;  // UI thread
};

}  // namespace quillo::engine
