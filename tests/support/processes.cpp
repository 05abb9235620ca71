#include "support/processes.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace quillo_test {

std::set<pid_t> Children(const std::string& prefix) {
  std::set<pid_t> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string pid, comm, state;
    pid_t parent = 0;
    if (!(stat >> pid >> comm >> state >> parent)) continue;
    if (parent == getpid() && comm.rfind("(" + prefix, 0) == 0)
      found.insert(static_cast<pid_t>(std::stol(pid)));
  }
  return found;
}

size_t KillChildren(const std::string& prefix) {
  const std::set<pid_t> children = Children(prefix);
  for (pid_t pid : children) kill(pid, SIGKILL);
  return children.size();
}

bool HasThreadNamed(pid_t pid, const std::string& part) {
  std::error_code ec;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    if (std::getline(comm, name) && name.find(part) != std::string::npos) return true;
  }
  return false;
}

std::set<pid_t> PageProcesses() {
  std::set<pid_t> pages;
  // The kernel keeps 15 characters of a thread's name: "ThreadedCompositor" is cut at its start.
  for (pid_t pid : Children("WPEWebProcess"))
    if (HasThreadNamed(pid, "Compositor")) pages.insert(pid);
  return pages;
}

long ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

}  // namespace quillo_test
