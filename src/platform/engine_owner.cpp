#include "platform/engine_owner.h"

#include <atomic>

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

}  // namespace quillo::platform
