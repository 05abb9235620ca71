// The library before, during and after the engine's life: exports that must do nothing
// before the first LoadWeb, readiness, the final shutdown, and what the shared object exports.
#include <sys/types.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include "support/e2e_fixture.h"
#include "support/threads.h"

namespace quillo_test {
namespace {

const std::string kGreenPage =
    kHtmlSource + "<title>page</title>" + SplitPageHtml({0, 255, 0}, {0, 255, 0});

class Foundations : public E2ETest {};

// The host's process environment, as "NAME=value" lines in order.
std::vector<std::string> Environment() {
  std::vector<std::string> lines;
  for (char** entry = environ; *entry != nullptr; ++entry) lines.emplace_back(*entry);
  return lines;
}

// A game that makes its own GL context after starting the page must get the renderer it would
// get without the library: the engine's rendering choice stays inside the engine's processes.
TEST_F(Foundations, HostEnvironmentIsLeftAsItWas) {
  unsetenv("LIBGL_ALWAYS_SOFTWARE");
  const std::vector<std::string> before = Environment();
  PixelBuffer& buffer = NewBuffer(64, 48);
  Load(buffer, kGreenPage);
  ASSERT_TRUE(host().WaitForTitle("page"));
  ASSERT_TRUE(WaitForView(buffer, 0, {{0, 0, {0, 255, 0}}, {63, 47, {0, 255, 0}}}, "the page"));
  EXPECT_EQ(getenv("LIBGL_ALWAYS_SOFTWARE"), nullptr);
  EXPECT_EQ(Environment(), before);
  Shutdown();
  EXPECT_EQ(Environment(), before);
}

TEST_F(Foundations, ExportsBeforeFirstLoadWebDoNothing) {
  const std::set<pid_t> threads_before = ThreadIds();
  // With logging on, anything that started the controller would also create the log file.
  lib().SetDebugEnable(true);

  auto expect_not_ready = [&](const char* when) {
    void* text = Host::kTextSentinel;
    int value = Host::kValueSentinel;
    EXPECT_EQ(lib().UpdateWeb(&text, &value), -1) << when;
    EXPECT_EQ(text, Host::kTextSentinel) << when << ": *text was written";
    EXPECT_EQ(value, Host::kValueSentinel) << when << ": *value was written";
  };
  expect_not_ready("before any call");
  expect_not_ready("second call");

  lib().InputWeb(INPUT_MOUSE | INPUT_MOUSE_DOWN, 5, 5);
  lib().InputWeb(INPUT_KEY | INPUT_KEY_CHAR, 'a', 'a');
  lib().GoBackForwardHome(HISTORY_BACK);
  lib().GoBackForwardHome(HISTORY_HOME);
  lib().ExecuteJavaScript("document.title = 'early'");
  // Were this kept, the data: URL of the page below would be refused.
  lib().ReserveInvalidRedirectUrlSchemes("data:");
  lib().UnloadWeb(false);
  lib().UnloadWeb(true);
  lib().UnloadWeb(true);
  expect_not_ready("after the other exports");

  EXPECT_FALSE(std::filesystem::exists(lib().log_path()))
      << "an export before LoadWeb created the log file";
  EXPECT_EQ(ThreadIds(), threads_before) << "an export before LoadWeb started a thread";

  // None of it got in the way of the engine's first start.
  PixelBuffer& buffer = NewBuffer(64, 48);
  Load(buffer, kGreenPage);
  ASSERT_TRUE(host().WaitForTitle("page"));
  ASSERT_TRUE(WaitForView(buffer, 0, {{0, 0, {0, 255, 0}}, {63, 47, {0, 255, 0}}}, "the page"));
  EXPECT_FALSE(host().SawTitle("early")) << "script given before LoadWeb ran";
  EXPECT_TRUE(host().Texts(UPDATE_LOAD_ERROR).empty()) << host().Recent();
}

TEST_F(Foundations, UpdateWebAnswersMinusOneUntilReadyThenWords) {
  PixelBuffer& buffer = NewBuffer(64, 48);
  Load(buffer, kGreenPage);
  // The engine starts on a thread of the library's own; it cannot be ready yet.
  EXPECT_EQ(host().Update(), -1);
  ASSERT_TRUE(host().WaitUntilReady());
  const size_t ready_at = host().calls() - 1;
  ASSERT_TRUE(host().WaitForFrames(1));
  ASSERT_TRUE(host().WaitForTitle("page"));

  size_t late_not_ready = 0;
  for (size_t i = ready_at; i < host().calls(); ++i) late_not_ready += host().results()[i] == -1;
  EXPECT_EQ(late_not_ready, 0u) << "UpdateWeb went back to -1 after the engine was ready";
  EXPECT_TRUE(host().violations().empty()) << host().violations().front();
}

TEST_F(Foundations, ShutdownReturnsAfterTheThreadsEndedAndCanBeRepeated) {
  lib().SetDebugEnable(true);
  PixelBuffer& buffer = NewBuffer(64, 48);
  const std::set<pid_t> before_load = ThreadIds();
  Load(buffer, kGreenPage);
  // The library starts its engine thread and its input thread inside the first LoadWeb; the
  // engine's own threads come later, from the engine thread.
  std::set<pid_t> started_by_load;
  for (pid_t tid : ThreadIds()) {
    if (!before_load.count(tid)) started_by_load.insert(tid);
  }
  ASSERT_GE(started_by_load.size(), 2u) << "LoadWeb did not start the library's two threads";
  ASSERT_TRUE(WaitForView(buffer, 0, {{0, 0, {0, 255, 0}}}, "the page"));

  Shutdown();
  const std::set<pid_t> after = ThreadIds();
  const auto lines = LogLines();

  size_t ended = 0;
  for (pid_t tid : started_by_load) ended += !after.count(tid);
  EXPECT_GE(ended, 2u) << "of the " << started_by_load.size()
                       << " threads that LoadWeb started, only " << ended
                       << " had ended when UnloadWeb(1) returned";

  const auto unload = FindLineContaining(lines, "CWebController::UnloadWeb");
  ASSERT_TRUE(unload.has_value()) << "no \"CWebController::UnloadWeb\" in the log";
  EXPECT_TRUE(FindLineContaining(lines, "CWebController::CallLoopIO end", *unload).has_value())
      << "the input thread's last line is not in the log when UnloadWeb(1) returns";
  EXPECT_TRUE(FindLineContaining(lines, "==> shutdown", *unload).has_value())
      << "the engine's shutdown line is not in the log when UnloadWeb(1) returns";

  // The log is closed: a second shutdown writes nothing and must simply return.
  const auto bytes = ReadFileBytes(lib().log_path());
  ASSERT_TRUE(bytes.has_value());
  lib().UnloadWeb(true);
  lib().UnloadWeb(false);
  EXPECT_EQ(ReadFileBytes(lib().log_path()), bytes) << "the log changed after the final shutdown";
}

// The functions include/quillo/views.h declares (QUILLO_VIEWS_API ... name(), as the header
// is written).
std::set<std::string> ViewsHeaderFunctions() {
  std::ifstream in(std::string(QUILLO_TEST_INCLUDE_DIR) + "/quillo/views.h");
  std::set<std::string> names;
  const std::regex declaration(R"(^QUILLO_VIEWS_API [^(]*[ *]([A-Za-z_]+)\()");
  std::smatch match;
  for (std::string line; std::getline(in, line);)
    if (std::regex_search(line, match, declaration)) names.insert(match[1]);
  return names;
}

// The shared object's dynamic symbol table: the eight exports, the functions of quillo/views.h
// and nothing else of the library.
TEST(SharedObject, ExportsTheEightFunctionsAndThoseOfTheViewsHeaderOnly) {
  const std::string command = "nm -D --defined-only '" + BuiltLibraryPath().string() + "' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char chunk[4096];
  while (size_t n = fread(chunk, 1, sizeof chunk, pipe.get())) output.append(chunk, n);
  ASSERT_EQ(pclose(pipe.release()), 0) << command << " failed:\n" << output;

  std::set<std::string> exports = {"LoadWeb",
                                   "UpdateWeb",
                                   "UnloadWeb",
                                   "InputWeb",
                                   "GoBackForwardHome",
                                   "ExecuteJavaScript",
                                   "ReserveInvalidRedirectUrlSchemes",
                                   "SetDebugEnable"};
  const std::set<std::string> views = ViewsHeaderFunctions();
  ASSERT_GE(views.size(), 20u) << "the views header's functions were not found";
  exports.insert(views.begin(), views.end());
  // What the linker itself defines in every shared object.
  const std::set<std::string> linker_defined = {"_init",       "_fini",      "__bss_start",
                                                "_edata",      "_end",       "__bss_start__",
                                                "__bss_end__", "_bss_end__", "__end__"};
  std::set<std::string> found;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (!(fields >> address >> type >> name)) continue;
    name = name.substr(0, name.find('@'));  // drop a version suffix
    if (exports.count(name)) {
      EXPECT_EQ(type, "T") << name << " is not a function in the text section";
      found.insert(name);
    } else if (!linker_defined.count(name) && type != "A") {
      ADD_FAILURE() << "libquillo.so exports a symbol of its own: " << line;
    }
  }
  for (const auto& name : exports) {
    EXPECT_TRUE(found.count(name)) << name << " is not exported under its plain C name";
  }
}

}  // namespace
}  // namespace quillo_test
