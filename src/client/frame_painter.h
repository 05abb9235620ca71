// What the engine paints, laid into a FrameStore: the view's painted rows, each cut to the view,
// with the open <select> list (the popup element) laid over them, so that every frame shows the
// list whole on top; announced to the store once the whole paint is in place. Used by the eight
// exports' client and by each view of the views interface.
//
// Threads: the engine thread only (it owns the popup's kept pixels). Not copyable.
#pragma once

#include <cstdint>
#include <vector>

#include "cef_render_handler.h"
#include "client/frame_store.h"

namespace quillo {

class FramePainter {
 public:
  FramePainter() = default;
  FramePainter(const FramePainter&) = delete;
  FramePainter& operator=(const FramePainter&) = delete;

  // The popup's rectangle in view pixels (OnPopupSize); its pixels come with its next paint.
  void PopupMoved(const CefRect& rect);
  // The popup closed (OnPopupShow(false)): the view must then be painted again whole.
  void PopupClosed();
  // Forgets the popup (the browser went).
  void Reset() { PopupClosed(); }

  // OnPaint: the element's buffer (width x height pixels, B,G,R,A, stride width * 4) into
  // store's back buffer at the element's place, cut to the view; published when dirty is not
  // empty. false when nothing could be painted (an empty popup rectangle or a bad buffer).
  bool Paint(FrameStore& store, cef_paint_element_type_t type,
             const CefRenderHandler::RectList& dirty, const void* buffer, int width, int height);

 private:
  CefRect m_popupRect;                 // where the popup sits, from OnPopupSize
  std::vector<uint8_t> m_popupPixels;  // its last paint, m_popupSize wide and high
  CefRect m_popupSize;
};

}  // namespace quillo
