#include "webext/confinement.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <time.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <set>

#include "webext/landlock.h"

namespace quillo::webext {
namespace {

using namespace quillo::landlock;

constexpr uint64_t kReadOnly = kReadFile | kReadDir;
constexpr uint64_t kReadExecute = kReadOnly | kExecute;
constexpr uint64_t kDevice = kReadFile | kWriteFile;
constexpr uint64_t kCacheFolder =
    kReadOnly | kWriteFile | kMakeReg | kMakeDir | kRemoveFile | kRemoveDir | kTruncate;

std::string Env(const char* name) {
  const char* value = getenv(name);
  return value && value[0] == '/' ? std::string(value) : std::string();
}

// The home folder from the user database, as Mesa and fontconfig find it.
std::string HomeFromPasswd() {
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr)
    return {};
  return found->pw_dir;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

void MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0755);
    if (slash == std::string::npos) break;
  }
}

bool EnvTrue(const char* name) {
  const char* value = getenv(name);
  return value && (strcmp(value, "1") == 0 || strcasecmp(value, "true") == 0 ||
                   strcasecmp(value, "yes") == 0);
}

bool ShaderCacheDisabled() {
  return EnvTrue("MESA_SHADER_CACHE_DISABLE") || EnvTrue("MESA_GLSL_CACHE_DISABLE");
}

// The user's cache folder, as Mesa finds it.
std::string CacheHome(const std::string& home) {
  std::string cacheHome = Env("XDG_CACHE_HOME");
  if (cacheHome.empty() && !home.empty()) cacheHome = home + "/.cache";
  return cacheHome;
}

// Mesa's shader cache folders, where Mesa (22 to 24) puts them: the variable's
// folder, else the cache home's mesa_shader_cache (and its single-file and
// database variants). The folder is created when missing, as Mesa would.
void AddMesaShaderCache(std::vector<PathRule>& rules, const std::string& home) {
  if (ShaderCacheDisabled()) return;
  std::string dir = Env("MESA_SHADER_CACHE_DIR");
  if (dir.empty()) dir = Env("MESA_GLSL_CACHE_DIR");
  if (!dir.empty()) {
    MakeFolders(dir);
    if (Exists(dir)) rules.push_back({dir, kCacheFolder});
    return;
  }
  const std::string cacheHome = CacheHome(home);
  if (cacheHome.empty()) return;
  MakeFolders(cacheHome + "/mesa_shader_cache");
  for (const char* name : {"/mesa_shader_cache", "/mesa_shader_cache_sf", "/mesa_shader_cache_db"})
    if (Exists(cacheHome + name)) rules.push_back({cacheHome + name, kCacheFolder});
}

// Threads that restrict themselves when signalled; set before any signal.
std::atomic<int> g_rulesetFd{-1};
std::atomic<int> g_restricted{0};
std::atomic<int> g_refused{0};

void OnRestrictSignal(int) {
  const int saved = errno;
  const bool ok = prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                  syscall(kRestrictSelfSyscall, g_rulesetFd.load(), 0) == 0;
  (ok ? g_restricted : g_refused).fetch_add(1);
  errno = saved;
}

// A real-time signal nobody handles, from the top down.
int FreeSignal() {
  for (int sig = SIGRTMAX; sig > SIGRTMIN; --sig) {
    struct sigaction current {};
    if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
        !(current.sa_flags & SA_SIGINFO))
      return sig;
  }
  return 0;
}

std::set<pid_t> ThreadIds() {
  std::set<pid_t> ids;
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return ids;
  while (dirent* entry = readdir(dir)) {
    const long id = strtol(entry->d_name, nullptr, 10);
    if (id > 0) ids.insert(static_cast<pid_t>(id));
  }
  closedir(dir);
  return ids;
}

