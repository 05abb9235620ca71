#include "raw_wpe_view.h"

#include <time.h>
#include <wayland-server.h>
#include <wpe/fdo.h>
#include <wpe/unstable/fdo-shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

uint32_t EventTimeMs() {
  return static_cast<uint32_t>(MonotonicNs() / 1'000'000);
}

}  // namespace

RawWpeView::RawWpeView(const Setup& setup)
    : m_setup(setup),
      m_width(setup.width),
      m_height(setup.height),
      m_pixels(static_cast<size_t>(setup.width) * setup.height * 4, setup.fill) {}

RawWpeView::~RawWpeView() {
  Stop();
}

bool RawWpeView::Start(std::string* error) {
  if (const RawWpeView* first = m_setup.shareEngineOf) {
    m_context = first->m_context;
    m_web = WEBKIT_WEB_CONTEXT(g_object_ref(first->m_web));
    m_engineInitialisedNs = first->m_engineInitialisedNs;
  } else {
    // The same environment quillo sets up: Mesa's software rasteriser in the web process.
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    setenv("NO_AT_BRIDGE", "1", 0);
    m_context = g_main_context_new();
    g_main_context_push_thread_default(m_context);
    if (!wpe_loader_init("libWPEBackend-fdo-1.0.so.1") || !wpe_fdo_initialize_shm()) {
      *error = "wpebackend-fdo shared-memory initialisation failed";
      return false;
    }
    if (m_setup.newWebContext) {
      m_web = m_setup.newWebContext();
    } else {
      m_web = webkit_web_context_new_ephemeral();
      webkit_web_context_set_cache_model(m_web, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    }
    if (m_setup.quilloViewSettings) {
      const char* languages[] = {"en-US", nullptr};
      webkit_web_context_set_preferred_languages(m_web, languages);
    }
    m_engineInitialisedNs = MonotonicNs();
  }

  static const wpe_view_backend_exportable_fdo_client kClient = {
      nullptr, nullptr,
      [](void* self, wpe_fdo_shm_exported_buffer* buffer) {
        static_cast<RawWpeView*>(self)->OnFrame(buffer);
      },
      nullptr, nullptr};
  m_exportable = wpe_view_backend_exportable_fdo_create(
      &kClient, this, static_cast<uint32_t>(m_setup.width), static_cast<uint32_t>(m_setup.height));
  if (m_exportable == nullptr) {
    *error = "wpe_view_backend_exportable_fdo_create failed";
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
  if (m_setup.quilloViewSettings) {
    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
    webkit_settings_set_allow_universal_access_from_file_urls(settings, TRUE);
    webkit_settings_set_enable_write_console_messages_to_stdout(settings, FALSE);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
    webkit_settings_set_default_charset(settings, "utf-8");
    m_view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "backend", viewBackend,
                                          "web-context", m_web, "settings", settings, nullptr));
    g_object_unref(settings);
    // Pages may ask for windows; like quillo, none is opened.
    g_signal_connect(m_view, "create",
                     G_CALLBACK(+[](WebKitWebView*, WebKitNavigationAction*, gpointer) {
                       return static_cast<WebKitWebView*>(nullptr);
                     }),
                     nullptr);
  } else {
    m_view = WEBKIT_WEB_VIEW(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "backend", viewBackend, "web-context", m_web, nullptr));
  }
  WebKitColor white{1.0, 1.0, 1.0, 1.0};
  webkit_web_view_set_background_color(m_view, &white);
  wpe_view_backend_add_activity_state(
      m_backend, wpe_view_activity_state_visible | wpe_view_activity_state_in_window);
  return true;
}

void RawWpeView::Stop() {
  if (m_frameTimer != nullptr) {
    g_source_destroy(m_frameTimer);
    g_source_unref(m_frameTimer);
    m_frameTimer = nullptr;
  }
  if (m_view != nullptr) g_object_unref(m_view);  // destroys the backend and the exportable
  m_view = nullptr;
  m_exportable = nullptr;
  m_backend = nullptr;
  if (m_web != nullptr) g_object_unref(m_web);
  m_web = nullptr;
  if (m_context == nullptr) return;
  for (int i = 0; i < 1000 && g_main_context_iteration(m_context, FALSE); ++i) {
  }
}

void RawWpeView::Resize(int width, int height) {
  if (width == m_width && height == m_height) return;
  m_width = width;
  m_height = height;
  m_pixels.assign(static_cast<size_t>(width) * height * 4, m_setup.fill);
  m_framesAtSize = 0;
  wpe_view_backend_dispatch_set_size(m_backend, static_cast<uint32_t>(width),
                                     static_cast<uint32_t>(height));
}

void RawWpeView::Move(int x, int y) {
  wpe_input_pointer_event pointer{};
  pointer.type = wpe_input_pointer_event_type_motion;
  pointer.x = x;
  pointer.y = y;
  pointer.time = EventTimeMs();
  wpe_view_backend_dispatch_pointer_event(m_backend, &pointer);
}

