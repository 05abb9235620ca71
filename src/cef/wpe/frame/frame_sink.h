// Where the view's frames arrive: the exportable view backend that the web
// process hands its shared-memory buffers to. Each frame is compared with the
// one before (the last buffer is held for that until the next arrives),
// packed to rows width*4 bytes apart when its stride differs, painted through
// the render handler's OnPaint with its dirty rectangles, and answered with a
// frame complete paced to the frame rate. A repaint of the held frame answers
// Invalidate. UI thread only.
#pragma once

#include <wpe/webkit.h>

#include <cstdint>
#include <vector>

#include "cef_browser.h"
#include "cef_types.h"
#include "wpe/frame/frame_pacer.h"

struct wpe_view_backend_exportable_fdo;
struct wpe_fdo_shm_exported_buffer;
struct wl_listener;

namespace quillo::engine {

class BrowserSide;

class FrameSink {
 public:
  // browser owns this sink by value and so outlives it; the exportable holds a
  // reference to the browser until the view backend is destroyed.
  FrameSink(BrowserSide& browser, int width, int height, int frameRate);
  ~FrameSink();
  FrameSink(const FrameSink&) = delete;
  FrameSink& operator=(const FrameSink&) = delete;

  // The view backend whose frames come here; null when it cannot be made.
  WebKitWebViewBackend* CreateBackend();
  // Paints the held frame again, whole.
  void Repaint();
  // The view goes: no more frame completes; the held buffer goes back.
  void StopPacing() { m_pacer.Stop(); }
  void ReleaseHeldBuffer();

 private:
  void OnBufferExported(wpe_fdo_shm_exported_buffer* buffer);

  BrowserSide& m_browser;
  CefRefPtr<CefBrowser> m_backendHold;  // the reference the exportable holds
  const int m_width;
  const int m_height;
  wpe_view_backend_exportable_fdo* m_exportable = nullptr;  // lives as long as the view backend
  wpe_fdo_shm_exported_buffer* m_heldBuffer = nullptr;      // last frame, kept for diffing
  wl_listener* m_heldListener = nullptr;  // forgets the held buffer if its process goes first
  bool m_firstBufferSeen = false;         // the view's first frame has been logged
  std::vector<CefRect> m_dirty;           // reused by every paint
  std::vector<uint8_t> m_packed;          // only for buffers whose stride is not width*4
  FramePacer m_pacer;
};

}  // namespace quillo::engine
