// CWebClient as render handler: painted pixels and popups go straight into
// the host's memory (view width * height * 4 bytes, stride width * 4).
#include <algorithm>
#include <cstring>

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
  // Repaint the whole view over the popup's pixels.
  if (CefRefPtr<CefBrowser> browser = GetBrowser()) browser->GetHost()->Invalidate(PET_VIEW);
}

void CWebClient::OnPopupSize(CefRefPtr<CefBrowser>, const CefRect& rect) {
  QLOG(u"CWebClient::OnPopupSize [%d][%d][%d][%d]", rect.x, rect.y, rect.width, rect.height);
  m_popupRect = rect;
}

void CWebClient::OnPaint(CefRefPtr<CefBrowser>, PaintElementType type, const RectList& dirtyRects,
                         const void* buffer, int width, int height) {
  uint8_t* const target = m_renderBuffer.load();
  if (target == nullptr) {
    QLOG(u"=> render buffer null");
    return;
  }
  if (m_browser.IsNull()) {
    QLOG(u"=> browser null");
    return;
  }
  if (buffer == nullptr || width <= 0 || height <= 0) return;

  // Offset of the painted element inside the view.
  int64_t dx = 0, dy = 0;
  if (type == PET_POPUP) {
    if (m_popupRect.width <= 0 || m_popupRect.height <= 0) {
      QLOG(u"==> popup rect empty");
      return;
    }
    // The popup's rectangle is already in view pixels; where the view sits on the host's
    // screen does not move it.
    dx = m_popupRect.x;
    dy = m_popupRect.y;
  }
  const int64_t viewWidth = m_viewRect.width;
  const int64_t viewHeight = m_viewRect.height;
  const int flags = m_loadFlags.load();
  const auto* source = static_cast<const uint8_t*>(buffer);

  for (const CefRect& rect : dirtyRects) {
    // Keep the source inside the painted buffer...
    int64_t sx = std::max<int64_t>(rect.x, 0);
    int64_t sy = std::max<int64_t>(rect.y, 0);
    int64_t right = std::min<int64_t>(int64_t{rect.x} + rect.width, width);
    int64_t bottom = std::min<int64_t>(int64_t{rect.y} + rect.height, height);
    // ...and the destination inside the view, on all four sides.
    sx = std::max(sx, -dx);
    sy = std::max(sy, -dy);
    right = std::min(right, viewWidth - dx);
    bottom = std::min(bottom, viewHeight - dy);
    if (right <= sx || bottom <= sy) continue;  // announced all the same, below

    const size_t rowBytes = static_cast<size_t>(right - sx) * 4;
    for (int64_t row = sy; row < bottom; ++row) {
      const int64_t viewRow = row + dy;
      const int64_t memoryRow = (flags & kBottomUp) ? viewHeight - 1 - viewRow : viewRow;
      const uint8_t* from = source + (row * width + sx) * 4;
      uint8_t* to = target + (memoryRow * viewWidth + sx + dx) * 4;
      if (!(flags & kSwapRedBlue)) {
        std::memcpy(to, from, rowBytes);
        continue;
      }
      for (size_t i = 0; i < rowBytes; i += 4) {
        to[i] = from[i + 2];
        to[i + 1] = from[i + 1];
        to[i + 2] = from[i];
        to[i + 3] = from[i + 3];
      }
    }
    m_bytesCopied += rowBytes * static_cast<size_t>(bottom - sy);
  }
  // Raised once every rectangle of the paint is in place (also when the cut
  // left nothing to copy), so a host that draws on the notice never draws a
  // picture that is part this paint and part the one before.
  if (!dirtyRects.empty()) m_newFrame.store(1);
  ++m_paintCount;

  // A view paint covered the popup: ask for it again on top.
  if (type == PET_VIEW && m_popupRect.width > 0 && m_popupRect.height > 0)
    if (CefRefPtr<CefBrowser> browser = GetBrowser()) browser->GetHost()->Invalidate(PET_POPUP);
}

void CWebClient::OnCursorChange(CefRefPtr<CefBrowser>, CefCursorHandle, CursorType type,
                                const CefCursorInfo&) {
  QLOG(u"CWebClient::OnCursorChange type [%d]", static_cast<int>(type));
  m_cursorType.store(static_cast<int>(type) + 1);
}

}  // namespace quillo
