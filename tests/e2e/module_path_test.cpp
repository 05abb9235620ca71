// The library's own path, which places its log file: a path that does not fit
// the 1,024-unit path buffers must not overflow them (the log goes to the
// working directory), and the library finds itself under whatever file name the
// loader opened it by.
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/library_copy.h"
#include "support/log_file.h"

namespace quillo_test {
namespace {

namespace fs = std::filesystem;

TEST(ModulePath, TooLongForThePathBufferFallsBackToTheWorkingDirectory) {
  char base_template[] = "/tmp/quillo-deep-XXXXXX";
  ASSERT_NE(mkdtemp(base_template), nullptr);
  const fs::path base = base_template;
  fs::path deep = base;
  while (deep.string().size() < 1200) deep /= std::string(100, 'd');
  fs::create_directories(deep);
  fs::copy_file(BuiltLibraryPath(), deep / "libquillo.so");
  if (fs::exists(BuiltWebExtensionDir()))
    fs::copy(BuiltWebExtensionDir(), deep / BuiltWebExtensionDir().filename(),
             fs::copy_options::recursive);
  const fs::path work = base / "work";
  fs::create_directories(work);
  ASSERT_EQ(chdir(work.c_str()), 0);

  void* handle = dlopen((deep / "libquillo.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  auto setDebug = reinterpret_cast<SetDebugEnableFn>(dlsym(handle, "SetDebugEnable"));
  auto loadWeb = reinterpret_cast<LoadWebFn>(dlsym(handle, "LoadWeb"));
  auto updateWeb = reinterpret_cast<UpdateWebFn>(dlsym(handle, "UpdateWeb"));
  auto unloadWeb = reinterpret_cast<UnloadWebFn>(dlsym(handle, "UnloadWeb"));
  ASSERT_TRUE(setDebug && loadWeb && updateWeb && unloadWeb);

  std::vector<unsigned char> pixels(64 * 48 * 4);
  setDebug(true);
  loadWeb(0, 0, 64, 48, pixels.data(), "quillo_htmlsource:<title>deep</title>", 0, "en");
  bool titled = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!titled && std::chrono::steady_clock::now() < deadline) {
    void* text = nullptr;
    int value = 0;
    const int r = updateWeb(&text, &value);
    titled = r > 0 && (r & 0x2000) && std::string(static_cast<const char*>(text)) == "deep";
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  unloadWeb(true);
  EXPECT_TRUE(titled) << "the page did not come up from a deep directory";

  const auto lines = ReadLogLines(work / "tavlo_cef.log");
  ASSERT_FALSE(lines.empty()) << "no log file in the working directory";
  EXPECT_EQ(lines.front(), "CreateLogFile end");
  EXPECT_FALSE(fs::exists(deep / "tavlo_cef.log"));
  std::error_code ec;
  fs::remove_all(base, ec);
}

struct NameCase {
  const char* name;
  const char* file;  // the library's file in its folder
  const char* link;  // a link to it that the host opens, or nullptr
  friend void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }
};

class ModuleName : public ::testing::TestWithParam<NameCase> {};

// The packages install libquillo.so.0.1.0 with the link libquillo.so.0, which hosts load by the
// SONAME; a game may ship the library under a name of its own. The log goes beside the library
// in each case, and names the file the host opened.
TEST_P(ModuleName, LogFileBesideTheLibraryWhateverItsName) {
  char dir_template[] = "/tmp/quillo-name-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const fs::path dir = dir_template;
  fs::copy_file(BuiltLibraryPath(), dir / GetParam().file);
  fs::path opened = dir / GetParam().file;
  if (GetParam().link) {
    fs::create_symlink(GetParam().file, dir / GetParam().link);
    opened = dir / GetParam().link;
  }
  if (fs::exists(BuiltWebExtensionDir()))
    fs::copy(BuiltWebExtensionDir(), dir / BuiltWebExtensionDir().filename(),
             fs::copy_options::recursive);

  void* handle = dlopen(opened.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  auto setDebug = reinterpret_cast<SetDebugEnableFn>(dlsym(handle, "SetDebugEnable"));
  auto loadWeb = reinterpret_cast<LoadWebFn>(dlsym(handle, "LoadWeb"));
  auto updateWeb = reinterpret_cast<UpdateWebFn>(dlsym(handle, "UpdateWeb"));
  auto unloadWeb = reinterpret_cast<UnloadWebFn>(dlsym(handle, "UnloadWeb"));
  ASSERT_TRUE(setDebug && loadWeb && updateWeb && unloadWeb);

  std::vector<unsigned char> pixels(64 * 48 * 4);
  setDebug(true);
  loadWeb(0, 0, 64, 48, pixels.data(), "quillo_htmlsource:<title>named</title>", 0, "en");
  bool titled = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!titled && std::chrono::steady_clock::now() < deadline) {
    void* text = nullptr;
    int value = 0;
    const int r = updateWeb(&text, &value);
    titled = r > 0 && (r & 0x2000) && std::string(static_cast<const char*>(text)) == "named";
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  unloadWeb(true);
  EXPECT_TRUE(titled) << "the page did not come up from " << opened;

  const auto lines = ReadLogLines(dir / "tavlo_cef.log");
  ASSERT_FALSE(lines.empty()) << "no log file beside " << opened;
  EXPECT_EQ(lines[1], "=> module path : " + opened.string());
  std::error_code ec;
  fs::remove_all(dir, ec);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ModuleName,
    ::testing::Values(NameCase{"SonameLink", "libquillo.so.0.1.0", "libquillo.so.0"},
                      NameCase{"VersionedFile", "libquillo.so.0.1.0", nullptr},
                      NameCase{"HostsOwnName", "libgame-ui.so", nullptr}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillo_test