void RawWpeView::Click(int x, int y) {
  wpe_input_pointer_event pointer{};
  pointer.type = wpe_input_pointer_event_type_button;
  pointer.x = x;
  pointer.y = y;
  pointer.button = 1;
  pointer.time = EventTimeMs();
  pointer.state = 1;
  pointer.modifiers = wpe_input_pointer_modifier_button1;
  wpe_view_backend_dispatch_pointer_event(m_backend, &pointer);
  pointer.state = 0;
  pointer.modifiers = 0;
  wpe_view_backend_dispatch_pointer_event(m_backend, &pointer);
}

void RawWpeView::Wheel(int x, int y, int dx, int dy) {
  wpe_input_axis_2d_event axis{};
  axis.base.type = static_cast<wpe_input_axis_event_type>(wpe_input_axis_event_type_mask_2d |
                                                          wpe_input_axis_event_type_motion_smooth);
  axis.base.time = EventTimeMs();
  axis.base.x = x;
  axis.base.y = y;
  axis.x_axis = dx;
  axis.y_axis = dy;
  wpe_view_backend_dispatch_axis_event(m_backend, &axis.base);
}

// Copies the exported frame into host memory, gives the buffer back and lets the engine render
// the next frame.
void RawWpeView::OnFrame(wpe_fdo_shm_exported_buffer* buffer) {
  const int64_t arrived = MonotonicNs();
  if (m_firstBufferNs == 0) m_firstBufferNs = arrived;
  wl_shm_buffer* shm = wpe_fdo_shm_exported_buffer_get_shm_buffer(buffer);
  const int width = wl_shm_buffer_get_width(shm);
  const int height = wl_shm_buffer_get_height(shm);
  const int stride = wl_shm_buffer_get_stride(shm);
  if (width != m_width || height != m_height) {
    // Painted before the last Resize: given back unseen, as quillo drops it.
    wpe_view_backend_exportable_fdo_dispatch_release_shm_exported_buffer(m_exportable, buffer);
    Acknowledge();
    return;
  }
  wl_shm_buffer_begin_access(shm);
  const auto* source = static_cast<const uint8_t*>(wl_shm_buffer_get_data(shm));
  const size_t rowBytes = static_cast<size_t>(width) * 4;
  const size_t hostStride = static_cast<size_t>(m_width) * 4;
  if (m_setup.copy == Copy::kWhole) {
    if (stride == m_width * 4) {
      std::memcpy(m_pixels.data(), source, rowBytes * height);
    } else {
      for (int y = 0; y < height; ++y)
        std::memcpy(&m_pixels[static_cast<size_t>(y) * hostStride],
                    source + static_cast<size_t>(y) * stride, rowBytes);
    }
    m_bytesCopied += rowBytes * height;
  } else {
    bool changed = false;
    for (int y = 0; y < height; ++y) {
      uint8_t* to = &m_pixels[static_cast<size_t>(y) * hostStride];
      const uint8_t* from = source + static_cast<size_t>(y) * stride;
      if (!changed && std::memcmp(to, from, rowBytes) == 0) continue;
      changed = true;
      std::memcpy(to, from, rowBytes);
      m_bytesCopied += rowBytes;
    }
    if (changed) ++m_changes;
  }
  wl_shm_buffer_end_access(shm);
  ++m_frames;
  ++m_framesAtSize;
  m_lastFrameNs = arrived;
  m_lastCopiedNs = MonotonicNs();
  wpe_view_backend_exportable_fdo_dispatch_release_shm_exported_buffer(m_exportable, buffer);
  Acknowledge();
}

// Lets the engine render its next frame: frame-complete at once, or on the capped rate's grid.
void RawWpeView::Acknowledge() {
  if (m_setup.fpsCap <= 0) {
    wpe_view_backend_exportable_fdo_dispatch_frame_complete(m_exportable);
    return;
  }
  // Capped: frame-complete on the rate's grid, kept while less than a frame late.
  const int64_t interval = 1'000'000'000 / m_setup.fpsCap;
  const int64_t now = MonotonicNs();
  const int64_t due = m_lastFrameCompleteNs + interval;
  if (now >= due) {
    FrameComplete(now);
    return;
  }
  if (m_frameTimer != nullptr) return;
  m_frameTimer = g_timeout_source_new(static_cast<guint>((due - now + 999'999) / 1'000'000));
  g_source_set_callback(
      m_frameTimer,
      [](gpointer self) -> gboolean {
        auto* view = static_cast<RawWpeView*>(self);
        g_source_unref(view->m_frameTimer);
        view->m_frameTimer = nullptr;
        view->FrameComplete(MonotonicNs());
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
  g_source_attach(m_frameTimer, m_context);
}

void RawWpeView::FrameComplete(int64_t nowNs) {
  const int64_t interval = 1'000'000'000 / m_setup.fpsCap;
  const int64_t due = m_lastFrameCompleteNs + interval;
  m_lastFrameCompleteNs = nowNs - due < interval ? due : nowNs;
  wpe_view_backend_exportable_fdo_dispatch_frame_complete(m_exportable);
}
