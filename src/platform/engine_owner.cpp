#include "platform/engine_owner.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace quillo::platform {
namespace {

std::atomic<int> g_owner{static_cast<int>(EngineOwner::kNone)};

}  // namespace

bool ClaimEngine(EngineOwner owner) {
  int expected = static_cast<int>(EngineOwner::kNone);
  if (g_owner.compare_exchange_strong(expected, static_cast<int>(owner))) return true;
  return expected == static_cast<int>(owner);
}

EngineOwner CurrentEngineOwner() {
  return static_cast<EngineOwner>(g_owner.load());
}

uint32_t WebProcessMemoryLimitMb() {
  const char* value = std::getenv(kWebProcessMemoryVariable);
  if (value == nullptr) return kWebProcessMemoryLimitMb;
  char* end = nullptr;
  errno = 0;
  const unsigned long long mb = std::strtoull(value, &end, 10);
  const bool number =
      end != value && *end == '\0' && errno == 0 && value[0] >= '0' && value[0] <= '9';
  if (number && (mb == 0 || (mb >= kWebProcessMemoryLeastMb && mb <= kWebProcessMemoryMostMb)))
    return static_cast<uint32_t>(mb);
  std::fprintf(stderr,
               "quillo: %s=\"%.40s\" is not 0 or a number of MiB from %u to %u; the web process "
               "may keep %u MiB\n",
               kWebProcessMemoryVariable, value, kWebProcessMemoryLeastMb, kWebProcessMemoryMostMb,
               kWebProcessMemoryLimitMb);
  return kWebProcessMemoryLimitMb;
}

}  // namespace quillo::platform
