#include "support/host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace quillo_test {

pid_t StartHost(const LibraryCopy& lib, const HostRun& run, const std::string& output) {
  // Everything the child needs is made before the fork: after it, only system calls.
  std::vector<std::string> args = {QUILLO_TEST_LIFECYCLE_HOST, lib.library_path().string()};
  args.insert(args.end(), run.args.begin(), run.args.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment = run.environment;
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  char** const env = run.environment.empty() ? environ : envp.data();
  int out = -1;
  if (!output.empty()) {
    out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) return -1;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    if (out >= 0) {
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
    }
    if (run.prepare && !run.prepare()) _exit(126);
    execve(argv[0], argv.data(), env);
    _exit(127);
  }
  if (out >= 0) close(out);
  return pid;
}

int WaitForHost(pid_t pid, std::chrono::seconds deadline) {
  if (pid < 0) return -1;
  const auto end = std::chrono::steady_clock::now() + deadline;
  int status = -1;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() > end) {
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return kHostHung;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int RunHost(const LibraryCopy& lib, const HostRun& run, std::string* output) {
  std::string file;
  if (output) {
    char name[] = "/tmp/quillo-host-output-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return -1;
    close(fd);
    file = name;
  }
  const int status = WaitForHost(StartHost(lib, run, file), run.deadline);
  if (output) {
    std::ifstream in(file, std::ios::binary);
    *output = std::string(std::istreambuf_iterator<char>(in), {});
    unlink(file.c_str());
  }
  return status;
}

std::string DescribeStatus(int status) {
  if (status == -1) return "not started";
  if (status == kHostHung) return "hung (killed)";
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

}  // namespace quillo_test
