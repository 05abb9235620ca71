// Configuration: the library's process-wide settings. Its only setting is the
// debug switch, changed by SetDebugEnable on the host's thread and read by
// every thread before it logs (relaxed: a change shows up with some later
// log line, no ordering is promised).
#pragma once

#include <atomic>

#include "diagnostics/singleton.h"

namespace quillo {

class Configuration : public SingleTon<Configuration> {
 public:
  ~Configuration() override = default;

  bool DebugEnabled() const { return m_debugEnable.load(std::memory_order_relaxed); }
  void SetDebug(bool on) { m_debugEnable.store(on, std::memory_order_relaxed); }

  std::atomic<bool> m_debugEnable{false};
};

}  // namespace quillo
