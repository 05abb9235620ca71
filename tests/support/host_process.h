// The life-cycle host (tests/host/lifecycle_host.cpp) run as a process of its own on a test's
// library copy, for the cases that end or split a process, run two at once, or run the host as
// another user or in a mount namespace of its own.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/library_copy.h"

namespace quillo_test {

// A wait status of the host killed after its deadline.
inline constexpr int kHostHung = -2;

struct HostRun {
  HostRun(std::vector<std::string> hostArgs) : args(std::move(hostArgs)) {}

  std::vector<std::string> args;  // after the library's path
  // The host's whole environment ("NAME=value"); empty: this process's.
  std::vector<std::string> environment;
  // Runs in the child before the host is started (switching user, mounting); the child ends
  // with status 126 when it returns false. Only system calls belong here.
  std::function<bool()> prepare;
  std::chrono::seconds deadline{90};
};

// Starts the host; returns its pid, or -1. *output (when given) names the file that receives
// its standard output and error.
pid_t StartHost(const LibraryCopy& lib, const HostRun& run, const std::string& output = "");
// Waits for a started host until its deadline, then kills it; returns its wait status or
// kHostHung.
int WaitForHost(pid_t pid, std::chrono::seconds deadline);
// StartHost and WaitForHost; *output receives what it wrote.
int RunHost(const LibraryCopy& lib, const HostRun& run, std::string* output = nullptr);

std::string DescribeStatus(int status);

}  // namespace quillo_test
