// quillo-parity-raw: the oracle of the parity check. A plain embedder of WPE WebKit, set up as
// bench/raw_engine.cpp is (the wpebackend-fdo shared-memory export, one WebKitWebView, a GLib
// main context of its own), with the view settings quillo gives its own view, so that the
// pictures differ only if quillo's way from the engine's buffer to the host's memory is wrong.
// Every exported frame is copied whole into a buffer of its own; frames are acknowledged at
// once. Commands: see parity_child.h.
//
//   quillo-parity-raw --width W --height H --frame PATH
#include <wayland-server.h>
#include <wpe/fdo.h>
#include <wpe/unstable/fdo-shm.h>
#include <wpe/webkit.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "parity_child.h"

namespace {

class RawView {
 public:
  explicit RawView(const parity::Options& options)
      : m_options(options),
        m_pixels(static_cast<size_t>(options.width) * options.height * 4, 0xFF) {}

  bool Start(std::string& error) {
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    setenv("NO_AT_BRIDGE", "1", 0);
    m_context = g_main_context_new();
    g_main_context_push_thread_default(m_context);
    if (!wpe_loader_init("libWPEBackend-fdo-1.0.so.1") || !wpe_fdo_initialize_shm()) {
      error = "wpebackend-fdo shared-memory initialisation failed";
      return false;
    }
    m_web = webkit_web_context_new_ephemeral();
    webkit_web_context_set_cache_model(m_web, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    // The language list a quillo host gives with LoadWeb's "en-US".
    const char* languages[] = {"en-US", nullptr};
    webkit_web_context_set_preferred_languages(m_web, languages);

    static const wpe_view_backend_exportable_fdo_client kClient = {
        nullptr, nullptr,
        [](void* self, wpe_fdo_shm_exported_buffer* buffer) {
          static_cast<RawView*>(self)->OnFrame(buffer);
        },
        nullptr, nullptr};
    m_exportable = wpe_view_backend_exportable_fdo_create(&kClient, this,
                                                          static_cast<uint32_t>(m_options.width),
                                                          static_cast<uint32_t>(m_options.height));
    if (m_exportable == nullptr) {
      error = "wpe_view_backend_exportable_fdo_create failed";
      return false;
    }
    m_backend = wpe_view_backend_exportable_fdo_get_view_backend(m_exportable);
    WebKitWebViewBackend* viewBackend = webkit_web_view_backend_new(
        m_backend,
        [](gpointer exportable) {
          wpe_view_backend_exportable_fdo_destroy(
              static_cast<wpe_view_backend_exportable_fdo*>(exportable));
        },
        m_exportable);
    // The settings quillo's view is created with.
    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
    webkit_settings_set_allow_universal_access_from_file_urls(settings, TRUE);
    webkit_settings_set_enable_write_console_messages_to_stdout(settings, FALSE);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
    webkit_settings_set_default_charset(settings, "utf-8");
    m_view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "backend", viewBackend,
                                          "web-context", m_web, "settings", settings, nullptr));
    g_object_unref(settings);
    WebKitColor white{1.0, 1.0, 1.0, 1.0};
    webkit_web_view_set_background_color(m_view, &white);
    wpe_view_backend_add_activity_state(
        m_backend, wpe_view_activity_state_visible | wpe_view_activity_state_in_window);
    // Pages may ask for windows; like quillo, none is opened.
    g_signal_connect(m_view, "create",
                     G_CALLBACK(+[](WebKitWebView*, WebKitNavigationAction*, gpointer) {
                       return static_cast<WebKitWebView*>(nullptr);
                     }),
                     nullptr);
    g_signal_connect(m_view, "load-changed",
                     G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                       if (event == WEBKIT_LOAD_FINISHED)
                         static_cast<RawView*>(self)->m_loading = false;
                     }),
                     this);
    return true;
  }

  void Stop() {
    if (m_view != nullptr) g_object_unref(m_view);
    if (m_web != nullptr) g_object_unref(m_web);
    m_view = nullptr;
    m_web = nullptr;
    for (int i = 0; i < 1000 && g_main_context_iteration(m_context, FALSE); ++i) {
    }
  }

  void Load(const std::string& url) {
    m_loading = true;
    m_framesSinceLoad = 0;
    webkit_web_view_load_uri(m_view, url.c_str());
  }

  void Reload() {
    // The way the quillo host reloads: a script in the page, not a resize or a new view.
    m_loading = true;
    m_framesSinceLoad = 0;
    webkit_web_view_run_javascript(m_view, "location.reload()", nullptr, nullptr, nullptr);
  }

  void Move(int x, int y) {
    wpe_input_pointer_event pointer{};
    pointer.type = wpe_input_pointer_event_type_motion;
    pointer.x = x;
    pointer.y = y;
    pointer.time = static_cast<uint32_t>(parity::NowMs());
    wpe_view_backend_dispatch_pointer_event(m_backend, &pointer);
    m_pointerX = x;
    m_pointerY = y;
  }

  // A smooth (pixel) axis event at the pointer, as quillo's engine layer turns InputWeb's wheel
  // into one: deltas in pixels, positive towards the top and the left.
  void Wheel(int dx, int dy) {
    wpe_input_axis_2d_event axis{};
    axis.base.type = static_cast<wpe_input_axis_event_type>(
        wpe_input_axis_event_type_mask_2d | wpe_input_axis_event_type_motion_smooth);
    axis.base.time = static_cast<uint32_t>(parity::NowMs());
    axis.base.x = m_pointerX;
    axis.base.y = m_pointerY;
    axis.x_axis = dx;
    axis.y_axis = dy;
    wpe_view_backend_dispatch_axis_event(m_backend, &axis.base);
  }

  // Runs the page until its picture has not changed for quietMs and no load is under way.
  std::string Settle(int64_t quietMs, int64_t totalMs) {
    const int64_t start = parity::NowMs();
    int64_t lastChange = start;
    int64_t changesBefore = m_changes;
    int64_t lastChangeSeen = m_changes;
    bool still = false;
    for (;;) {
      while (g_main_context_iteration(m_context, FALSE)) {
        if (m_changes != lastChangeSeen) lastChangeSeen = m_changes, lastChange = parity::NowMs();
      }
      const int64_t now = parity::NowMs();
      // A load is still only once it has finished and a frame has come since it was asked
      // for: a large page may take longer than the quiet time to lay out and paint, and input
      // sent before then may be lost.
      if (!m_loading && m_framesSinceLoad > 0 && now - lastChange >= quietMs) {
        still = true;
        break;
      }
      if (now - start >= totalMs) break;
      g_usleep(1000);
    }
    if (!parity::WriteFrame(m_options.framePath, m_pixels)) return "error cannot write frame";
    const int64_t lastMs = m_changes != changesBefore ? lastChange - start : 0;
    return parity::SettleReply(still, m_changes, lastMs, parity::NowMs() - start);
  }

 private:
  void OnFrame(wpe_fdo_shm_exported_buffer* buffer) {
    wl_shm_buffer* shm = wpe_fdo_shm_exported_buffer_get_shm_buffer(buffer);
    const int width = std::min(wl_shm_buffer_get_width(shm), m_options.width);
    const int height = std::min(wl_shm_buffer_get_height(shm), m_options.height);
    const int stride = wl_shm_buffer_get_stride(shm);
    wl_shm_buffer_begin_access(shm);
    const auto* source = static_cast<const uint8_t*>(wl_shm_buffer_get_data(shm));
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    bool changed = false;
    for (int y = 0; y < height; ++y) {
      uint8_t* to = &m_pixels[static_cast<size_t>(y) * m_options.width * 4];
      const uint8_t* from = source + static_cast<size_t>(y) * stride;
      if (!changed && std::memcmp(to, from, rowBytes) == 0) continue;
      changed = true;
      std::memcpy(to, from, rowBytes);
    }
    wl_shm_buffer_end_access(shm);
    if (changed) ++m_changes;
    ++m_framesSinceLoad;
    wpe_view_backend_exportable_fdo_dispatch_release_shm_exported_buffer(m_exportable, buffer);
    wpe_view_backend_exportable_fdo_dispatch_frame_complete(m_exportable);
  }

  const parity::Options& m_options;
  std::vector<uint8_t> m_pixels;
  GMainContext* m_context = nullptr;
  WebKitWebContext* m_web = nullptr;
  WebKitWebView* m_view = nullptr;
  wpe_view_backend_exportable_fdo* m_exportable = nullptr;
  wpe_view_backend* m_backend = nullptr;
  int m_pointerX = 0;
  int m_pointerY = 0;
  bool m_loading = false;
  int64_t m_framesSinceLoad = 1;  // frames exported since the last load was asked for
  int64_t m_changes = 0;
};

}  // namespace

