// The area of a view that a frame changed: a few rectangles in view pixels. Past kCapacity
// rectangles the region becomes their bounding box, so it never allocates and stays cheap to
// copy between threads inside a frame's record. Plain value type, no thread of its own.
#pragma once

#include "cef_types.h"

namespace quillo {

class DirtyRegion {
 public:
  static constexpr int kCapacity = 16;

  bool Empty() const { return m_count == 0; }
  int Count() const { return m_count; }
  const CefRect* begin() const { return m_rects; }
  const CefRect* end() const { return m_rects + m_count; }
  void Clear() { m_count = 0; }

  // Adds rect (ignored when empty). A rectangle already inside the region adds nothing; those
  // inside the new one are dropped.
  void Add(const CefRect& rect);
  void Add(const DirtyRegion& other);
  // Whether one of the region's rectangles holds all of rect.
  bool Covers(const CefRect& rect) const;
  // The smallest rectangle holding the region; empty when the region is.
  CefRect Bounds() const;

 private:
  CefRect m_rects[kCapacity];
  int m_count = 0;
};

// rect cut to the w x h area at the origin; empty (width or height 0) when nothing is left.
CefRect ClipToArea(const CefRect& rect, int w, int h);

}  // namespace quillo
