// What the library decides for the page: script dialogs wait for the host's answer, new windows
// are refused, downloads are saved at once without asking.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "support/e2e_fixture.h"
#include "support/keyboard.h"
#include "support/waits.h"

namespace quillo_test {
namespace {

constexpr int kWidth = 320, kHeight = 240;

// The notices of the given bit from index `from` on.
std::vector<Notice> NoticesWith(const Host& host, int bit, size_t from = 0) {
  std::vector<Notice> found;
  for (size_t i = from; i < host.notices().size(); ++i) {
    if (host.notices()[i].bits & bit) found.push_back(host.notices()[i]);
  }
  return found;
}

// ---- script dialogs -----------------------------------------------------------------------

struct DialogCase {
  const char* name;
  friend void PrintTo(const DialogCase& c, std::ostream* os) { *os << c.name; }
  std::string call;     // the script call that opens the dialog
  std::string message;  // its text as the host gets it
  int type;             // 0 alert, 1 confirm, 2 prompt
  int answer;           // InputWeb(INPUT_DIALOG, answer, 0)
  std::string result;   // what the call returned, as JSON
};

class Dialog : public E2ETest, public ::testing::WithParamInterface<DialogCase> {
 protected:
  // A page that opens the dialog once it has loaded and reports the call's result.
  static std::string DialogPage(const std::string& call) {
    return kHtmlSource +
           "<title>ready</title><script>onload = () => setTimeout(() => {"
           "  const r = " +
           call +
           ";"
           "  document.title = 'result:' + (r === undefined ? 'undefined' : JSON.stringify(r));"
           "}, 0);</script>";
  }

  ::testing::AssertionResult WaitForDialog(size_t from) {
    return host().PollUntil([&] { return !NoticesWith(host(), UPDATE_JS_DIALOG, from).empty(); },
                            "UPDATE_JS_DIALOG");
  }