// Signals every thread not yet in `seen`, adds it there and waits (up to
// 2 s) for each to answer. Returns the number signalled.
int RestrictOtherThreads(int sig, std::set<pid_t>& seen) {
  int signalled = 0;
  for (pid_t id : ThreadIds()) {
    if (seen.count(id) > 0) continue;
    // A thread that ended meanwhile is not counted.
    if (syscall(SYS_tgkill, getpid(), id, sig) == 0) {
      seen.insert(id);
      ++signalled;
    }
  }
  const int target = signalled;
  static int answeredBefore = 0;
  // Each answers when it next runs; yielding lets it run on this processor.
  timespec now{}, deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += 2;
  for (int round = 0; g_restricted.load() + g_refused.load() - answeredBefore < target; ++round) {
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec > deadline.tv_sec ||
        (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec))
      break;
    if (round < 100) {
      sched_yield();
    } else {
      const timespec step{0, 100000};
      nanosleep(&step, nullptr);
    }
  }
  answeredBefore = g_restricted.load() + g_refused.load();
  return signalled;
}

}  // namespace

void UseOwnCaches() {
  const std::string cacheHome = CacheHome(HomeFromPasswd());
  if (cacheHome.empty()) return;
  const std::string own = cacheHome + "/quillo/web-process";
  if (!ShaderCacheDisabled()) setenv("MESA_SHADER_CACHE_DIR", own.c_str(), 1);
  // GStreamer keeps its plugin registry there too (it cannot update the
  // user's own), so media is not rescanned in every web process.
  MakeFolders(own);
  setenv("GST_REGISTRY_1_0", (own + "/gstreamer-registry.bin").c_str(), 1);
}

std::vector<PathRule> WebProcessRules() {
  std::vector<PathRule> rules;
  const std::string home = HomeFromPasswd();
  // The system's programs, libraries and shared data (fonts, locale, ICU,
  // certificates under /usr/share), loaded as late as the first page needs.
  for (const char* path : {"/usr", "/lib", "/lib64", "/lib32", "/libx32", "/bin", "/sbin"})
    if (Exists(path)) rules.push_back({path, kReadExecute});
  // Configuration the libraries read: the loader, fonts, Mesa, the user
  // database, the time zone and certificates.
  for (const char* path :
       {"/etc/ld.so.cache", "/etc/ld.so.conf", "/etc/ld.so.conf.d", "/etc/fonts", "/etc/drirc",
        "/etc/passwd", "/etc/group", "/etc/nsswitch.conf", "/etc/localtime", "/etc/timezone",
        "/etc/ssl", "/etc/ca-certificates", "/etc/pki", "/etc/mime.types", "/etc/xdg", "/etc/glvnd",
        "/etc/gnutls", "/etc/host.conf", "/var/cache/fontconfig"})
    if (Exists(path)) rules.push_back({path, kReadOnly});
  // The user's own fonts and font settings, read only.
  std::string dataHome = Env("XDG_DATA_HOME");
  std::string configHome = Env("XDG_CONFIG_HOME");
  std::string cacheHome = Env("XDG_CACHE_HOME");
  if (!home.empty()) {
    if (dataHome.empty()) dataHome = home + "/.local/share";
    if (configHome.empty()) configHome = home + "/.config";
    if (cacheHome.empty()) cacheHome = home + "/.cache";
    for (const std::string& path :
         {home + "/.fonts", home + "/.fonts.conf", home + "/.fonts.conf.d"})
      if (Exists(path)) rules.push_back({path, kReadOnly});
  }
  for (const std::string& path :
       {dataHome + "/fonts", configHome + "/fontconfig", cacheHome + "/fontconfig"})
    if (path[0] == '/' && Exists(path)) rules.push_back({path, kReadOnly});
  // The process's own entries (memory figures, maps), the processor count.
  for (const char* path :
       {"/proc/self", "/sys/devices/system/cpu", "/sys/firmware/acpi/pm_profile"})
    if (Exists(path)) rules.push_back({path, kReadOnly});
  for (const char* path : {"/dev/null", "/dev/zero", "/dev/random", "/dev/urandom"})
    if (Exists(path)) rules.push_back({path, kDevice});
  // A GPU, where there is one and Mesa uses it.
  if (Exists("/dev/dri")) rules.push_back({"/dev/dri", kDevice | kReadDir | kIoctlDev});
  // Sound: ALSA's and PulseAudio's settings and devices, and the user's
  // PulseAudio cookie (the sound server's socket is reached by path).
  for (const char* path : {"/etc/alsa", "/etc/asound.conf", "/etc/pulse"})
    if (Exists(path)) rules.push_back({path, kReadOnly});
  if (Exists("/dev/snd")) rules.push_back({"/dev/snd", kDevice | kReadDir | kIoctlDev});
  for (const std::string& path : {configHome + "/pulse", Env("XDG_RUNTIME_DIR") + "/pulse"})
    if (path[0] == '/' && Exists(path)) rules.push_back({path, kReadOnly});
  // The engine's media download buffer: files it creates (and unlinks at
  // once) in /var/tmp, a folder the engine fixes. No listing, no programs.
  if (Exists("/var/tmp"))
    rules.push_back({"/var/tmp", kReadFile | kWriteFile | kMakeReg | kRemoveFile | kTruncate});
  AddMesaShaderCache(rules, home);
  // The folder of UseOwnCaches, when the shader cache is off.
  const std::string registry = Env("GST_REGISTRY_1_0");
  const size_t slash = registry.rfind('/');
  if (slash != std::string::npos && slash > 0 && Exists(registry.substr(0, slash)) &&
      Env("MESA_SHADER_CACHE_DIR") != registry.substr(0, slash))
    rules.push_back({registry.substr(0, slash), kCacheFolder});
  return rules;
}

