// A host program of its own for the cases that end or split a process: it loads the library
// given on its command line with dlopen, shows a page, and then does one of
//   dlclose     UnloadWeb(1), dlclose, a second with the engine's leftovers, exit 0
//   fork        fork; the child calls every export and ends with _exit; the parent checks the
//               child's status and goes on with its own page
//   no-unload   returns from main without UnloadWeb(1)
//   show TITLE  shows a page titled TITLE with the log on, then UnloadWeb(1)
//   download URL FOLDER
//               shows a page, then loads URL (a download into FOLDER), waits for the failed
//               load it must hear, prints its value and text, and checks that FOLDER is empty
//   exit-road MEMORY UNLOAD EXIT PAGE SEED [VIDEO_URL]
//               shows PAGE (animate, video or dialog) in memory of the kind MEMORY (heap:
//               malloc'ed, given back with free; mapped: mmap'ed, given back with munmap), stops
//               polling, waits a random while (from SEED), gives the memory back, then calls
//               UNLOAD (none, close: UnloadWeb(0), shutdown: UnloadWeb(1)) and ends by EXIT
//               (return from main, exit() on the main thread, exit() on another thread, or
//               thread-exit-busy: exit() on another thread while the main thread goes on
//               sending input and script as fast as it can)
// It exits 0 when everything went as it should, 2 to 5 for a failed step (told on stderr).
#include <dirent.h>
#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "quillo.h"

namespace {

struct Library {
  void* handle = nullptr;
  decltype(&::LoadWeb) load = nullptr;
  decltype(&::UpdateWeb) update = nullptr;
  void (*unload)(unsigned char) = nullptr;
  decltype(&::InputWeb) input = nullptr;
  decltype(&::GoBackForwardHome) history = nullptr;
  decltype(&::ExecuteJavaScript) script = nullptr;
  decltype(&::ReserveInvalidRedirectUrlSchemes) schemes = nullptr;
  void (*debug)(unsigned char) = nullptr;
};

[[noreturn]] void Fail(int code, const std::string& what) {
  std::fprintf(stderr, "lifecycle host: %s\n", what.c_str());
  std::fflush(stderr);
  _exit(code);
}

template <typename Fn>
void Resolve(void* handle, const char* name, Fn* out) {
  *out = reinterpret_cast<Fn>(dlsym(handle, name));
  if (*out == nullptr) Fail(2, std::string("no export ") + name);
}

Library Open(const char* path) {
  Library lib;
  lib.handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (lib.handle == nullptr) Fail(2, std::string("dlopen: ") + dlerror());
  Resolve(lib.handle, "LoadWeb", &lib.load);
  Resolve(lib.handle, "UpdateWeb", &lib.update);
  Resolve(lib.handle, "UnloadWeb", &lib.unload);
  Resolve(lib.handle, "InputWeb", &lib.input);
  Resolve(lib.handle, "GoBackForwardHome", &lib.history);
  Resolve(lib.handle, "ExecuteJavaScript", &lib.script);
  Resolve(lib.handle, "ReserveInvalidRedirectUrlSchemes", &lib.schemes);
  Resolve(lib.handle, "SetDebugEnable", &lib.debug);
  return lib;
}

std::vector<uint8_t> g_pixels(64 * 48 * 4);

std::string TitlePage(const std::string& title) {
  return "quillo_htmlsource:<title>" + title + "</title><body style='background:rgb(0,90,0)'>";
}

// Polls until a title notice with this text arrives.
void WaitForTitle(const Library& lib, const std::string& title) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    void* text = nullptr;
    int value = 0;
    const int r = lib.update(&text, &value);
    if (r != -1 && (r & UPDATE_TITLE) && text && title == static_cast<const char*>(text)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  Fail(3, "no title \"" + title + "\" within 30 s");
}

void Show(const Library& lib, const std::string& title) {
  lib.load(0, 0, 64, 48, g_pixels.data(), TitlePage(title).c_str(), 0, "en-US");
  WaitForTitle(lib, title);
}

// The names of this process's threads, as the kernel knows them.
std::string ThreadNames() {
  std::string names;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return names;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    FILE* comm =
        std::fopen(("/proc/self/task/" + std::string(entry->d_name) + "/comm").c_str(), "r");
    if (comm == nullptr) continue;
    char name[64] = {};
    if (std::fgets(name, sizeof name, comm))
      names += " " + std::string(name, std::strcspn(name, "\n"));
    std::fclose(comm);
  }
  closedir(tasks);
  return names;
}

