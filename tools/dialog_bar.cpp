#include "dialog_bar.h"

#include <algorithm>

#include "host_common.h"

namespace quillo_tools {

namespace {

constexpr std::string_view kOkLabel = "OK";
constexpr std::string_view kCancelLabel = "Cancel";
constexpr int kPadding = 8;
constexpr int kButtonGap = 8;
constexpr int kButtonTextPadding = 12;
constexpr int kMinButtonWidth = 72;
constexpr size_t kMaxLines = 4;
constexpr SDL_Color kBarColour{0x2B, 0x2D, 0x31, 0xFF};
constexpr SDL_Color kEdgeColour{0x8A, 0x8F, 0x99, 0xFF};
constexpr SDL_Color kTextColour{0xF2, 0xF2, 0xF2, 0xFF};
constexpr SDL_Color kButtonColour{0x45, 0x49, 0x50, 0xFF};
constexpr SDL_Color kHoverColour{0x5A, 0x60, 0x6A, 0xFF};
constexpr SDL_Color kPressedColour{0x30, 0x33, 0x38, 0xFF};
constexpr SDL_Color kDefaultEdgeColour{0x6A, 0xA0, 0xFF, 0xFF};

int ButtonHeight(const TextPainter& painter) {
  return painter.TextHeight() + kButtonTextPadding;
}

int ButtonWidth(TextPainter& painter, std::string_view label) {
  return std::max(kMinButtonWidth, painter.Width(label) + 24);
}

void SetColour(SDL_Renderer* renderer, SDL_Color colour) {
  SDL_SetRenderDrawColor(renderer, colour.r, colour.g, colour.b, colour.a);
}

}  // namespace

void DialogBar::Show(int type, std::string_view message) {
  m_shown = true;
  m_type = type;
  m_message = std::string(message);
  m_pressed = Button::kNone;
}

void DialogBar::Layout(TextPainter& painter, int width, int height) {
  const int okWidth = ButtonWidth(painter, kOkLabel);
  const int cancelWidth = ButtonWidth(painter, kCancelLabel);
  const int textWidth = std::max(width - 3 * kPadding - okWidth - kButtonGap - cancelWidth, 1);
  std::string text = DialogTypeName(m_type) + ": " + m_message;
  if (m_type == 2) text += "\n(no text field here: OK answers with an empty text)";
  m_lines = WrapText(painter, text, textWidth, kMaxLines);

  const int buttonHeight = ButtonHeight(painter);
  const int textHeight = static_cast<int>(m_lines.size()) * painter.LineHeight();
  const int barHeight = std::max(buttonHeight, textHeight) + 2 * kPadding;
  m_bar = {0, std::max(height - barHeight, 0), width, barHeight};
  const int buttonY = m_bar.y + kPadding;
  m_cancel = {width - kPadding - cancelWidth, buttonY, cancelWidth, buttonHeight};
  m_ok = {m_cancel.x - kButtonGap - okWidth, buttonY, okWidth, buttonHeight};
}

DialogBar::Button DialogBar::HitTest(int x, int y) const {
  const SDL_Point point{x, y};
  if (SDL_PointInRect(&point, &m_ok)) return Button::kOk;
  if (SDL_PointInRect(&point, &m_cancel)) return Button::kCancel;
  return Button::kNone;
}

bool DialogBar::SetHover(Button button) {
  const bool changed = button != m_hover;
  m_hover = button;
  return changed;
}

void DialogBar::Draw(SDL_Renderer* renderer, TextPainter& painter) const {
  SetColour(renderer, kBarColour);
  SDL_RenderFillRect(renderer, &m_bar);
  SetColour(renderer, kEdgeColour);
  SDL_RenderDrawLine(renderer, m_bar.x, m_bar.y, m_bar.x + m_bar.w - 1, m_bar.y);
  // The first line sits level with the button labels.
  int y = m_bar.y + kPadding + (ButtonHeight(painter) - painter.TextHeight()) / 2;
  for (const std::string& line : m_lines) {
    painter.Draw(renderer, kPadding, y, line, kTextColour);
    y += painter.LineHeight();
  }
  DrawButton(renderer, painter, m_ok, kOkLabel, Button::kOk, true);
  DrawButton(renderer, painter, m_cancel, kCancelLabel, Button::kCancel, false);
}

// A button with its label centred; the default one (Enter) has a blue edge.
void DialogBar::DrawButton(SDL_Renderer* renderer, TextPainter& painter, const SDL_Rect& rect,
                           std::string_view label, Button which, bool isDefault) const {
  SetColour(renderer, m_pressed == which && m_hover == which ? kPressedColour
                      : m_hover == which                     ? kHoverColour
                                                             : kButtonColour);
  SDL_RenderFillRect(renderer, &rect);
  SetColour(renderer, isDefault ? kDefaultEdgeColour : kEdgeColour);
  SDL_RenderDrawRect(renderer, &rect);
  painter.Draw(renderer, rect.x + (rect.w - painter.Width(label)) / 2,
               rect.y + (rect.h - painter.TextHeight()) / 2, label, kTextColour);
}

}  // namespace quillo_tools
