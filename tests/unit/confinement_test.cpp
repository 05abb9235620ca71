// The web process's confinement, applied in a forked child that has threads
// of its own already running, as the web process has.
#include "webext/confinement.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "webext/landlock.h"

namespace quillo::webext {
namespace {

std::string Home() {
  struct passwd* entry = getpwuid(getuid());
  return entry && entry->pw_dir ? entry->pw_dir : "";
}

// Any font file of the system's.
std::string SomeFont(const std::string& dir = "/usr/share/fonts", int depth = 0) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr || depth > 4) return {};
  std::string found;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    if (name.size() > 4 &&
        (name.ends_with(".ttf") || name.ends_with(".otf") || name.ends_with(".ttc"))) {
      found = path;
      break;
    }
    if (e->d_type == DT_DIR && (found = SomeFont(path, depth + 1)) != "") break;
  }
  closedir(d);
  return found;
}

std::string LibcPath() {
  Dl_info info{};
  return dladdr(reinterpret_cast<void*>(&strlen), &info) && info.dli_fname ? info.dli_fname : "";
}

struct Probe {
  std::string homeFile;  // exists, readable before confinement
  std::string homeNew;   // does not exist
  std::string tmpNew;    // does not exist
  std::string font;
  std::string library;
  std::string cacheDir;  // the shader-cache folder the rules allow
  int port = 0;          // a loopback TCP listener
};

// Runs the checks that must hold on a confined thread; the failures, one per line.
std::string Check(const Probe& p, int abi) {
  std::string failures;
  auto refused = [&](const std::string& what, int fd) {
    if (fd >= 0) {
      failures += what + " was allowed\n";
      close(fd);
    } else if (errno != EACCES) {
      failures += what + " failed with " + strerror(errno) + ", not EACCES\n";
    }
  };
  auto allowed = [&](const std::string& what, int fd) {
    if (fd < 0)
      failures += what + " was refused: " + strerror(errno) + "\n";
    else
      close(fd);
  };
  refused("reading a file in the home folder", open(p.homeFile.c_str(), O_RDONLY));
  refused("creating a file in the home folder",
          open(p.homeNew.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
  refused("creating a file in /tmp", open(p.tmpNew.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
  refused("writing a system library", open(p.library.c_str(), O_WRONLY));
  allowed("reading a font", open(p.font.c_str(), O_RDONLY));
  allowed("reading a system library", open(p.library.c_str(), O_RDONLY));
  allowed("reading /proc/self/status", open("/proc/self/status", O_RDONLY));
  allowed("writing /dev/null", open("/dev/null", O_WRONLY));
  if (!p.cacheDir.empty()) {
    const std::string entry = p.cacheDir + "/quillo-confinement-test";
    const int fd = open(entry.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    allowed("creating a file in the shader cache", fd);
    if (fd >= 0 && unlink(entry.c_str()) != 0) failures += "removing it was refused\n";
  }
  if (abi >= 4) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(p.port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
      failures += "a TCP connection was allowed\n";
    else if (errno != EACCES)
      failures += std::string("TCP connect failed with ") + strerror(errno) + "\n";
    close(s);
  }
  return failures;
}

// Runs body in a forked child; returns what it wrote to the pipe.
std::string InChild(const std::function<std::string()>& body) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    const std::string out = body();
    if (!out.empty() && write(pipeFds[1], out.data(), out.size()) < 0) _exit(2);
    _exit(0);
  }
  close(pipeFds[1]);
  std::string out;
  char buffer[512];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) out.append(buffer, size_t(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out += "the child did not exit cleanly\n";
  return out;
}

TEST(Confinement, ConfinedThreadsReadTheSystemAndWriteOnlyTheShaderCache) {
  const int abi = landlock::Abi();
  if (abi < 1) GTEST_SKIP() << "this kernel has no Landlock";

  Probe p;
  const std::string home = Home();
  ASSERT_FALSE(home.empty());
  const std::string tag = std::to_string(getpid());
  p.homeFile = home + "/.quillo-confinement-" + tag;
  p.homeNew = home + "/.quillo-confinement-new-" + tag;
  p.tmpNew = "/tmp/quillo-confinement-new-" + tag;
  p.font = SomeFont();
  p.library = LibcPath();
  ASSERT_FALSE(p.font.empty()) << "no font under /usr/share/fonts";
  ASSERT_FALSE(p.library.empty());
  {
    const int fd = open(p.homeFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  p.port = ntohs(addr.sin_port);

  const std::string failures = InChild([&]() -> std::string {
    // Threads that run before the confinement, as the web process's do; one
    // blocks in a system call throughout.
    std::atomic<int> phase{0};
    int blocker[2];
    if (pipe(blocker) != 0) return "pipe failed\n";
    std::string early;
    std::string blocked;
    std::thread sleeper([&] {
      char c;
      while (read(blocker[0], &c, 1) < 0 && errno == EINTR) {
      }
#ifndef __SANITIZE_THREAD__
      blocked = Check(p, abi);
#endif
    });
    std::thread worker([&] {
      while (phase.load() == 0) usleep(1000);
      early = Check(p, abi);
      phase.store(2);
    });
    // As the extension does: a shader cache of the engine's own, then the rules.
    UseOwnCaches();
    const char* ownCache = getenv("MESA_SHADER_CACHE_DIR");
    if (ownCache == nullptr || std::string(ownCache).find("/quillo/") == std::string::npos)
      return "no shader cache of the engine's own\n";
    const std::vector<PathRule> rules = WebProcessRules();
    std::string cacheDir;
    for (const PathRule& rule : rules)
      if (rule.path == ownCache) cacheDir = rule.path;
    if (cacheDir.empty()) return "no rule for the shader cache\n";
    const ConfinementResult result = ConfineProcess(rules);
    std::string out;
    if (!result.confined) return "not confined: " + result.why + "\n";
    // Both threads above were found (a sanitizer's own threads, which block
    // signals, may be counted as well, and stay unconfined).
    if (result.otherThreads < 2)
      out += "found " + std::to_string(result.otherThreads) + " threads\n";
    Probe q = p;
    q.cacheDir = cacheDir;
    out += Check(q, abi);
    // The thread that ran before the confinement is bound as well.
    phase.store(1);
    while (phase.load() != 2) usleep(1000);
    worker.join();
    if (write(blocker[1], "x", 1) != 1) out += "write failed\n";
    sleeper.join();
    if (!early.empty()) out += "on an earlier thread:\n" + early;
#ifndef __SANITIZE_THREAD__
    // (ThreadSanitizer holds a signal back from a thread blocked in a call it
    // intercepts until the call returns, past the confinement.)
    if (!blocked.empty()) out += "on a thread blocked in a system call:\n" + blocked;
#endif
    // Threads started afterwards inherit it.
    std::string later;
    std::thread([&] { later = Check(p, abi); }).join();
    if (!later.empty()) out += "on a later thread:\n" + later;
    return out;
  });
  close(listener);
  unlink(p.homeFile.c_str());
  unlink(p.homeNew.c_str());
  unlink(p.tmpNew.c_str());
  EXPECT_EQ(failures, "");
}

}  // namespace
}  // namespace quillo::webext