// Names in a folder, without "." and "..".
std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (dirent* entry = readdir(dir))
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.push_back(entry->d_name);
  closedir(dir);
  return names;
}

// A download that cannot be completed: the host must hear it failed, and nothing of it may be
// left in the folder.
int Download(const Library& lib, const std::string& url, const std::string& folder) {
  Show(lib, "before the download");
  lib.load(0, 0, 64, 48, g_pixels.data(), url.c_str(), 0, "en-US");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    if (std::chrono::steady_clock::now() > deadline) Fail(3, "no failed load within 60 s");
    void* text = nullptr;
    int value = 0;
    const int r = lib.update(&text, &value);
    if (r != -1 && (r & UPDATE_LOAD_ERROR)) {
      std::printf("lifecycle host: heard %d %s\n", value, static_cast<const char*>(text));
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  lib.unload(1);
  std::string left;
  for (const std::string& name : FolderEntries(folder)) left += " " + name;
  if (!left.empty()) Fail(5, "left in the download folder:" + left);
  return 0;
}

// ---- exit roads ------------------------------------------------------------------------------

constexpr int kRoadWidth = 320, kRoadHeight = 240;  // 300 KiB: malloc maps it, free unmaps it
constexpr size_t kRoadBytes = size_t{kRoadWidth} * kRoadHeight * 4;

// A page that repaints the whole view every animation frame; "ready" once it runs.
const char kAnimatedPage[] =
    "quillo_htmlsource:<body style='margin:0'><canvas id=c width=320 height=240></canvas><script>"
    "const g = c.getContext('2d'); let n = 0;"
    "function f() { g.fillStyle = 'hsl(' + (n++ * 7 % 360) + ',80%,50%)';"
    " g.fillRect(0, 0, 320, 240); if (n == 5) document.title = 'ready';"
    " requestAnimationFrame(f); } requestAnimationFrame(f);</script>";

// The same, with an alert left open over it once the animation runs.
const char kDialogPage[] =
    "quillo_htmlsource:<body style='margin:0'><canvas id=c width=320 height=240></canvas><script>"
    "const g = c.getContext('2d'); let n = 0;"
    "function f() { g.fillStyle = 'hsl(' + (n++ * 7 % 360) + ',80%,50%)';"
    " g.fillRect(0, 0, 320, 240); requestAnimationFrame(f); } requestAnimationFrame(f);"
    "setTimeout(() => alert('open at exit'), 100);</script>";

// Memory of the host's own, given back with free or munmap.
struct HostMemory {
  bool mapped = false;
  uint8_t* data = nullptr;

  explicit HostMemory(const std::string& kind) : mapped(kind == "mapped") {
    if (kind != "heap" && kind != "mapped") Fail(2, "unknown memory kind " + kind);
    if (mapped) {
      void* p =
          mmap(nullptr, kRoadBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p == MAP_FAILED) Fail(4, "mmap failed");
      data = static_cast<uint8_t*>(p);
    } else {
      data = static_cast<uint8_t*>(std::malloc(kRoadBytes));
      if (data == nullptr) Fail(4, "malloc failed");
    }
    std::memset(data, 0, kRoadBytes);
  }

  // Gives the memory back. Mapped memory leaves an inaccessible reservation behind in its
  // place, so that a write that comes after faults instead of landing in a later mapping.
  void GiveBack() {
    if (!mapped) {
      std::free(data);
    } else {
      munmap(data, kRoadBytes);
      mmap(data, kRoadBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    }
    data = nullptr;
  }
};

// Polls until the page is in the state of its kind: animating, playing its video, or animating
// under an open dialog.
void ReachPage(const Library& lib, const std::string& page) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  const std::string want = page == "video" ? "playing" : "ready";
  while (std::chrono::steady_clock::now() < deadline) {
    void* text = nullptr;
    int value = 0;
    const int r = lib.update(&text, &value);
    if (r != -1) {
      if (page == "dialog" && (r & UPDATE_JS_DIALOG)) return;
      if (page != "dialog" && (r & UPDATE_TITLE) && text && want == static_cast<const char*>(text))
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  Fail(3, "the " + page + " page did not get going within 30 s");
}

int ExitRoad(const Library& lib, char** argv, int argc) {
  if (argc < 8)
    Fail(2, "usage: lifecycle_host LIBRARY exit-road MEMORY UNLOAD EXIT PAGE SEED [VIDEO_URL]");
  const std::string unload = argv[4], exitWay = argv[5], page = argv[6];
  std::mt19937 random(static_cast<unsigned>(std::strtoul(argv[7], nullptr, 10)));
  // Half the waits are none at all: a host that frees at once is the common case.
  auto randomMicroseconds = [&](int most) {
    if (std::bernoulli_distribution(0.5)(random)) return std::chrono::microseconds(0);
    return std::chrono::microseconds(std::uniform_int_distribution<int>(0, most)(random));
  };
  std::string url;
  if (page == "animate")
    url = kAnimatedPage;
  else if (page == "dialog")
    url = kDialogPage;
  else if (page == "video" && argc > 8)
    url = argv[8];
  else
    Fail(2, "unknown page " + page + " (video needs its URL)");

  HostMemory memory(argv[3]);
  lib.load(0, 0, kRoadWidth, kRoadHeight, memory.data, url.c_str(), 0, "en-US");
  ReachPage(lib, page);
  // Frames go on for a while, at a host's pace; then the last poll.
  const auto until = std::chrono::steady_clock::now() + randomMicroseconds(300000);
  do {
    void* text = nullptr;
    int value = 0;
    lib.update(&text, &value);
    std::this_thread::sleep_for(randomMicroseconds(16000));
  } while (std::chrono::steady_clock::now() < until);
  std::this_thread::sleep_for(randomMicroseconds(5000));
  memory.GiveBack();
  if (unload == "close")
    lib.unload(0);
  else if (unload == "shutdown")
    lib.unload(1);
  else if (unload != "none")
    Fail(2, "unknown unload " + unload);
  std::this_thread::sleep_for(randomMicroseconds(20000));
  if (exitWay == "exit") std::exit(0);
  if (exitWay == "thread-exit") {
    std::thread([] { std::exit(0); }).detach();
    for (;;) pause();
  }
  if (exitWay == "thread-exit-busy") {
    const auto wait = randomMicroseconds(50000);
    std::thread([wait] {
      std::this_thread::sleep_for(wait);
      std::exit(0);
    }).detach();
    for (int i = 0;; ++i) {
      lib.input(INPUT_MOUSE | INPUT_MOUSE_MOVE, i % kRoadWidth, i % kRoadHeight);
      lib.script("document.body.dataset.n = (document.body.dataset.n | 0) + 1");
    }
  }
  if (exitWay != "return") Fail(2, "unknown exit " + exitWay);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3)
    Fail(2, "usage: lifecycle_host LIBRARY dlclose|fork|no-unload|show TITLE|exit-road ...");
  const std::string scenario = argv[2];
  Library lib = Open(argv[1]);
  if (scenario == "exit-road") return ExitRoad(lib, argv, argc);

  if (scenario == "show") {
    lib.debug(1);
    Show(lib, argc > 3 ? argv[3] : "shown");
    lib.unload(1);
    return 0;
  }
  if (scenario == "download" && argc > 4) return Download(lib, argv[3], argv[4]);
  Show(lib, "first");
  if (scenario == "dlclose") {
    lib.unload(1);
    std::fprintf(stderr, "lifecycle host: threads after UnloadWeb(1):%s\n", ThreadNames().c_str());
    if (dlclose(lib.handle) != 0) Fail(4, std::string("dlclose: ") + dlerror());
    // Whatever the engine left running gets time to run into unmapped code.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return 0;
  }
  if (scenario == "fork") {
    const pid_t child = fork();
    if (child < 0) Fail(4, "fork failed");
    if (child == 0) {
      // In the child every export does nothing. It ends with _exit, as POSIX asks of the child
      // of a threaded process: exit() would run the engine's exit handlers, one of which spins
      // forever on an allocator lock when an engine thread held it at the fork (seen 1 in 244).
      void* text = nullptr;
      int value = 0;
      lib.update(&text, &value);
      lib.input(INPUT_MOUSE | INPUT_MOUSE_DOWN, 1, 1);
      lib.script("document.title = 'child';");
      lib.history(HISTORY_BACK);
      lib.schemes("tel:");
      lib.load(0, 0, 64, 48, g_pixels.data(), TitlePage("child").c_str(), 0, "en-US");
      lib.unload(0);
      lib.unload(1);
      _exit(0);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) Fail(4, "waitpid failed");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      Fail(5,
           "the child ended with status " + std::to_string(status) +
               (WIFSIGNALED(status) ? " (signal " + std::to_string(WTERMSIG(status)) + ")" : ""));
    // The parent's page goes on.
    Show(lib, "parent after fork");
    lib.unload(1);
    return 0;
  }
  if (scenario == "no-unload") return 0;
  Fail(2, "unknown scenario " + scenario);
}
