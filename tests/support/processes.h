// The engine's processes, as children of this one: found by the name the kernel knows them by,
// and ended as a crash or the out-of-memory killer would end them.
#pragma once

#include <sys/types.h>

#include <set>
#include <string>

namespace quillo_test {

// Child processes of this one whose command name starts with `prefix`.
std::set<pid_t> Children(const std::string& prefix);

// Sends SIGKILL to every child whose name starts with `prefix`; returns how many there were.
size_t KillChildren(const std::string& prefix);

// The engine's web processes that hold a page (they have a compositor thread); a process the
// engine keeps started in reserve holds none.
std::set<pid_t> PageProcesses();

// Whether a thread of process pid has a name that contains `part`.
bool HasThreadNamed(pid_t pid, const std::string& part);

// A process's resident memory in KiB (0 when it is gone).
long ResidentKiB(pid_t pid);

}  // namespace quillo_test
