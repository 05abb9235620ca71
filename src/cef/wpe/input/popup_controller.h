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
  PopupController(BrowserSide& browser, int viewWidth, int viewHeight)
      : m_browser(browser), m_viewWidth(viewWidth), m_viewHeight(viewHeight) {}
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
  // Hides the list and tells the render handler.
  void Hide();
  // Forgets the list without a word (the view goes).
  void Drop();

  // Engine signal (from this room's trampolines).
  void Show(WebKitOptionMenu* menu, const CefRect& anchor);

 private:
  void Apply(PopupList::Result result);

  BrowserSide& m_browser;
  const int m_viewWidth;
  const int m_viewHeight;
  std::unique_ptr<PopupList> m_list;  // the open list; its menu's "close" is connected to this
};

}  // namespace quillo::engine
