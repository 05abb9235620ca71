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
#include <functional>
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
  // reference to the browser until the view backend is destroyed. width x height: the view
  // size in view pixels, scale its device scale factor.
  FrameSink(BrowserSide& browser, int width, int height, double scale, int frameRate);
  ~FrameSink();
  FrameSink(const FrameSink&) = delete;
  FrameSink& operator=(const FrameSink&) = delete;

  // The view backend whose frames come here; null when it cannot be made.
  WebKitWebViewBackend* CreateBackend();
  // Tells the view its scale and size (after CreateBackend, once the view exists): the paints
  // that follow have the new size, and a buffer of another size still on its way is dropped.
  void SetGeometry(int width, int height, double scale);
  // The size of the view's buffers: the view size times the scale, each rounded down.
  static int BufferSide(int side, double scale);
  // Called (through a post) when the view paints its first frame, and again for the first
  // frame of each web process that follows (ExpectFirstFrame).
  void OnFirstFrame(std::function<void()> shown) { m_onFirstFrame = std::move(shown); }
  void ExpectFirstFrame() { m_frameShown = false; }
  // Paints the held frame again, whole.
  void Repaint();
  // The web process ended: the frames of the next one are taken (and answered) but not painted
  // until EndHold, so that the embedder keeps the last whole frame rather than the empty ones a
  // fresh process paints before its page. EndHold paints the newest held frame, whole.
  void Hold() { m_holding = true; }
  void EndHold();
  // The view goes: no more frame completes; the held buffer goes back.
  void StopPacing() { m_pacer.Stop(); }
  void SetFrameRate(int frameRate) { m_pacer.SetFrameRate(frameRate); }
  void ReleaseHeldBuffer();

 private:
  void OnBufferExported(wpe_fdo_shm_exported_buffer* buffer);

  BrowserSide& m_browser;
  CefRefPtr<CefBrowser> m_backendHold;  // the reference the exportable holds
  int m_width;                          // the view size in view pixels
  int m_height;
  double m_scale;
  bool m_scaleToldToView = false;  // the view has been told a scale other than 1
  wpe_view_backend_exportable_fdo* m_exportable = nullptr;  // lives as long as the view backend
  wpe_fdo_shm_exported_buffer* m_heldBuffer = nullptr;      // last frame, kept for diffing
  wl_listener* m_heldListener = nullptr;  // forgets the held buffer if its process goes first
  bool m_firstBufferSeen = false;         // the view's first frame has been logged
  bool m_frameShown = false;              // a frame of the current web process was shown
  bool m_holding = false;                 // frames are not painted (see Hold)
  std::function<void()> m_onFirstFrame;
  std::vector<CefRect> m_dirty;   // reused by every paint
  std::vector<uint8_t> m_packed;  // only for buffers whose stride is not width*4
  FramePacer m_pacer;
};

}  // namespace quillo::engine
