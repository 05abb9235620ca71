// Which interface holds this process's engine. The engine starts once per process and cannot
// start again after it stopped, so the first interface to start it (the eight exports' LoadWeb or
// the views' first quillo_view_create) keeps it for the rest of the process, and the other one
// refuses. Any thread.
#pragma once

#include <cstdint>

namespace quillo::platform {

// The most memory a web process of the engine may keep, in MiB, whichever interface started it:
// a page that allocates without end has its process ended (the host hears of the process's end),
// and the next load starts a fresh one. A host sets its own in the environment variable
// kWebProcessMemoryVariable before the engine starts (its first LoadWeb or quillo_view_create):
// 0 for none, or kWebProcessMemoryLeastMb to kWebProcessMemoryMostMb; any other value keeps this
// default, with a line on standard error.
constexpr uint32_t kWebProcessMemoryLimitMb = 2048;
constexpr uint32_t kWebProcessMemoryLeastMb = 256;
constexpr uint32_t kWebProcessMemoryMostMb = 1024 * 1024;
constexpr const char* kWebProcessMemoryVariable = "QUILLO_WEB_PROCESS_MEMORY_MB";

// The limit the host's environment gives, or the default. Any thread.
uint32_t WebProcessMemoryLimitMb();

enum class EngineOwner : int { kNone = 0, kExports = 1, kViews = 2 };

// Claims the engine for owner: true when owner holds it now (claimed by this call or before),
// false when the other interface does.
bool ClaimEngine(EngineOwner owner);
EngineOwner CurrentEngineOwner();

}  // namespace quillo::platform
