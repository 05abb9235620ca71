#include "wpe/frame/frame_sink.h"

#include <wayland-server.h>
#include <wpe/fdo.h>
#include <wpe/unstable/fdo-shm.h>

#include <cstring>

#include "diagnostics/debug_log.h"
#include "diagnostics/stage_trace.h"
#include "wpe/frame/frame_diff.h"
#include "wpe/process/ui_thread.h"
#include "wpe/room/browser_side.h"

namespace quillo::engine {
namespace {

struct HeldBufferListener {
  wl_listener listener;
  wpe_fdo_shm_exported_buffer** held;  // the sink's m_heldBuffer
};

void OnHeldBufferDestroyed(wl_listener* listener, void*) {
  // The web process went away with the buffer we held: forget it.
  auto* holder = reinterpret_cast<HeldBufferListener*>(listener);
  *holder->held = nullptr;
  wl_list_remove(&listener->link);
  wl_list_init(&listener->link);
}

}  // namespace

FrameSink::FrameSink(BrowserSide& browser, int width, int height, double scale, int frameRate)
    : m_browser(browser),
      m_width(width),
      m_height(height),
      m_scale(scale),
      m_pacer(frameRate,
              [this] { wpe_view_backend_exportable_fdo_dispatch_frame_complete(m_exportable); }) {}

int FrameSink::BufferSide(int side, double scale) {
  // As the engine sizes its buffers: in single precision, rounded down.
  return static_cast<int>(static_cast<float>(side) * static_cast<float>(scale));
}

void FrameSink::SetGeometry(int width, int height, double scale) {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_exportable == nullptr) return;
  wpe_view_backend* backend = wpe_view_backend_exportable_fdo_get_view_backend(m_exportable);
  const bool scaleChanged = scale != m_scale || (scale != 1.0 && !m_scaleToldToView);
  const bool sizeChanged = width != m_width || height != m_height;
  m_width = width, m_height = height, m_scale = scale;
  if (scaleChanged) {
    m_scaleToldToView = true;
    wpe_view_backend_dispatch_set_device_scale_factor(backend, static_cast<float>(scale));
  }
  if (sizeChanged)
    wpe_view_backend_dispatch_set_size(backend, static_cast<uint32_t>(width),
                                       static_cast<uint32_t>(height));
}

FrameSink::~FrameSink() {
  delete reinterpret_cast<HeldBufferListener*>(m_heldListener);
}

WebKitWebViewBackend* FrameSink::CreateBackend() {
  QUILLO_REQUIRE_UI_THREAD();
  static const wpe_view_backend_exportable_fdo_client kExportClient = {
      nullptr, nullptr,
      [](void* data, wpe_fdo_shm_exported_buffer* buffer) {
        static_cast<FrameSink*>(data)->OnBufferExported(buffer);
      },
      nullptr, nullptr};
  m_exportable = wpe_view_backend_exportable_fdo_create(
      &kExportClient, this, static_cast<uint32_t>(m_width), static_cast<uint32_t>(m_height));
  if (m_exportable == nullptr) return nullptr;
  m_backendHold = m_browser.Browser();  // until the view backend is destroyed
  return webkit_web_view_backend_new(
      wpe_view_backend_exportable_fdo_get_view_backend(m_exportable),
      [](gpointer data) {
        auto* self = static_cast<FrameSink*>(data);
        wpe_view_backend_exportable_fdo_destroy(self->m_exportable);
        self->m_exportable = nullptr;
        // Let go last: it may destroy the browser and this sink.
        CefRefPtr<CefBrowser> last = std::move(self->m_backendHold);
      },
      this);
}

void FrameSink::ReleaseHeldBuffer() {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_heldBuffer == nullptr) return;
  wl_list_remove(&m_heldListener->link);
  wl_list_init(&m_heldListener->link);
  if (m_exportable)
    wpe_view_backend_exportable_fdo_dispatch_release_shm_exported_buffer(m_exportable,
                                                                         m_heldBuffer);
  m_heldBuffer = nullptr;
}