ConfinementResult ConfineProcess(const std::vector<PathRule>& rules) {
  ConfinementResult result;
  result.abi = Abi();
  if (result.abi < 1) {
    result.why = errno == EOPNOTSUPP ? "Landlock is switched off in this kernel"
                                     : "this kernel has no Landlock";
    return result;
  }
  const uint64_t fsRights = FsRightsOf(result.abi);
  RulesetAttr attr{};
  attr.handledAccessFs = fsRights;
  size_t attrSize = sizeof(uint64_t);
  if (result.abi >= 4) {
    // No TCP port is allowed: web content never binds or connects itself.
    attr.handledAccessNet = kBindTcp | kConnectTcp;
    attrSize = 2 * sizeof(uint64_t);
  }
  if (result.abi >= 6) {
    // No abstract Unix sockets outside the process (a display server or a
    // session bus listening there). Signals stay unscoped: threads of this
    // process signal each other (script engine, restriction below).
    attr.scoped = kScopeAbstractUnixSocket;
    attrSize = sizeof attr;
  }
  const int fd = static_cast<int>(syscall(kCreateRulesetSyscall, &attr, attrSize, 0));
  if (fd < 0) {
    result.why = std::string("the ruleset could not be created: ") + strerror(errno);
    return result;
  }
  for (const PathRule& rule : rules) {
    PathBeneathAttr beneath{};
    beneath.allowedAccess = rule.rights & fsRights;
    beneath.parentFd = open(rule.path.c_str(), O_PATH | O_CLOEXEC);
    if (beneath.parentFd < 0) continue;
    struct stat st {};
    // Rights on a file are limited to what applies to files.
    if (fstat(beneath.parentFd, &st) == 0 && !S_ISDIR(st.st_mode))
      beneath.allowedAccess &= kExecute | kWriteFile | kReadFile | kTruncate | kIoctlDev;
    if (beneath.allowedAccess != 0) syscall(kAddRuleSyscall, fd, kRulePathBeneath, &beneath, 0);
    close(beneath.parentFd);
  }
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
    result.why = std::string("no-new-privileges refused: ") + strerror(errno);
    close(fd);
    return result;
  }

  // The other threads first, while this one may still signal anyone.
  g_rulesetFd.store(fd);
  std::set<pid_t> seen{static_cast<pid_t>(syscall(SYS_gettid))};
  const int sig = FreeSignal();
  struct sigaction action {};
  action.sa_handler = OnRestrictSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  const bool haveSignal = sig != 0 && sigaction(sig, &action, nullptr) == 0;
  if (haveSignal) RestrictOtherThreads(sig, seen);

  if (syscall(kRestrictSelfSyscall, fd, 0) != 0) {
    result.why = std::string("the ruleset could not be applied: ") + strerror(errno);
  } else {
    result.confined = true;
    // Threads started meanwhile by threads not yet restricted.
    if (haveSignal) RestrictOtherThreads(sig, seen);
  }
  result.otherThreads = static_cast<int>(seen.size()) - 1;
  result.unconfinedThreads = result.otherThreads - g_restricted.load();
  // The handler stays: a thread that had the signal blocked may still take
  // it later, and the default action would end the process.
  g_rulesetFd.store(-1);
  close(fd);
  return result;
}

}  // namespace quillo::webext
