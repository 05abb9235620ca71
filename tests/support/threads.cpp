#include "support/threads.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace quillo_test {

std::set<pid_t> ThreadIds() {
  std::set<pid_t> ids;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    const std::string name = entry.path().filename().string();
    try {
      ids.insert(static_cast<pid_t>(std::stol(name)));
    } catch (...) {
    }
  }
  return ids;
}

std::string ThreadName(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

}  // namespace quillo_test
