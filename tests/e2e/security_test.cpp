// The engine's processes as the system sees them: web processes run confined
// and still show pages, and nothing of the engine outlives a killed host.
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "support/e2e_fixture.h"
#include "support/keyboard.h"

namespace quillo_test {
namespace {

namespace fs = std::filesystem;

struct ProcessInfo {
  pid_t pid;
  pid_t parent;
  std::string name;
  char state;
};

bool ReadProcess(pid_t pid, ProcessInfo& info) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const size_t open = line.find('('), close = line.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close + 4 > line.size())
    return false;
  info.pid = pid;
  info.name = line.substr(open + 1, close - open - 1);
  info.state = line[close + 2];
  info.parent = static_cast<pid_t>(std::atol(line.c_str() + close + 4));
  return true;
}

// Live processes started by `parent` whose name begins with "WPE".
std::set<pid_t> EngineChildren(pid_t parent) {
  std::set<pid_t> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    ProcessInfo info;
    if (ReadProcess(std::atoi(name.c_str()), info) && info.parent == parent &&
        info.name.rfind("WPE", 0) == 0 && info.state != 'Z')
      found.insert(info.pid);
  }
  return found;
}

// A process that has gone (or is only a zombie waiting for a reaper).
bool Gone(pid_t pid) {
  ProcessInfo info;
  return !ReadProcess(pid, info) || info.state == 'Z' || info.state == 'X';
}

// The NoNewPrivs value of each thread of pid.
std::vector<std::string> NoNewPrivsOfThreads(pid_t pid) {
  std::vector<std::string> values;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("NoNewPrivs:", 0) == 0)
        values.push_back(task.path().filename().string() + line.substr(11));
  }
  return values;
}

bool LandlockAvailable() {
  return syscall(444, nullptr, 0, 1) >= 1;
}

class Security : public E2ETest {};

TEST_F(Security, WebProcessesRunConfinedAndPagesStillWork) {
  if (!LandlockAvailable()) GTEST_SKIP() << "this kernel has no Landlock";
  constexpr int kW = 320, kH = 200;
  HttpServer& http = server();
  http.Serve("/form",
             HtmlResponse("<title>form</title><body style='margin:0;background:rgb(0,200,0)'>"
                          "<input id=f style='position:absolute;left:10px;top:10px;width:200px'"
                          " oninput='document.title=\"typed \"+this.value' autofocus>"
                          "<a id=l href='/next' style='position:absolute;left:10px;top:100px;"
                          "font-size:40px'>next</a>"));
  http.Serve("/next", HtmlResponse("<title>next</title><body style='background:rgb(0,0,220)'>"));
  PixelBuffer& buffer = NewBuffer(kW, kH);
  Load(buffer, http.Url("/form"));
  ASSERT_TRUE(host().WaitForTitle("form"));
  EXPECT_TRUE(WaitForView(buffer, 0, {{300, 180, {0, 200, 0}}}, "the form page"));

  // Every thread of the page's web process has no-new-privileges.
  std::set<pid_t> web;
  ASSERT_TRUE(host().PollUntil(
      [&] {
        web.clear();
        for (pid_t pid : EngineChildren(getpid())) {
          ProcessInfo info;
          if (ReadProcess(pid, info) && info.name.rfind("WPEWebProcess", 0) == 0) web.insert(pid);
        }
        return !web.empty();
      },
      "the web process"));
  for (pid_t pid : web) {
    const std::vector<std::string> threads = NoNewPrivsOfThreads(pid);
    EXPECT_GT(threads.size(), 1u);
    for (const std::string& value : threads)
      EXPECT_EQ(value.substr(value.find('\t') + 1), "1") << "thread " << value;
  }

  // Typing, a click on a link.
  HostInput input(lib(), host());
  input.Click(50, 20);
  const size_t typed = host().notices().size();
  input.Type("abc");
  EXPECT_TRUE(host().WaitForTitle("typed abc", typed));
  const size_t clicked = host().notices().size();
  input.Click(30, 125);
  EXPECT_TRUE(host().WaitForTitle("next", clicked));
  EXPECT_TRUE(WaitForView(buffer, 0, {{300, 180, {0, 0, 220}}}, "the next page"));

  // A file: page (the network process reads the file, the web process shows it).
  char dir[] = "/tmp/quillo-file-page-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const fs::path page = fs::path(dir) / "page.html";
  std::ofstream(page) << "<title>file page</title><body style='background:rgb(220,0,0)'>";
  const size_t fromFile = host().notices().size();
  Load(buffer, "file://" + page.string());
  EXPECT_TRUE(host().WaitForTitle("file page", fromFile));
  EXPECT_TRUE(WaitForView(buffer, 0, {{300, 180, {220, 0, 0}}}, "the file: page"));
  std::error_code ec;
  fs::remove_all(dir, ec);
}

// A host killed while its page runs endless script: its web process (busy,
// never reading its connection) and network process end soon after it.
TEST_F(Security, EngineProcessesEndWithAKilledHost) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    Host own(lib());
    PixelBuffer buffer(64, 48);
    lib().LoadWeb(
        0, 0, 64, 48, buffer.data(),
        (kHtmlSource + "<title>busy</title><script>setTimeout(() => { for (;;) {} }, 300)</script>")
            .c_str(),
        0, "en-US");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool told = false;
    while (std::chrono::steady_clock::now() < deadline) {
      own.Update();
      if (!told && own.SawTitle("busy") && !EngineChildren(getpid()).empty()) {
        told = write(ready[1], "r", 1) == 1;
      }
      usleep(1000);
    }
    _exit(3);
  }
  close(ready[1]);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1) << "the child host never showed its page";
  close(ready[0]);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));  // the script is looping now
  const std::set<pid_t> engine = EngineChildren(child);
  ASSERT_FALSE(engine.empty());
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);

  std::set<pid_t> left = engine;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!left.empty() && std::chrono::steady_clock::now() < deadline) {
    for (auto it = left.begin(); it != left.end();) it = Gone(*it) ? left.erase(it) : std::next(it);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  for (pid_t pid : left) {
    ProcessInfo info;
    ReadProcess(pid, info);
    ADD_FAILURE() << info.name << " (" << pid << ") outlived its killed host";
    kill(pid, SIGKILL);
  }
}

}  // namespace
}  // namespace quillo_test
