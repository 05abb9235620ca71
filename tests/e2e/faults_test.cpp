// Faults around the host: the network process killed in the middle of a load, two host
// processes at once, a service user without a home folder whose library folder it may not write
// (the log then goes to standard error and says once why), and a disk that fills during a
// download (the host hears it failed; nothing of it is left).
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/e2e_fixture.h"
#include "support/host_process.h"
#include "support/log_file.h"
#include "support/processes.h"
#include "support/sockets.h"
#include "support/waits.h"

extern char** environ;

namespace quillo_test {
namespace {

namespace fs = std::filesystem;

size_t CountOccurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// This process's environment with the given names left out and the given entries added.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& without,
                                         const std::vector<std::string>& added) {
  std::vector<std::string> result;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool dropped = false;
    for (const std::string& name : without) dropped |= entry.rfind(name + "=", 0) == 0;
    if (!dropped) result.push_back(entry);
  }
  result.insert(result.end(), added.begin(), added.end());
  return result;
}

class Faults : public E2ETest {};

TEST_F(Faults, ANetworkProcessKilledMidLoadLosesNothingAndTheNextLoadWorks) {
  lib().SetDebugEnable(true);  // a failure shows the log
  server().Serve("/next", HtmlResponse("<title>next</title><body style='margin:0;"
                                       "background:rgb(0,128,64)'>"));
  SilentServer silent;
  ASSERT_TRUE(silent.ok());
  PixelBuffer& buffer = NewBuffer(80, 60);
  Load(buffer, kHtmlSource + "<title>start</title>");
  ASSERT_TRUE(host().WaitForTitle("start"));
  const size_t from = host().notices().size();
  Load(buffer, silent.Url("/never-answered"));
  ASSERT_TRUE(host().PollUntil([&] { return silent.Accept() > 0; }, "the request to the server"));
  // The kernel keeps 15 characters of a name: "WPENetworkProce".
  ASSERT_GE(KillChildren("WPENetworkProc"), 1u);
  // The load under way is either asked again of a fresh network process (the server sees a
  // second request) or fails, and then the host hears it.
  const size_t requests = silent.Accept();
  ASSERT_TRUE(host().PollUntil(
      [&] {
        return silent.Accept() > requests ||
               !NoticeIndices(host(), UPDATE_LOAD_ERROR, from).empty();
      },
      "the load asked again, or a failed load"));
  for (size_t i : NoticeIndices(host(), UPDATE_LOAD_ERROR, from)) {
    EXPECT_LT(host().notices()[i].value, 0) << Describe(host().notices()[i]);
    EXPECT_EQ(host().notices()[i].text.rfind("net::ERR_", 0), 0u) << Describe(host().notices()[i]);
  }
  std::printf(
      "network process: killed after %zu request(s); %zu request(s) since, %zu failed "
      "load(s) heard\n",
      requests, silent.Accept() - requests, NoticeIndices(host(), UPDATE_LOAD_ERROR, from).size());
  // A fresh network process carries the next load.
  const size_t next = host().notices().size();
  Load(buffer, server().Url("/next"));
  ASSERT_TRUE(host().WaitForTitle("next", next));
  EXPECT_TRUE(WaitForView(buffer, 0, {{40, 30, {0, 128, 64}}}, "the next page"));
  EXPECT_TRUE(host().violations().empty()) << host().violations().front();
}

// Three processes show pages from one library folder at once: this one and two hosts. The
// first to start keeps the log file; the others log to standard error only.
TEST_F(Faults, TwoHostProcessesAtOnceEachShowTheirOwnPage) {
  lib().SetDebugEnable(true);
  PixelBuffer& buffer = NewBuffer(64, 48);
  Load(buffer, kHtmlSource + "<title>this process</title>");
  ASSERT_TRUE(host().WaitForTitle("this process"));
  const fs::path outFirst = lib().directory() / "first.out";
  const fs::path outSecond = lib().directory() / "second.out";
  const pid_t first = StartHost(lib(), {{"show", "first host"}}, outFirst.string());
  const pid_t second = StartHost(lib(), {{"show", "second host"}}, outSecond.string());
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  // This process's page goes on meanwhile.
  const size_t from = host().notices().size();
  lib().ExecuteJavaScript("document.title = 'still here'");
  ASSERT_TRUE(host().WaitForTitle("still here", from));
  EXPECT_EQ(DescribeStatus(WaitForHost(first, std::chrono::seconds(90))), "exit 0");
  EXPECT_EQ(DescribeStatus(WaitForHost(second, std::chrono::seconds(90))), "exit 0");
  const auto lines = LogLines();
  EXPECT_EQ(CountLinesContaining(lines, "first host"), 0u);
  EXPECT_EQ(CountLinesContaining(lines, "second host"), 0u);
  Load(buffer, kHtmlSource + "<title>after both</title>");
  EXPECT_TRUE(host().WaitForTitle("after both", from));
}

