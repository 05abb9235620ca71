#include "cef/wpe/media_plugins.h"

#include <dlfcn.h>

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

// GStreamer is loaded through the engine already; it is looked up at run
// time so that the library needs no GStreamer headers of its own.
bool Check() {
  void* gst = dlopen("libgstreamer-1.0.so.0", RTLD_NOW | RTLD_LOCAL);
  if (gst == nullptr) {
    QLOG(u"MediaPluginsPresent => libgstreamer-1.0.so.0 not found: media turned off");
    return false;
  }
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