int main(int argc, char** argv) {
  parity::Options options;
  if (!parity::ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: quillo-parity-raw --width W --height H --frame PATH\n");
    return 2;
  }
  RawView view(options);
  std::string error;
  if (!view.Start(error)) {
    parity::Reply("error " + error);
    return 1;
  }
  parity::Command command;
  while (parity::ReadCommand(command)) {
    std::istringstream args(command.rest);
    if (command.verb == "load") {
      view.Load(command.rest);
      parity::Reply("ok");
    } else if (command.verb == "reload") {
      view.Reload();
      parity::Reply("ok");
    } else if (command.verb == "move") {
      int x = 0, y = 0;
      args >> x >> y;
      view.Move(x, y);
      parity::Reply("ok");
    } else if (command.verb == "wheel") {
      int dx = 0, dy = 0;
      args >> dx >> dy;
      view.Wheel(dx, dy);
      parity::Reply("ok");
    } else if (command.verb == "settle") {
      int64_t quiet = 0, total = 0;
      args >> quiet >> total;
      parity::Reply(view.Settle(quiet, total));
    } else if (command.verb == "quit") {
      break;
    } else {
      parity::Reply("error unknown command " + command.verb);
    }
  }
  view.Stop();
  parity::Reply("bye");
  return 0;
}
