// quillo-view's mouse cursor: SDL's system cursor closest to each cursor type the library
// reports, made when first needed and kept. UI thread of the viewer only.
#ifndef QUILLO_TOOLS_VIEW_CURSORS_H
#define QUILLO_TOOLS_VIEW_CURSORS_H

#include <SDL.h>

#include <array>

namespace quillo_tools {

class Cursors {
 public:
  Cursors() = default;
  Cursors(const Cursors&) = delete;
  Cursors& operator=(const Cursors&) = delete;
  ~Cursors();

  // Shows the cursor for an engine cursor type; unknown types (custom cursors) get the arrow,
  // the type "none" hides it.
  void Show(int engineType);

 private:
  std::array<SDL_Cursor*, SDL_NUM_SYSTEM_CURSORS> m_cursors{};
};

}  // namespace quillo_tools

#endif  // QUILLO_TOOLS_VIEW_CURSORS_H
