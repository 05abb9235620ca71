#include "client/dirty_region.h"

#include <algorithm>
#include <cstdint>

namespace quillo {
namespace {

bool Contains(const CefRect& outer, const CefRect& inner) {
  return inner.x >= outer.x && inner.y >= outer.y &&
         int64_t{inner.x} + inner.width <= int64_t{outer.x} + outer.width &&
         int64_t{inner.y} + inner.height <= int64_t{outer.y} + outer.height;
}

CefRect Union(const CefRect& a, const CefRect& b) {
  const int left = std::min(a.x, b.x), top = std::min(a.y, b.y);
  const int right = std::max(a.x + a.width, b.x + b.width);
  const int bottom = std::max(a.y + a.height, b.y + b.height);
  return CefRect(left, top, right - left, bottom - top);
}

}  // namespace

void DirtyRegion::Add(const CefRect& rect) {
  if (rect.IsEmpty()) return;
  if (Covers(rect)) return;
  int kept = 0;
  for (int i = 0; i < m_count; ++i)
    if (!Contains(rect, m_rects[i])) m_rects[kept++] = m_rects[i];
  m_count = kept;
  if (m_count < kCapacity) {
    m_rects[m_count++] = rect;
    return;
  }
  // Full: one bounding box from here on.
  CefRect bounds = rect;
  for (int i = 0; i < m_count; ++i) bounds = Union(bounds, m_rects[i]);
  m_rects[0] = bounds;
  m_count = 1;
}

void DirtyRegion::Add(const DirtyRegion& other) {
  for (const CefRect& rect : other) Add(rect);
}

bool DirtyRegion::Covers(const CefRect& rect) const {
  for (int i = 0; i < m_count; ++i)
    if (Contains(m_rects[i], rect)) return true;
  return false;
}

CefRect DirtyRegion::Bounds() const {
  if (m_count == 0) return CefRect();
  CefRect bounds = m_rects[0];
  for (int i = 1; i < m_count; ++i) bounds = Union(bounds, m_rects[i]);
  return bounds;
}

CefRect ClipToArea(const CefRect& rect, int w, int h) {
  const int64_t left = std::max<int64_t>(rect.x, 0);
  const int64_t top = std::max<int64_t>(rect.y, 0);
  const int64_t right = std::min<int64_t>(int64_t{rect.x} + rect.width, w);
  const int64_t bottom = std::min<int64_t>(int64_t{rect.y} + rect.height, h);
  if (right <= left || bottom <= top) return CefRect();
  return CefRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                 static_cast<int>(bottom - top));
}

}  // namespace quillo
