// A private copy of libquillo.so, loaded with dlopen.
//
// The library writes its log beside its own file and the engine can start only once per
// process, so every end-to-end test loads a copy of its own from a fresh temporary directory.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace quillo_test {

using LoadWebFn = int (*)(int, int, int, int, void*, const char*, int, const char*);
using UpdateWebFn = int (*)(void**, int*);
using UnloadWebFn = void (*)(bool);
using InputWebFn = void (*)(int, int, int);
using GoBackForwardHomeFn = void (*)(int);
using ExecuteJavaScriptFn = void (*)(const char*);
using ReserveInvalidRedirectUrlSchemesFn = void (*)(const char*);
using SetDebugEnableFn = void (*)(bool);
// The same two exports seen as taking a raw byte, to pass values other than 0 and 1.
using UnloadWebByteFn = void (*)(unsigned char);
using SetDebugEnableByteFn = void (*)(unsigned char);

// Where the build put the library and its web-process extension.
std::filesystem::path BuiltLibraryPath();
std::filesystem::path BuiltWebExtensionDir();

class LibraryCopy {
 public:
  // Copies the built library (and the extension folder, when it exists) into a new temporary
  // directory and loads it. Returns null and fills *error on failure.
  static std::unique_ptr<LibraryCopy> Create(std::string* error);

  // The library stays loaded for the rest of the process (unloading it while the engine's
  // threads and callbacks may still refer to it is not safe); the directory is removed.
  ~LibraryCopy();

  LibraryCopy(const LibraryCopy&) = delete;
  LibraryCopy& operator=(const LibraryCopy&) = delete;

  const std::filesystem::path& directory() const { return directory_; }
  // Any exported function of the copy (those of quillo/views.h, for example), or null.
  void* Symbol(const char* name) const;
  std::filesystem::path library_path() const { return directory_ / "libquillo.so"; }
  std::filesystem::path log_path() const { return directory_ / "tavlo_cef.log"; }

  LoadWebFn LoadWeb = nullptr;
  UpdateWebFn UpdateWeb = nullptr;
  UnloadWebFn UnloadWeb = nullptr;
  InputWebFn InputWeb = nullptr;
  GoBackForwardHomeFn GoBackForwardHome = nullptr;
  ExecuteJavaScriptFn ExecuteJavaScript = nullptr;
  ReserveInvalidRedirectUrlSchemesFn ReserveInvalidRedirectUrlSchemes = nullptr;
  SetDebugEnableFn SetDebugEnable = nullptr;
  UnloadWebByteFn UnloadWebByte = nullptr;
  SetDebugEnableByteFn SetDebugEnableByte = nullptr;

 private:
  LibraryCopy() = default;

  std::filesystem::path directory_;
  void* handle_ = nullptr;
};

}  // namespace quillo_test
