#include "support/library_copy.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <system_error>
#include <type_traits>

#include "quillo.h"

namespace quillo_test {

// The pointer types must stay those of the public header.
static_assert(std::is_same_v<LoadWebFn, decltype(&::LoadWeb)>);
static_assert(std::is_same_v<UpdateWebFn, decltype(&::UpdateWeb)>);
static_assert(std::is_same_v<UnloadWebFn, decltype(&::UnloadWeb)>);
static_assert(std::is_same_v<InputWebFn, decltype(&::InputWeb)>);
static_assert(std::is_same_v<GoBackForwardHomeFn, decltype(&::GoBackForwardHome)>);
static_assert(std::is_same_v<ExecuteJavaScriptFn, decltype(&::ExecuteJavaScript)>);
static_assert(std::is_same_v<ReserveInvalidRedirectUrlSchemesFn,
                             decltype(&::ReserveInvalidRedirectUrlSchemes)>);
static_assert(std::is_same_v<SetDebugEnableFn, decltype(&::SetDebugEnable)>);
static_assert(sizeof(bool) == sizeof(unsigned char));

std::filesystem::path BuiltLibraryPath() {
  return QUILLO_TEST_LIBRARY_PATH;
}
std::filesystem::path BuiltWebExtensionDir() {
  return QUILLO_TEST_WEBEXT_DIR;
}

namespace {

template <typename Fn>
bool Resolve(void* handle, const char* name, Fn* out, std::string* error) {
  dlerror();
  void* symbol = dlsym(handle, name);
  if (symbol == nullptr) {
    const char* why = dlerror();
    *error = std::string("export not found: ") + name + (why ? std::string(" (") + why + ")" : "");
    return false;
  }
  *out = reinterpret_cast<Fn>(symbol);
  return true;
}

}  // namespace

std::unique_ptr<LibraryCopy> LibraryCopy::Create(std::string* error) {
  namespace fs = std::filesystem;
  std::unique_ptr<LibraryCopy> copy(new LibraryCopy());

  std::string pattern = (fs::temp_directory_path() / "quillo-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    *error = "cannot create a temporary directory from " + pattern;
    return nullptr;
  }
  copy->directory_ = pattern;

  std::error_code ec;
  fs::copy_file(BuiltLibraryPath(), copy->library_path(), ec);
  if (ec) {
    *error = "cannot copy " + BuiltLibraryPath().string() + ": " + ec.message();
    return nullptr;
  }
  const fs::path webext = BuiltWebExtensionDir();
  if (fs::is_directory(webext, ec)) {
    fs::copy(webext, copy->directory_ / webext.filename(), fs::copy_options::recursive, ec);
    if (ec) {
      *error = "cannot copy " + webext.string() + ": " + ec.message();
      return nullptr;
    }
  }

  copy->handle_ = dlopen(copy->library_path().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (copy->handle_ == nullptr) {
    const char* why = dlerror();
    *error = "dlopen failed: " + std::string(why ? why : "unknown reason");
    return nullptr;
  }

  void* h = copy->handle_;
  if (!Resolve(h, "LoadWeb", &copy->LoadWeb, error) ||
      !Resolve(h, "UpdateWeb", &copy->UpdateWeb, error) ||
      !Resolve(h, "UnloadWeb", &copy->UnloadWeb, error) ||
      !Resolve(h, "InputWeb", &copy->InputWeb, error) ||
      !Resolve(h, "GoBackForwardHome", &copy->GoBackForwardHome, error) ||
      !Resolve(h, "ExecuteJavaScript", &copy->ExecuteJavaScript, error) ||
      !Resolve(h, "ReserveInvalidRedirectUrlSchemes", &copy->ReserveInvalidRedirectUrlSchemes,
               error) ||
      !Resolve(h, "SetDebugEnable", &copy->SetDebugEnable, error) ||
      !Resolve(h, "UnloadWeb", &copy->UnloadWebByte, error) ||
      !Resolve(h, "SetDebugEnable", &copy->SetDebugEnableByte, error)) {
    return nullptr;
  }
  return copy;
}

void* LibraryCopy::Symbol(const char* name) const {
  return handle_ ? dlsym(handle_, name) : nullptr;
}

LibraryCopy::~LibraryCopy() {
  if (!directory_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(directory_, ec);
  }
}

}  // namespace quillo_test
