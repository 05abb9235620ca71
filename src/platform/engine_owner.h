// Which interface holds this process's engine. The engine starts once per process and cannot
// start again after it stopped, so the first interface to start it (the eight exports' LoadWeb or
// the views' first quillo_view_create) keeps it for the rest of the process, and the other one
// refuses. Any thread.
#pragma once

namespace quillo::platform {

enum class EngineOwner : int { kNone = 0, kExports = 1, kViews = 2 };

// Claims the engine for owner: true when owner holds it now (claimed by this call or before),
// false when the other interface does.
bool ClaimEngine(EngineOwner owner);
EngineOwner CurrentEngineOwner();

}  // namespace quillo::platform
