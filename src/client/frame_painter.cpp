#include "client/frame_painter.h"

#include <algorithm>

#include "diagnostics/stage_trace.h"

namespace quillo {

void FramePainter::PopupMoved(const CefRect& rect) {
  m_popupRect = rect;
  m_popupPixels.clear();
}

void FramePainter::PopupClosed() {
  m_popupRect = CefRect();
  m_popupPixels.clear();
}

bool FramePainter::Paint(FrameStore& store, cef_paint_element_type_t type,
                         const CefRenderHandler::RectList& dirtyRects, const void* buffer,
                         int width, int height) {
  if (buffer == nullptr || width <= 0 || height <= 0 || !store.Configured()) return false;

  // Where the painted element sits in the view. The popup's rectangle is in view pixels already;
  // where the view sits on the host's screen does not move it.
  CefRect element(0, 0, width, height);
  if (type == PET_POPUP) {
    if (m_popupRect.width <= 0 || m_popupRect.height <= 0) return false;
    element.x = m_popupRect.x;
    element.y = m_popupRect.y;
    // Kept, to lay over the view paints that follow.
    m_popupPixels.assign(
        static_cast<const uint8_t*>(buffer),
        static_cast<const uint8_t*>(buffer) + static_cast<size_t>(width) * height * 4);
    m_popupSize = element;
  }

  // Each rectangle cut to the painted buffer, then to the view, in view pixels.
  const FrameStore::Layout& view = store.layout();
  DirtyRegion area;
  for (const CefRect& rect : dirtyRects) {
    CefRect inBuffer = ClipToArea(rect, width, height);
    inBuffer.x += element.x;
    inBuffer.y += element.y;
    area.Add(ClipToArea(inBuffer, view.width, view.height));
  }

  // The area's rectangles are written whole from the element's buffer (they may be larger than
  // the rectangles given, never outside the element), then the open popup on top.
  store.Begin(area);
  const auto* source = static_cast<const uint8_t*>(buffer);
  const size_t sourceStride = static_cast<size_t>(width) * 4;
  for (const CefRect& r : area)
    store.Write(r.x, r.y, r.width, r.height,
                source + static_cast<size_t>(r.y - element.y) * sourceStride +
                    static_cast<size_t>(r.x - element.x) * 4,
                sourceStride);
  if (type == PET_VIEW && !m_popupPixels.empty()) {
    const size_t popupStride = static_cast<size_t>(m_popupSize.width) * 4;
    for (const CefRect& r : area) {
      const int left = std::max(r.x, m_popupSize.x), top = std::max(r.y, m_popupSize.y);
      const int right = std::min(r.x + r.width, m_popupSize.x + m_popupSize.width);
      const int bottom = std::min(r.y + r.height, m_popupSize.y + m_popupSize.height);
      if (right <= left || bottom <= top) continue;
      store.Write(left, top, right - left, bottom - top,
                  m_popupPixels.data() + static_cast<size_t>(top - m_popupSize.y) * popupStride +
                      static_cast<size_t>(left - m_popupSize.x) * 4,
                  popupStride);
    }
  }
  // Announced once every rectangle of the paint is in place (also when the cut left nothing
  // to copy): the host is given the whole frame or none of it.
  if (!dirtyRects.empty()) {
    store.Publish(area);
    diagnostics::MarkStage(diagnostics::Stage::kFramePublished);
  }
  return true;
}

}  // namespace quillo
