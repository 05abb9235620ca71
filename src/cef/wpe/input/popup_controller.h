// The <select> list the page opened, if any: shown when the engine asks
// (show-option-menu), painted as the PET_POPUP element, hidden when the
// engine's menu closes or an input finishes it. While it is open, the input
// router offers it every input first (the Takes* entries). UI thread only.
#pragma once

#include <wpe/webkit.h>

#include <memory>

#include "cef_browser.h"
#include "wpe/input/popup_list.h"

namespace quillo::engine {

class BrowserSide;

class PopupController {
 public:
  // browser owns this controller by value and so outlives it.
  // The view's size in view pixels and its device scale factor: the list is placed and painted
  // in device pixels, where the view's paints and the pointer's positions are.
  PopupController(BrowserSide& browser, int viewWidth, int viewHeight, double scale)
      : m_browser(browser), m_viewWidth(viewWidth), m_viewHeight(viewHeight), m_scale(scale) {}
  PopupController(const PopupController&) = delete;
  PopupController& operator=(const PopupController&) = delete;

  void Attach(WebKitWebView* view);
  void Detach(WebKitWebView* view);

  // Input, offered here first: true when the open list took it (then it goes
  // no further, even when the list does nothing with it).
  bool TakesKey(const CefKeyEvent& event);
  bool TakesClick(const CefMouseEvent& event, CefBrowserHost::MouseButtonType type, bool mouseUp);
  bool TakesMove(const CefMouseEvent& event);
  bool TakesWheel() const { return m_list != nullptr; }
  // The view lost the focus: the engine's menu closes without a choice (its
  // close then hides the list).
  void CloseMenu();

  void Repaint();
  // The view's new size and scale (a list still open keeps its place until it closes).
  void SetGeometry(int viewWidth, int viewHeight, double scale) {
    m_viewWidth = viewWidth, m_viewHeight = viewHeight, m_scale = scale;
  }
  // Hides the list and tells the render handler.
  void Hide();
  // Forgets the list without a word (the view goes).
  void Drop();

  // Engine signal (from this room's trampolines).
  void Show(WebKitOptionMenu* menu, const CefRect& anchor);

 private:
  void Apply(PopupList::Result result);

  BrowserSide& m_browser;
  int m_viewWidth;
  int m_viewHeight;
  double m_scale;
  std::unique_ptr<PopupList> m_list;  // the open list; its menu's "close" is connected to this
};

}  // namespace quillo::engine
