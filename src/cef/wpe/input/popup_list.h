// The open list of a <select> element, drawn by this layer (the engine leaves
// it to the embedder) into a buffer of its own and composited by the render
// handler as the PET_POPUP element. Mouse and keys sent to the browser while
// it is open move, choose or close it.
//
// UI thread only.
#pragma once

#include <wpe/webkit.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cef_types.h"

namespace quillo::engine {

class PopupList {
 public:
  // menu: the engine's menu (a reference is taken); anchor: the element's
  // rectangle in view pixels; view: the view's size.
  PopupList(WebKitOptionMenu* menu, const CefRect& anchor, int viewWidth, int viewHeight);
  ~PopupList();
  PopupList(const PopupList&) = delete;
  PopupList& operator=(const PopupList&) = delete;

  // The list's rectangle in view pixels.
  const CefRect& Rect() const { return m_rect; }
  // width*height*4 bytes, B, G, R, A, upper-left origin.
  const uint8_t* Pixels() const { return m_pixels.data(); }

  // What an input did to the list.
  enum class Result { kNothing, kRedraw, kDone };

  // Input while the list is open. kDone: an item was chosen or the list
  // closed; the caller hides it.
  Result MouseMove(int x, int y);
  Result MouseDown(int x, int y);
  Result MouseUp(int x, int y);
  Result KeyDown(uint32_t keysym);
  // Closes the engine's menu without a choice.
  void Close();

  WebKitOptionMenu* Menu() const { return m_menu; }

 private:
  struct Item {
    std::string label;
    bool enabled;
    bool groupLabel;
    bool groupChild;
  };
  void Draw();
  int ItemAt(int x, int y) const;  // -1 outside the items
  void MoveHighlight(int step);
  void EnsureVisible();

  WebKitOptionMenu* m_menu;
  std::vector<Item> m_items;
  CefRect m_rect;
  int m_itemHeight = 20;
  int m_firstVisible = 0;
  int m_visibleCount = 0;
  int m_highlight = -1;
  bool m_pressedInside = false;
  std::vector<uint8_t> m_pixels;
};

}  // namespace quillo::engine