// A service user (as root: the user "nobody", whose home folder does not exist) runs a host
// from a library folder it may not write, with the log on: the page shows, no log file is
// made, and standard error says once why.
TEST_F(Faults, AServiceUserWithoutAHomeFolderAndAReadOnlyLibraryFolder) {
  const fs::path dir = lib().directory();
  std::error_code ec;
  fs::permissions(dir,
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec,
                  ec);
  for (const auto& entry : fs::recursive_directory_iterator(dir, ec))
    fs::permissions(entry.path(),
                    fs::perms::group_read | fs::perms::others_read |
                        (entry.is_directory() ? fs::perms::group_exec | fs::perms::others_exec
                                              : fs::perms::none),
                    fs::perm_options::add, ec);
  HostRun run{{"show", "service user"}};
  // No home folder, and none of the folders a desktop session names.
  run.environment = EnvironmentWith({"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME",
                                     "XDG_RUNTIME_DIR", "XDG_DOWNLOAD_DIR"},
                                    {"HOME=/nonexistent"});
  if (geteuid() == 0) {
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "no user \"nobody\" here";
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    run.prepare = [uid, gid] {
      return setgroups(0, nullptr) == 0 && setgid(gid) == 0 && setuid(uid) == 0;
    };
  } else {
    // Not root: the folder is made read-only for this user instead.
    fs::permissions(dir, fs::perms::owner_write, fs::perm_options::remove, ec);
  }
  std::string output;
  const int status = RunHost(lib(), run, &output);
  fs::permissions(dir, fs::perms::owner_write, fs::perm_options::add, ec);
  EXPECT_EQ(DescribeStatus(status), "exit 0") << output;
  EXPECT_NE(output.find("CWebClient::OnTitleChange [service user]"), std::string::npos) << output;
  EXPECT_EQ(CountOccurrences(output, "could not be made"), 1u) << output;
  EXPECT_FALSE(fs::exists(lib().log_path()));
}

// The download folder is a file system of 256 KiB of its own (a mount namespace for the host);
// a download of 4 MiB fills it.
TEST_F(Faults, ADiskFullDuringADownloadIsHeardAndLeavesNoFile) {
  if (geteuid() != 0) GTEST_SKIP() << "a file system of the host's own needs root";
  const fs::path home = lib().directory() / "home";
  const fs::path downloads = home / "Downloads";
  fs::create_directories(downloads);
  server().Serve("/big.bin",
                 {200, {{"Content-Type", "application/octet-stream"}}, std::string(4 << 20, 'x')});
  HostRun run{{"download", server().Url("/big.bin"), downloads.string()}};
  run.environment =
      EnvironmentWith({"HOME", "XDG_CONFIG_HOME", "XDG_DOWNLOAD_DIR"}, {"HOME=" + home.string()});
  const std::string folder = downloads.string();
  run.prepare = [folder] {
    return unshare(CLONE_NEWNS) == 0 &&
           mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=256k") == 0;
  };
  std::string output;
  const int status = RunHost(lib(), run, &output);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 126)
    GTEST_SKIP() << "no mount namespace of its own here";
  EXPECT_EQ(DescribeStatus(status), "exit 0") << output;
  EXPECT_NE(output.find("lifecycle host: heard -18 net::ERR_FILE_NO_SPACE"), std::string::npos)
      << output;
}

}  // namespace
}  // namespace quillo_test
