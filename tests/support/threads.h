// The threads of this process, as /proc/self/task lists them.
#pragma once

#include <sys/types.h>

#include <set>
#include <string>

namespace quillo_test {

std::set<pid_t> ThreadIds();

// The kernel's name of a thread of this process ("" when it has ended).
std::string ThreadName(pid_t tid);

}  // namespace quillo_test
