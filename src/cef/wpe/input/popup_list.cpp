#include "wpe/input/popup_list.h"

#include <cairo.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>

namespace quillo::engine {
namespace {

constexpr int kPadding = 6;
constexpr double kFontSize = 13.0;

}  // namespace

PopupList::PopupList(WebKitOptionMenu* menu, const CefRect& anchor, int viewWidth, int viewHeight)
    : m_menu(WEBKIT_OPTION_MENU(g_object_ref(menu))) {
  const guint count = webkit_option_menu_get_n_items(menu);
  for (guint i = 0; i < count; ++i) {
    WebKitOptionMenuItem* item = webkit_option_menu_get_item(menu, i);
    const gchar* label = webkit_option_menu_item_get_label(item);
    m_items.push_back({label ? label : "", webkit_option_menu_item_is_enabled(item) != FALSE,
                       webkit_option_menu_item_is_group_label(item) != FALSE,
                       webkit_option_menu_item_is_group_child(item) != FALSE});
    if (webkit_option_menu_item_is_selected(item)) m_highlight = static_cast<int>(i);
  }

  // Width: the element's, or the widest label.
  cairo_surface_t* probe = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
  cairo_t* cr = cairo_create(probe);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, kFontSize);
  int width = std::max(anchor.width, 40);
  for (const Item& item : m_items) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, item.label.c_str(), &extents);
    width = std::max(width, static_cast<int>(extents.x_advance) + 2 * kPadding + 12);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(probe);
  width = std::min(width, std::max(viewWidth, 1));

  // Below the element when it fits, else above, else as many rows as fit.
  const int wanted = std::max<int>(static_cast<int>(m_items.size()), 1) * m_itemHeight + 2;
  const int below = viewHeight - (anchor.y + anchor.height);
  const int above = anchor.y;
  int height = wanted;
  int y = anchor.y + anchor.height;
  if (wanted > below) {
    if (above > below) {
      height = std::min(wanted, std::max(above, m_itemHeight + 2));
      y = anchor.y - height;
    } else {
      height = std::min(wanted, std::max(below, m_itemHeight + 2));
    }
  }
  int x = std::clamp(anchor.x, 0, std::max(viewWidth - width, 0));
  y = std::max(y, 0);
  m_rect = CefRect(x, y, width, height);
  m_visibleCount = std::max((height - 2) / m_itemHeight, 1);
  EnsureVisible();
  m_pixels.assign(static_cast<size_t>(width) * height * 4, 0);
  Draw();
}

PopupList::~PopupList() {
  g_object_unref(m_menu);
}

void PopupList::Draw() {
  const int stride = m_rect.width * 4;
  cairo_surface_t* surface = cairo_image_surface_create_for_data(
      m_pixels.data(), CAIRO_FORMAT_ARGB32, m_rect.width, m_rect.height, stride);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 0.55, 0.55, 0.55);
  cairo_set_line_width(cr, 1);
  cairo_rectangle(cr, 0.5, 0.5, m_rect.width - 1, m_rect.height - 1);
  cairo_stroke(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, kFontSize);
  for (int row = 0; row < m_visibleCount; ++row) {
    const int index = m_firstVisible + row;
    if (index >= static_cast<int>(m_items.size())) break;
    const Item& item = m_items[index];
    const double top = 1 + row * m_itemHeight;
    if (index == m_highlight && item.enabled && !item.groupLabel) {
      cairo_set_source_rgb(cr, 0.16, 0.42, 0.85);
      cairo_rectangle(cr, 1, top, m_rect.width - 2, m_itemHeight);
      cairo_fill(cr);
      cairo_set_source_rgb(cr, 1, 1, 1);
    } else if (!item.enabled) {
      cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
    } else {
      cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    }
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                           item.groupLabel ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_move_to(cr, kPadding + (item.groupChild ? 12 : 0), top + m_itemHeight - 6);
    cairo_show_text(cr, item.label.c_str());
  }
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  cairo_surface_destroy(surface);
  // The page is opaque: make sure alpha is full everywhere.
  for (size_t i = 3; i < m_pixels.size(); i += 4) m_pixels[i] = 0xFF;
}

int PopupList::ItemAt(int x, int y) const {
  if (x < m_rect.x || x >= m_rect.x + m_rect.width || y < m_rect.y + 1 ||
      y >= m_rect.y + m_rect.height - 1)
    return -1;
  const int index = m_firstVisible + (y - m_rect.y - 1) / m_itemHeight;
  return index < static_cast<int>(m_items.size()) ? index : -1;
}

void PopupList::EnsureVisible() {
  if (m_highlight < 0) return;
  if (m_highlight < m_firstVisible) m_firstVisible = m_highlight;
  if (m_highlight >= m_firstVisible + m_visibleCount)
    m_firstVisible = m_highlight - m_visibleCount + 1;
}

void PopupList::MoveHighlight(int step) {
  int index = m_highlight;
  for (size_t n = 0; n < m_items.size(); ++n) {
    index += step;
    if (index < 0 || index >= static_cast<int>(m_items.size())) return;
    if (m_items[index].enabled && !m_items[index].groupLabel) break;
  }
  m_highlight = index;
  EnsureVisible();
}

PopupList::Result PopupList::MouseMove(int x, int y) {
  const int index = ItemAt(x, y);
  if (index < 0 || index == m_highlight) return Result::kNothing;
  m_highlight = index;
  Draw();
  return Result::kRedraw;
}

PopupList::Result PopupList::MouseDown(int x, int y) {
  m_pressedInside = ItemAt(x, y) >= 0;
  if (m_pressedInside) return Result::kNothing;
  Close();  // a click outside closes the list
  return Result::kDone;
}

PopupList::Result PopupList::MouseUp(int x, int y) {
  const int index = ItemAt(x, y);
  if (!m_pressedInside || index < 0) return Result::kNothing;
  m_pressedInside = false;
  const Item& item = m_items[index];
  if (!item.enabled || item.groupLabel) return Result::kNothing;
  webkit_option_menu_activate_item(m_menu, static_cast<guint>(index));
  return Result::kDone;
}

PopupList::Result PopupList::KeyDown(uint32_t keysym) {
  switch (keysym) {
    case XKB_KEY_Up:
      MoveHighlight(-1);
      break;
    case XKB_KEY_Down:
      MoveHighlight(1);
      break;
    case XKB_KEY_Home:
      m_highlight = -1;
      MoveHighlight(1);
      break;
    case XKB_KEY_End:
      m_highlight = static_cast<int>(m_items.size());
      MoveHighlight(-1);
      break;
    case XKB_KEY_Return:
    case XKB_KEY_KP_Enter:
      if (m_highlight >= 0)
        webkit_option_menu_activate_item(m_menu, static_cast<guint>(m_highlight));
      else
        Close();
      return Result::kDone;
    case XKB_KEY_Escape:
    case XKB_KEY_Tab:
      Close();
      return Result::kDone;
    default:
      return Result::kNothing;
  }
  if (m_highlight >= 0) webkit_option_menu_select_item(m_menu, static_cast<guint>(m_highlight));
  Draw();
  return Result::kRedraw;
}

void PopupList::Close() {
  webkit_option_menu_close(m_menu);
}

}  // namespace quillo::engine
