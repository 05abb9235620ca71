// A library whose own path does not fit the 1,024-unit path buffers: it must
// not overflow them, and it keeps working with its log file in the working
// directory.
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

}  // namespace
}  // namespace quillo_test
