// CWebClient as render handler: painted pixels and popups go into the frame store, in the
// host's layout (view width * height * 4 bytes, stride width * 4); UpdateWeb delivers the
// newest whole frame from there into the host's memory.
#include <algorithm>
#include <cstring>
#include <thread>

#include "client/web_client.h"
#include "diagnostics/debug_log.h"

namespace quillo {
namespace {

constexpr int kSwapRedBlue = 0x1;
constexpr int kBottomUp = 0x2;

}  // namespace

bool CWebClient::GetViewRect(CefRefPtr<CefBrowser>, CefRect& rect) {
  QLOG(u"CWebClient::GetViewRect");
  rect = m_viewRect;
  return true;
}

void CWebClient::OnPopupShow(CefRefPtr<CefBrowser>, bool show) {
  QLOG(u"CWebClient::OnPopupShow [%d]", show ? 1 : 0);
  if (show) return;
  m_popupRect = CefRect();
  m_popupPixels.clear();
  // Repaint the whole view over the popup's pixels.
  if (CefRefPtr<CefBrowser> browser = GetBrowser()) browser->GetHost()->Invalidate(PET_VIEW);
}

void CWebClient::OnPopupSize(CefRefPtr<CefBrowser>, const CefRect& rect) {
  QLOG(u"CWebClient::OnPopupSize [%d][%d][%d][%d]", rect.x, rect.y, rect.width, rect.height);
  m_popupRect = rect;
  m_popupPixels.clear();
}

void CWebClient::ConfigureFrames() {
  const int flags = m_loadFlags.load();
  const int width = std::max(m_viewRect.width, 0), height = std::max(m_viewRect.height, 0);
  FrameStore::Layout layout{width, height, static_cast<size_t>(width) * 4,
                            (flags & kSwapRedBlue) != 0, (flags & kBottomUp) != 0};
  if (!m_frames.Configure(layout))
    QLOG(u"CWebClient::ConfigureFrames => no memory for the view's frames [%d]x[%d]", width,
         height);
}

bool CWebClient::DeliverFrame() {
  if (!m_frames.HasNew()) return false;
  // Marked before the memory is looked up, so that StopDelivery on another thread either
  // takes the memory away first or waits for this copy to end.
  m_delivering.store(true);
  const bool delivered = m_frames.Deliver(m_renderBuffer.load());
  m_delivering.store(false);
  return delivered;
}

void CWebClient::StopDelivery() {
  m_renderBuffer.store(nullptr);
  while (m_delivering.load()) std::this_thread::yield();
}

void CWebClient::OnPaint(CefRefPtr<CefBrowser>, PaintElementType type, const RectList& dirtyRects,
                         const void* buffer, int width, int height) {
  if (m_renderBuffer.load() == nullptr) {
    QLOG(u"=> render buffer null");
    return;
  }
  if (m_browser.IsNull()) {
    QLOG(u"=> browser null");
    return;
  }
  if (buffer == nullptr || width <= 0 || height <= 0 || !m_frames.Configured()) return;

  // Where the painted element sits in the view. The popup's rectangle is in view pixels already;
  // where the view sits on the host's screen does not move it.
  CefRect element(0, 0, width, height);
  if (type == PET_POPUP) {
    if (m_popupRect.width <= 0 || m_popupRect.height <= 0) {
      QLOG(u"==> popup rect empty");
      return;
    }
    element.x = m_popupRect.x;
    element.y = m_popupRect.y;
    // Kept, to lay over the view paints that follow.
    m_popupPixels.assign(
        static_cast<const uint8_t*>(buffer),
        static_cast<const uint8_t*>(buffer) + static_cast<size_t>(width) * height * 4);
    m_popupSize = element;
  }

  // Each rectangle cut to the painted buffer, then to the view, in view pixels.
  const FrameStore::Layout& view = m_frames.layout();
  DirtyRegion area;
  for (const CefRect& rect : dirtyRects) {
    CefRect inBuffer = ClipToArea(rect, width, height);
    inBuffer.x += element.x;
    inBuffer.y += element.y;
    area.Add(ClipToArea(inBuffer, view.width, view.height));
  }

  // The area's rectangles are written whole from the element's buffer (they may be larger than
  // the rectangles given, never outside the element), then the open popup on top.
  m_frames.Begin(area);
  const auto* source = static_cast<const uint8_t*>(buffer);
  const size_t sourceStride = static_cast<size_t>(width) * 4;
  for (const CefRect& r : area)
    m_frames.Write(r.x, r.y, r.width, r.height,
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
      m_frames.Write(left, top, right - left, bottom - top,
                     m_popupPixels.data() + static_cast<size_t>(top - m_popupSize.y) * popupStride +
                         static_cast<size_t>(left - m_popupSize.x) * 4,
                     popupStride);
    }
  }
  // Announced once every rectangle of the paint is in place (also when the cut left nothing
  // to copy): the host is given the whole frame or none of it.
  if (!dirtyRects.empty()) m_frames.Publish(area);
  ++m_paintCount;
}

void CWebClient::OnCursorChange(CefRefPtr<CefBrowser>, CefCursorHandle, CursorType type,
                                const CefCursorInfo&) {
  QLOG(u"CWebClient::OnCursorChange type [%d]", static_cast<int>(type));
  m_cursorType.store(static_cast<int>(type) + 1);
}

}  // namespace quillo
