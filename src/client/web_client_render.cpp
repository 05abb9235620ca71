// CWebClient as render handler: painted pixels and popups go into the frame store through the
// frame painter, in the host's layout (view width * height * 4 bytes, stride width * 4);
// UpdateWeb delivers the newest whole frame from there into the host's memory.
#include <algorithm>
#include <thread>

#include "client/web_client.h"
#include "diagnostics/debug_log.h"

namespace quillo {
namespace {

// Sides beyond this would ask the web process for buffers of gigabytes.
constexpr int kMaxViewSide = 8192;
constexpr int kSwapRedBlue = 0x1;
constexpr int kBottomUp = 0x2;

}  // namespace

bool CWebClient::GetViewRect(CefRefPtr<CefBrowser>, CefRect& rect) {
  QLOG(u"CWebClient::GetViewRect");
  // The page is laid out at 1 to 8,192 pixels a side, whatever the host asked for.
  rect = m_viewRect;
  rect.width = std::clamp(rect.width, 1, kMaxViewSide);
  rect.height = std::clamp(rect.height, 1, kMaxViewSide);
  if (rect.width != m_viewRect.width || rect.height != m_viewRect.height)
    QLOG(u"CWebClient::GetViewRect => view size %dx%d laid out as %dx%d", m_viewRect.width,
         m_viewRect.height, rect.width, rect.height);
  return true;
}

void CWebClient::OnPopupShow(CefRefPtr<CefBrowser>, bool show) {
  QLOG(u"CWebClient::OnPopupShow [%d]", show ? 1 : 0);
  if (show) return;
  m_painter.PopupClosed();
  // Repaint the whole view over the popup's pixels.
  if (CefRefPtr<CefBrowser> browser = GetBrowser()) browser->GetHost()->Invalidate(PET_VIEW);
}

void CWebClient::OnPopupSize(CefRefPtr<CefBrowser>, const CefRect& rect) {
  QLOG(u"CWebClient::OnPopupSize [%d][%d][%d][%d]", rect.x, rect.y, rect.width, rect.height);
  m_painter.PopupMoved(rect);
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
  if (!m_painter.Paint(m_frames, type, dirtyRects, buffer, width, height)) {
    if (type == PET_POPUP) QLOG(u"==> popup rect empty");
    return;
  }
  ++m_paintCount;
}

void CWebClient::OnCursorChange(CefRefPtr<CefBrowser>, CefCursorHandle, CursorType type,
                                const CefCursorInfo&) {
  QLOG(u"CWebClient::OnCursorChange type [%d]", static_cast<int>(type));
  m_cursorType.store(static_cast<int>(type) + 1);
}

}  // namespace quillo
