#include "wpe/input/popup_controller.h"

#include <vector>

#include "wpe/input/key_mapper.h"
#include "wpe/process/ui_thread.h"
#include "wpe/room/browser_side.h"

namespace quillo::engine {
namespace {

gboolean OnShowOptionMenu(WebKitWebView*, WebKitOptionMenu* menu, WebKitRectangle* rect,
                          gpointer self) {
  static_cast<PopupController*>(self)->Show(menu,
                                            CefRect(rect->x, rect->y, rect->width, rect->height));
  return TRUE;
}

}  // namespace

void PopupController::Attach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  g_signal_connect(view, "show-option-menu", G_CALLBACK(OnShowOptionMenu), this);
}

void PopupController::Detach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  g_signal_handlers_disconnect_by_data(view, this);
}

void PopupController::Show(WebKitOptionMenu* menu, const CefRect& anchor) {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_list) Hide();
  // The element's rectangle comes in view pixels; the list lives in device pixels.
  const auto device = [this](int v) { return static_cast<int>(v * m_scale + 0.5); };
  const CefRect scaled(device(anchor.x), device(anchor.y), device(anchor.width),
                       device(anchor.height));
  m_list = std::make_unique<PopupList>(menu, scaled, device(m_viewWidth), device(m_viewHeight));
  g_signal_connect(menu, "close", G_CALLBACK(+[](WebKitOptionMenu* closed, gpointer self) {
                     // Deferred: the close may come from inside the list's own input handling.
                     auto* popup = static_cast<PopupController*>(self);
                     popup->m_browser.Post([popup, closed] {
                       if (popup->m_list && popup->m_list->Menu() == closed) popup->Hide();
                     });
                   }),
                   this);
  if (CefRefPtr<CefRenderHandler> render = m_browser.Client().GetRenderHandler()) {
    render->OnPopupShow(m_browser.Browser(), true);
    render->OnPopupSize(m_browser.Browser(), m_list->Rect());
  }
  Repaint();
}

bool PopupController::TakesKey(const CefKeyEvent& event) {
  QUILLO_REQUIRE_UI_THREAD();
  if (!m_list) return false;
  // An open list takes every key; only key-downs of its keys do anything.
  if (event.type == KEYEVENT_KEYDOWN || event.type == KEYEVENT_RAWKEYDOWN)
    Apply(m_list->KeyDown(KeyMapper::NonTextKeysym(event.windows_key_code)));
  return true;
}

bool PopupController::TakesClick(const CefMouseEvent& event, CefBrowserHost::MouseButtonType type,
                                 bool mouseUp) {
  QUILLO_REQUIRE_UI_THREAD();
  if (!m_list) return false;
  if (type == MBT_LEFT)
    Apply(mouseUp ? m_list->MouseUp(event.x, event.y) : m_list->MouseDown(event.x, event.y));
  return true;
}

bool PopupController::TakesMove(const CefMouseEvent& event) {
  QUILLO_REQUIRE_UI_THREAD();
  if (!m_list) return false;
  Apply(m_list->MouseMove(event.x, event.y));
  return true;
}

void PopupController::CloseMenu() {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_list) m_list->Close();
}

void PopupController::Apply(PopupList::Result result) {
  if (result == PopupList::Result::kRedraw) Repaint();
  if (result == PopupList::Result::kDone) Hide();
}

void PopupController::Hide() {
  QUILLO_REQUIRE_UI_THREAD();
  if (!m_list) return;
  Drop();
  if (CefRefPtr<CefRenderHandler> render = m_browser.Client().GetRenderHandler())
    render->OnPopupShow(m_browser.Browser(), false);
}

void PopupController::Drop() {
  QUILLO_REQUIRE_UI_THREAD();
  if (!m_list) return;
  g_signal_handlers_disconnect_by_data(m_list->Menu(), this);
  m_list.reset();
}

void PopupController::Repaint() {
  QUILLO_REQUIRE_UI_THREAD();
  if (!m_list) return;
  CefRefPtr<CefRenderHandler> render = m_browser.Client().GetRenderHandler();
  if (!render) return;
  const CefRect& rect = m_list->Rect();
  std::vector<CefRect> dirty{CefRect(0, 0, rect.width, rect.height)};
  render->OnPaint(m_browser.Browser(), PET_POPUP, dirty, m_list->Pixels(), rect.width, rect.height);
}

}  // namespace quillo::engine