  bool SawResult() {
    for (const auto& t : host().Texts(UPDATE_TITLE)) {
      if (t.rfind("result:", 0) == 0) return true;
    }
    return false;
  }
};

TEST_P(Dialog, WaitsForTheHostsAnswer) {
  PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
  Load(buffer, DialogPage(GetParam().call));
  ASSERT_TRUE(WaitForDialog(0));
  const auto dialogs = NoticesWith(host(), UPDATE_JS_DIALOG);
  ASSERT_EQ(dialogs.size(), 1u) << host().Recent();
  EXPECT_EQ(dialogs[0].text, GetParam().message);
  EXPECT_EQ(dialogs[0].value, GetParam().type);

  // The script stays blocked while the host thinks.
  ASSERT_TRUE(IdlePolls(host()));
  ASSERT_FALSE(SawResult()) << "the dialog returned without an answer:\n" << host().Recent();

  lib().InputWeb(INPUT_DIALOG, GetParam().answer, 0);
  ASSERT_TRUE(host().PollUntil([&] { return SawResult(); }, "the dialog's result in the title"));
  EXPECT_EQ(host().Texts(UPDATE_TITLE).back(), "result:" + GetParam().result);
  EXPECT_TRUE(host().violations().empty()) << host().violations().front();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Dialog,
    ::testing::Values(
        DialogCase{"Alert", "alert('Hello \\u00fc')", "Hello \xC3\xBC", 0, 1, "undefined"},
        DialogCase{"ConfirmAccepted", "confirm('Sure?')", "Sure?", 1, 1, "true"},
        DialogCase{"ConfirmCancelled", "confirm('Sure?')", "Sure?", 1, 0, "false"},
        // An accepted prompt gets an empty answer, never its default text.
        DialogCase{"PromptAccepted", "prompt('Name?', 'preset')", "Name?", 2, 1, "\"\""},
        DialogCase{"PromptCancelled", "prompt('Name?', 'preset')", "Name?", 2, 0, "null"},
        // Any answer other than 1 cancels.
        DialogCase{"ConfirmAnsweredTwo", "confirm('Sure?')", "Sure?", 1, 2, "false"}),
    [](const auto& info) { return std::string(info.param.name); });

class Dialogs : public E2ETest {};

TEST_F(Dialogs, AnswerWithoutWaitingDialogDoesNothing) {
  PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
  Load(buffer, kHtmlSource +
                   "<title>ready</title><script>onload = () => setTimeout(() => {"
                   "  document.title = 'first:' + confirm('one'); }, 0);</script>");
  ASSERT_TRUE(host().PollUntil([&] { return !NoticesWith(host(), UPDATE_JS_DIALOG).empty(); },
                               "the first dialog"));
  lib().InputWeb(INPUT_DIALOG, 0, 0);
  ASSERT_TRUE(host().WaitForTitle("first:false"));
  // A second answer to the same dialog, and one with no dialog at all.
  lib().InputWeb(INPUT_DIALOG, 1, 0);
  ASSERT_TRUE(IdlePolls(host(), 100));

  const size_t from = host().notices().size();
  lib().ExecuteJavaScript("setTimeout(() => { document.title = 'second:' + confirm('two'); }, 0)");
  ASSERT_TRUE(host().PollUntil([&] { return !NoticesWith(host(), UPDATE_JS_DIALOG, from).empty(); },
                               "the second dialog"));
  EXPECT_EQ(NoticesWith(host(), UPDATE_JS_DIALOG, from).front().text, "two");
  ASSERT_TRUE(IdlePolls(host()));
  ASSERT_FALSE(host().SawTitle("second:true", from))
      << "an earlier answer was used for the second dialog";
  ASSERT_FALSE(host().SawTitle("second:false", from))
      << "an earlier answer was used for the second dialog";
  lib().InputWeb(INPUT_DIALOG, 1, 0);
  EXPECT_TRUE(host().WaitForTitle("second:true", from));
}

// ---- new windows --------------------------------------------------------------------------

struct PopupCase {
  const char* name;
  friend void PrintTo(const PopupCase& c, std::ostream* os) { *os << c.name; }
  // Asks for the window at `url` on the page below.
  void (*open)(LibraryCopy& lib, HostInput& input, const std::string& url);
};

class Popup : public E2ETest, public ::testing::WithParamInterface<PopupCase> {};

TEST_P(Popup, IsRefusedAndNothingNavigates) {
  lib().SetDebugEnable(true);  // a failure shows what the engine asked for
  HttpServer& http = server();
  const std::string target = http.Url("/popup");
  http.Serve("/popup", HtmlResponse("<title>popup</title>"));
  http.Serve("/main",
             HtmlResponse("<html><body style=\"margin:0\">"
                          "<a id=\"l\" href=\"" +
                          target +
                          "\" target=\"_blank\" style=\"position:absolute;left:10px;top:10px;"
                          "width:200px;height:40px;display:block\">new window</a>"
                          "<button onclick=\"window.open('" +
                          target +
                          "')\" style=\"position:absolute;left:10px;top:100px;width:200px;"
                          "height:40px\">open</button>"
                          "<script>var marker = 'main'; document.title = 'main';</script>"
                          "</body></html>"));
  PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
  Load(buffer, http.Url("/main"));
  ASSERT_TRUE(host().WaitForTitle("main"));
  ASSERT_TRUE(host().PollUntil([&] { return host().frames() > 0; }, "a painted frame"));

  const size_t from = host().notices().size();
  HostInput input(lib(), host());
  GetParam().open(lib(), input, target);
  ASSERT_TRUE(
      host().PollUntil([&] { return !NoticesWith(host(), UPDATE_POPUP_BLOCKED, from).empty(); },
                       "UPDATE_POPUP_BLOCKED"));
  ASSERT_TRUE(IdlePolls(host()));

  EXPECT_FALSE(host().SawUrl(target, from)) << host().Recent();
  EXPECT_EQ(http.CountRequestsFor("/popup"), 0u) << "the new window's page was loaded";
  EXPECT_TRUE(host().Texts(UPDATE_TITLE, from).empty()) << host().Recent();
  // The same document is still there.
  const size_t check = host().notices().size();
  lib().ExecuteJavaScript("document.title = 'still ' + marker");
  EXPECT_TRUE(host().WaitForTitle("still main", check));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, Popup,
    ::testing::Values(
        PopupCase{"WindowOpenFromScript",
                  [](LibraryCopy& lib, HostInput&, const std::string& url) {
                    lib.ExecuteJavaScript(("window.open('" + url + "')").c_str());
                  }},
        PopupCase{"WindowOpenOnClick",
                  [](LibraryCopy&, HostInput& input, const std::string&) { input.Click(60, 120); }},
        PopupCase{"BlankTargetLink",
                  [](LibraryCopy&, HostInput& input, const std::string&) { input.Click(60, 30); }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- downloads ----------------------------------------------------------------------------

// Runs with a home directory of its own, set before the library (and the engine's libraries
// with it) is loaded, so that the user's download directory is $HOME/Downloads.
class Download : public E2ETest {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "quillo-home-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    home_ = pattern;
    fs::create_directories(home_ / "config");  // no user-dirs.dirs in it
    setenv("HOME", home_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    unsetenv("XDG_DOWNLOAD_DIR");
    E2ETest::SetUp();
  }

  void TearDown() override {
    E2ETest::TearDown();
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
  }

  std::filesystem::path home_;
};

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST_F(Download, IsSavedUnderItsSuggestedNameWithoutAsking) {
  std::string bytes;
  for (int i = 0; i < 3000; ++i) bytes += static_cast<char>((i * 7 + 3) & 0xFF);
  HttpServer& http = server();
  http.Serve("/page", HtmlResponse("<title>page</title>"));
  http.Serve("/download", HttpResponse{200,
                                       {{"Content-Type", "application/octet-stream"},
                                        {"Content-Disposition", "attachment; filename=data.bin"}},
                                       bytes});
  PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
  Load(buffer, http.Url("/page"));
  ASSERT_TRUE(host().WaitForTitle("page"));

  const size_t from = host().notices().size();
  Load(buffer, http.Url("/download"));
  const auto saved = home_ / "Downloads" / "data.bin";
  ASSERT_TRUE(
      host().PollUntil([&] { return std::filesystem::exists(saved) && ReadAll(saved) == bytes; },
                       saved.string() + " with the served bytes"));
  ASSERT_TRUE(IdlePolls(host()));
  EXPECT_TRUE(NoticesWith(host(), UPDATE_LOAD_ERROR, from).empty()) << host().Recent();
  EXPECT_TRUE(NoticesWith(host(), UPDATE_JS_DIALOG, from).empty()) << host().Recent();
  EXPECT_EQ(http.CountRequestsFor("/download"), 1u);
}

// Whatever name the server suggests, each download lands as one new file
// directly in the download folder: no path parts, nothing hidden, no control
// characters, no existing file overwritten and no link there followed.
TEST_F(Download, HostileNamesStayInTheFolder) {
  namespace fs = std::filesystem;
  const fs::path downloads = home_ / "Downloads";
  fs::create_directories(downloads);
  std::ofstream(downloads / "dup.bin") << "keep";
  fs::create_symlink(home_ / "outside-link.bin", downloads / "link.bin");
  const std::string outsideTmp = "/tmp/quillo-escape-" + std::to_string(getpid()) + ".bin";
  std::vector<std::string> dispositions = {
      "attachment; filename=\"../../escape-up.bin\"",
      "attachment; filename*=UTF-8''..%2F..%2Fescape-encoded.bin",
      "attachment; filename=\"" + outsideTmp + "\"",
      "attachment; filename=\".hidden\"",
      "attachment; filename*=UTF-8''ctl%01%0A%1Bname.bin",
      "attachment; filename=\"..\"",
      "attachment; filename=\"back\\\\slash\\\\name.bin\"",
      "attachment; filename=\"" + std::string(300, 'n') + ".bin\"",
      "attachment; filename=\"dup.bin\"",
      "attachment; filename=\"link.bin\"",
  };
  HttpServer& http = server();
  http.Serve("/page", HtmlResponse("<title>page</title>"));
  std::vector<std::string> bodies;
  for (size_t i = 0; i < dispositions.size(); ++i) {
    bodies.push_back("download body " + std::to_string(i) + std::string(100 + i, 'x'));
    http.Serve("/d" + std::to_string(i), HttpResponse{200,
                                                      {{"Content-Type", "application/octet-stream"},
                                                       {"Content-Disposition", dispositions[i]}},
                                                      bodies.back()});
  }
  PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
  Load(buffer, http.Url("/page"));
  ASSERT_TRUE(host().WaitForTitle("page"));

  // The regular files directly in the folder, by content.
  auto files = [&] {
    std::map<std::string, std::vector<std::string>> byContent;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(downloads, ec))
      if (entry.is_regular_file() && !entry.is_symlink())
        byContent[ReadAll(entry.path())].push_back(entry.path().filename().string());
    return byContent;
  };
  for (size_t i = 0; i < dispositions.size(); ++i) {
    Load(buffer, http.Url("/d" + std::to_string(i)));
    ASSERT_TRUE(host().PollUntil([&] { return files().count(bodies[i]) == 1; },
                                 "download " + std::to_string(i) + " in the folder"))
        << dispositions[i];
  }
  // Three downloads of one name at once, started by the page's frames.
  std::string frames;
  for (int i = 0; i < 3; ++i) {
    bodies.push_back("same name " + std::to_string(i));
    dispositions.push_back("attachment; filename=same.bin");
    http.Serve("/same" + std::to_string(i),
               HttpResponse{200,
                            {{"Content-Type", "application/octet-stream"},
                             {"Content-Disposition", dispositions.back()}},
                            bodies.back()});
    frames += "<iframe src='/same" + std::to_string(i) + "'></iframe>";
  }
  http.Serve("/burst", HtmlResponse("<title>burst</title>" + frames));
  Load(buffer, http.Url("/burst"));
  ASSERT_TRUE(host().PollUntil(
      [&] {
        const auto now = files();
        for (size_t i = bodies.size() - 3; i < bodies.size(); ++i)
          if (now.count(bodies[i]) == 0) return false;
        return true;
      },
      "three downloads of one name"));
  ASSERT_TRUE(IdlePolls(host()));
  const auto saved = files();
  for (size_t i = 0; i < bodies.size(); ++i) {
    ASSERT_EQ(saved.at(bodies[i]).size(), 1u) << dispositions[i];
    const std::string& name = saved.at(bodies[i])[0];
    EXPECT_NE(name[0], '.') << name;
    EXPECT_LE(name.size(), 255u);
    for (unsigned char c : name) EXPECT_TRUE(c >= 0x20 && c != 0x7f && c != '\\') << name;
  }
  EXPECT_EQ(ReadAll(downloads / "dup.bin"), "keep");
  EXPECT_FALSE(fs::exists(home_ / "outside-link.bin"));
  EXPECT_FALSE(fs::exists(outsideTmp));
  // Nothing was written anywhere in the home folder but the download folder.
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(home_, ec)) {
    const std::string path = entry.path().string();
    EXPECT_TRUE(path.rfind(downloads.string(), 0) == 0 ||
                path.rfind((home_ / "config").string(), 0) == 0 ||
                path.rfind((home_ / ".cache").string(), 0) == 0)
        << path;
  }
}

}  // namespace
}  // namespace quillo_test
