#include "wpe/page/media_plugins.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

#include <string>

#include "cef_string.h"
#include "diagnostics/debug_log.h"

namespace quillo::engine {
namespace {

// The elements the engine's player creates by name: without any of them the
// web process crashes when a page loads a media source.
constexpr const char* kRequiredElements[] = {"playbin",      "appsink",       "autoaudiosink",
                                             "audioconvert", "audioresample", "volume",
                                             "videoconvert", "typefind"};

// The plugin files that hold those elements (videoconvert moved into
// videoconvertscale in GStreamer 1.22).
constexpr const char* kPluginFiles[][2] = {{"libgstplayback.so", nullptr},
                                           {"libgstapp.so", nullptr},
                                           {"libgstautodetect.so", nullptr},
                                           {"libgstaudioconvert.so", nullptr},
                                           {"libgstaudioresample.so", nullptr},
                                           {"libgstvolume.so", nullptr},
                                           {"libgstvideoconvertscale.so", "libgstvideoconvert.so"},
                                           {"libgstcoreelements.so", nullptr}};

// The quick answer, without starting GStreamer (its registry costs the first
// view several milliseconds, tens on a busy machine): yes when GStreamer looks
// for plugins only in its own folder beside its library, and that folder holds
// every file above. Anything else is asked of GStreamer itself. (A plugin file
// that is present but cannot load passes here; the engine then reports its
// web process gone, as for any crash of the page.)
bool PluginFilesPresent(void* gst) {
  for (const char* variable : {"GST_PLUGIN_SYSTEM_PATH", "GST_PLUGIN_SYSTEM_PATH_1_0",
                               "GST_PLUGIN_PATH", "GST_PLUGIN_PATH_1_0"})
    if (getenv(variable) != nullptr) return false;
  Dl_info info{};
  void* symbol = dlsym(gst, "gst_init_check");
  if (symbol == nullptr || dladdr(symbol, &info) == 0 || info.dli_fname == nullptr) return false;
  std::string folder = info.dli_fname;
  const size_t slash = folder.rfind('/');
  if (slash == std::string::npos) return false;
  folder.resize(slash);
  folder += "/gstreamer-1.0/";
  for (const auto& names : kPluginFiles) {
    bool found = false;
    for (const char* name : names)
      if (name != nullptr && access((folder + name).c_str(), R_OK) == 0) found = true;
    if (!found) return false;
  }
  return true;
}

// GStreamer is loaded through the engine already; it is looked up at run
// time so that the library needs no GStreamer headers of its own.
bool Check() {
  void* gst = dlopen("libgstreamer-1.0.so.0", RTLD_NOW | RTLD_LOCAL);
  if (gst == nullptr) {
    QLOG(u"MediaPluginsPresent => libgstreamer-1.0.so.0 not found: media turned off");
    return false;
  }
  if (PluginFilesPresent(gst)) return true;
  using InitCheck = int (*)(int*, char***, void**);
  using FactoryFind = void* (*)(const char*);
  using ObjectUnref = void (*)(void*);
  auto init = reinterpret_cast<InitCheck>(dlsym(gst, "gst_init_check"));
  auto find = reinterpret_cast<FactoryFind>(dlsym(gst, "gst_element_factory_find"));
  auto unref = reinterpret_cast<ObjectUnref>(dlsym(gst, "gst_object_unref"));
  // The library stays loaded: the engine holds it as well.
  if (!init || !find || !unref || !init(nullptr, nullptr, nullptr)) {
    QLOG(u"MediaPluginsPresent => GStreamer did not start: media turned off");
    return false;
  }
  std::string missing;
  for (const char* name : kRequiredElements) {
    void* factory = find(name);
    if (factory == nullptr)
      missing += missing.empty() ? name : std::string(" ") + name;
    else
      unref(factory);
  }
  if (missing.empty()) return true;
  QLOG(
      u"MediaPluginsPresent => GStreamer elements missing [%s]: media turned off "
      u"(install gstreamer1.0-plugins-base and gstreamer1.0-plugins-good)",
      CefString(missing).ToString16().c_str());
  return false;
}

}  // namespace

bool MediaPluginsPresent() {
  static const bool present = Check();
  return present;
}

}  // namespace quillo::engine
