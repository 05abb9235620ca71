// RawWpeView: WPE WebKit driven directly, the way quillo drives it underneath: the
// wpebackend-fdo shared-memory export, one WebKitWebView, and a GLib main context of its own
// pushed as the calling thread's default. Each exported frame is copied into host memory of its
// own, then the buffer is given back and frame-complete dispatched (at once, or on a grid of a
// capped rate). The raw-engine programs are built on it: the benchmark's quillo-bench-raw and
// quillo-bench-raw-views, and the parity check's quillo-parity-raw. Several views of one
// process share the first one's engine (main context and web context), as the views of one
// quillo engine do.
//
// Single-threaded: every call, and every callback it handles, runs on the thread that called
// Start, inside that thread's iterations of context().
#pragma once

#include <wpe/webkit.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct wpe_fdo_shm_exported_buffer;
struct wpe_view_backend_exportable_fdo;

class RawWpeView {
 public:
  enum class Copy {
    kWhole,                // every frame copied whole into host memory
    kFromFirstChangedRow,  // rows compared; from the first that differs on, copied, and counted
                           // in changes()
  };
  struct Setup {
    int width = 1280;
    int height = 720;
    uint8_t fill = 0;  // every byte of host memory before the first frame
    Copy copy = Copy::kWhole;
    // 0: every frame acknowledged at once; N: frame-complete on a grid of N a second, as quillo
    // paces its own at 60.
    int fpsCap = 0;
    // The view as quillo creates its own: its settings, the language list a host's "en-US"
    // gives, and no new windows for pages that ask for them.
    bool quilloViewSettings = false;
    // A started view whose main context and web context this one uses (it must outlive this
    // one); null: an engine of its own.
    const RawWpeView* shareEngineOf = nullptr;
    // An engine of its own: makes its web context (a new reference), called once the main
    // context is the thread's default and the backend is loaded. Empty: an ephemeral context
    // with the document-viewer cache model.
    std::function<WebKitWebContext*()> newWebContext;
  };

  explicit RawWpeView(const Setup& setup);
  ~RawWpeView();
  RawWpeView(const RawWpeView&) = delete;
  RawWpeView& operator=(const RawWpeView&) = delete;

  // Sets up the engine and the view (nothing loaded yet); false with the reason in *error.
  bool Start(std::string* error);
  // Destroys the view and the engine's context and runs what that leaves ready; idempotent.
  void Stop();

  // New host memory of width x height: the view is told its new size, and from then on only
  // buffers of that size are copied (those of the size before are given back unseen).
  void Resize(int width, int height);

  // Pointer input as the backend hands it to the engine, stamped with the monotonic clock.
  void Move(int x, int y);
  // A left-button press and release at (x, y).
  void Click(int x, int y);
  // A smooth two-dimensional axis event at (x, y), as quillo turns a wheel notch into one:
  // deltas in pixels, positive towards the top and the left.
  void Wheel(int x, int y, int dx, int dy);

  GMainContext* context() const { return m_context; }
  WebKitWebView* view() const { return m_view; }
  // Host memory: B,G,R,A, top row first, stride width*4.
  const std::vector<uint8_t>& pixels() const { return m_pixels; }
  int64_t frames() const { return m_frames; }
  // Frames copied at the current size since the last Resize (all of them before one).
  int64_t framesAtSize() const { return m_framesAtSize; }
  int width() const { return m_width; }
  int height() const { return m_height; }
  int64_t changes() const { return m_changes; }  // Copy::kFromFirstChangedRow only
  uint64_t bytesCopied() const { return m_bytesCopied; }
  // CLOCK_MONOTONIC nanoseconds: when the engine's context stood, when the first frame came.
  int64_t engineInitialisedNs() const { return m_engineInitialisedNs; }
  int64_t firstBufferNs() const { return m_firstBufferNs; }
  // When the last frame copied came from the web process, and when its copy was done.
  int64_t lastFrameNs() const { return m_lastFrameNs; }
  int64_t lastCopiedNs() const { return m_lastCopiedNs; }

 private:
  void OnFrame(wpe_fdo_shm_exported_buffer* buffer);
  void Acknowledge();
  void FrameComplete(int64_t nowNs);

  const Setup m_setup;
  int m_width;  // the current size (Setup's until a Resize)
  int m_height;
  std::vector<uint8_t> m_pixels;
  GMainContext* m_context = nullptr;  // owned unless shared
  WebKitWebContext* m_web = nullptr;  // a reference of this view's
  WebKitWebView* m_view = nullptr;
  // Owned by the view's backend, destroyed with the view.
  wpe_view_backend_exportable_fdo* m_exportable = nullptr;
  wpe_view_backend* m_backend = nullptr;
  int64_t m_frames = 0;
  int64_t m_framesAtSize = 0;
  int64_t m_changes = 0;
  uint64_t m_bytesCopied = 0;
  int64_t m_engineInitialisedNs = 0;
  int64_t m_firstBufferNs = 0;
  int64_t m_lastFrameNs = 0;
  int64_t m_lastCopiedNs = 0;
  int64_t m_lastFrameCompleteNs = 0;  // fpsCap: the grid's last point
  GSource* m_frameTimer = nullptr;    // fpsCap: a frame-complete waiting for its time
};
