// quillo-view's script dialog bar: the strip at the bottom of the window that shows a waiting
// alert, confirm or prompt with its OK and Cancel buttons, and tells which button a click hit.
// UI thread of the viewer only.
#ifndef QUILLO_TOOLS_DIALOG_BAR_H
#define QUILLO_TOOLS_DIALOG_BAR_H

#include <SDL.h>

#include <string>
#include <string_view>
#include <vector>

#include "view_text.h"

namespace quillo_tools {

class DialogBar {
 public:
  enum class Button { kNone, kOk, kCancel };

  bool Shown() const { return m_shown; }

  // type is the library's dialog type (0 alert, 1 confirm, 2 prompt).
  void Show(int type, std::string_view message);
  void Hide() { m_shown = false; }

  // Places the bar and its buttons in a view of width x height pixels.
  void Layout(TextPainter& painter, int width, int height);

  Button HitTest(int x, int y) const;

  // The button a left-button press went down on; the answer comes when it is released there.
  void Press(Button button) { m_pressed = button; }
  Button Pressed() const { return m_pressed; }
  // Returns true when the hover changed, so the bar has to be drawn again.
  bool SetHover(Button button);

  void Draw(SDL_Renderer* renderer, TextPainter& painter) const;

 private:
  void DrawButton(SDL_Renderer* renderer, TextPainter& painter, const SDL_Rect& rect,
                  std::string_view label, Button which, bool isDefault) const;

  bool m_shown = false;
  int m_type = 0;
  std::string m_message;
  std::vector<std::string> m_lines;
  SDL_Rect m_bar{};
  SDL_Rect m_ok{};
  SDL_Rect m_cancel{};
  Button m_pressed = Button::kNone;
  Button m_hover = Button::kNone;
};

}  // namespace quillo_tools

#endif  // QUILLO_TOOLS_DIALOG_BAR_H