void FrameSink::OnBufferExported(wpe_fdo_shm_exported_buffer* buffer) {
  QUILLO_REQUIRE_UI_THREAD();
  diagnostics::MarkStage(diagnostics::Stage::kFrameExported);
  if (m_browser.ViewGone()) {
    wpe_view_backend_exportable_fdo_dispatch_release_shm_exported_buffer(m_exportable, buffer);
    return;
  }
  wl_shm_buffer* shm = wpe_fdo_shm_exported_buffer_get_shm_buffer(buffer);
  const int width = wl_shm_buffer_get_width(shm);
  const int height = wl_shm_buffer_get_height(shm);
  const int stride = wl_shm_buffer_get_stride(shm);
  if (m_heldBuffer == nullptr && !m_firstBufferSeen) {
    m_firstBufferSeen = true;
    QLOG(u"BrowserImpl::OnBufferExported => first buffer [%d]x[%d]", width, height);
  }
  if (width != BufferSide(m_width, m_scale) || height != BufferSide(m_height, m_scale)) {
    // Painted before the last change of size or scale: never shown, so that every paint after
    // the change has the new size.
    QLOG(u"BrowserImpl::OnBufferExported => a buffer of the size before dropped [%d]x[%d]", width,
         height);
    wpe_view_backend_exportable_fdo_dispatch_release_shm_exported_buffer(m_exportable, buffer);
    m_pacer.FrameArrived();
    return;
  }

  const uint8_t* previous = nullptr;
  if (m_heldBuffer != nullptr) {
    wl_shm_buffer* held = wpe_fdo_shm_exported_buffer_get_shm_buffer(m_heldBuffer);
    if (wl_shm_buffer_get_width(held) == width && wl_shm_buffer_get_height(held) == height &&
        wl_shm_buffer_get_stride(held) == stride)
      previous = static_cast<const uint8_t*>(wl_shm_buffer_get_data(held));
  }

  wl_shm_buffer_begin_access(shm);
  const auto* pixels = static_cast<const uint8_t*>(wl_shm_buffer_get_data(shm));
  m_dirty.clear();
  if (previous != nullptr)
    DiffFrames(previous, pixels, width, height, stride, m_dirty);
  else if (width > 0 && height > 0)
    m_dirty.emplace_back(0, 0, width, height);
  CefRefPtr<CefRenderHandler> render = m_holding ? nullptr : m_browser.Client().GetRenderHandler();
  if (!m_dirty.empty() && render) {
    const void* tight = pixels;
    if (stride != width * 4) {
      // The paint contract promises rows width*4 bytes apart.
      m_packed.resize(static_cast<size_t>(width) * height * 4);
      for (int y = 0; y < height; ++y)
        std::memcpy(&m_packed[static_cast<size_t>(y) * width * 4],
                    pixels + static_cast<size_t>(y) * stride, static_cast<size_t>(width) * 4);
      tight = m_packed.data();
    }
    render->OnPaint(m_browser.Browser(), PET_VIEW, m_dirty, tight, width, height);
  }
  wl_shm_buffer_end_access(shm);

  ReleaseHeldBuffer();
  m_heldBuffer = buffer;
  if (m_heldListener == nullptr) {
    auto* holder = new HeldBufferListener{};
    holder->held = &m_heldBuffer;
    holder->listener.notify = OnHeldBufferDestroyed;
    m_heldListener = &holder->listener;
  }
  wl_resource_add_destroy_listener(wpe_fdo_shm_exported_buffer_get_resource(buffer),
                                   m_heldListener);
  m_pacer.FrameArrived();
  if (!m_frameShown) {
    m_frameShown = true;
    if (m_onFirstFrame) m_browser.Post(m_onFirstFrame);
  }
}

void FrameSink::EndHold() {
  QUILLO_REQUIRE_UI_THREAD();
  if (!m_holding) return;
  m_holding = false;
  Repaint();
}

void FrameSink::Repaint() {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_heldBuffer == nullptr || m_holding) return;
  CefRefPtr<CefRenderHandler> render = m_browser.Client().GetRenderHandler();
  if (!render) return;
  wl_shm_buffer* shm = wpe_fdo_shm_exported_buffer_get_shm_buffer(m_heldBuffer);
  const int width = wl_shm_buffer_get_width(shm);
  const int height = wl_shm_buffer_get_height(shm);
  if (wl_shm_buffer_get_stride(shm) != width * 4) return;
  wl_shm_buffer_begin_access(shm);
  m_dirty.assign(1, CefRect(0, 0, width, height));
  render->OnPaint(m_browser.Browser(), PET_VIEW, m_dirty, wl_shm_buffer_get_data(shm), width,
                  height);
  wl_shm_buffer_end_access(shm);
}

}  // namespace quillo::engine
