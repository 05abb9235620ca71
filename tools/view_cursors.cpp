#include "view_cursors.h"

#include <iterator>

namespace quillo_tools {

namespace {

// The SDL system cursor closest to each engine cursor type, in the engine's order.
constexpr SDL_SystemCursor kCursorForType[] = {
    SDL_SYSTEM_CURSOR_ARROW,      // pointer
    SDL_SYSTEM_CURSOR_CROSSHAIR,  // cross
    SDL_SYSTEM_CURSOR_HAND,       // hand
    SDL_SYSTEM_CURSOR_IBEAM,      // I-beam
    SDL_SYSTEM_CURSOR_WAIT,       // wait
    SDL_SYSTEM_CURSOR_ARROW,      // help
    SDL_SYSTEM_CURSOR_SIZEWE,     // east resize
    SDL_SYSTEM_CURSOR_SIZENS,     // north resize
    SDL_SYSTEM_CURSOR_SIZENESW,   // north-east resize
    SDL_SYSTEM_CURSOR_SIZENWSE,   // north-west resize
    SDL_SYSTEM_CURSOR_SIZENS,     // south resize
    SDL_SYSTEM_CURSOR_SIZENWSE,   // south-east resize
    SDL_SYSTEM_CURSOR_SIZENESW,   // south-west resize
    SDL_SYSTEM_CURSOR_SIZEWE,     // west resize
    SDL_SYSTEM_CURSOR_SIZENS,     // north-south resize
    SDL_SYSTEM_CURSOR_SIZEWE,     // east-west resize
    SDL_SYSTEM_CURSOR_SIZENESW,   // north-east/south-west resize
    SDL_SYSTEM_CURSOR_SIZENWSE,   // north-west/south-east resize
    SDL_SYSTEM_CURSOR_SIZEWE,     // column resize
    SDL_SYSTEM_CURSOR_SIZENS,     // row resize
    SDL_SYSTEM_CURSOR_SIZEALL,    // middle panning
    SDL_SYSTEM_CURSOR_SIZEALL,    // east panning
    SDL_SYSTEM_CURSOR_SIZEALL,    // north panning
    SDL_SYSTEM_CURSOR_SIZEALL,    // north-east panning
    SDL_SYSTEM_CURSOR_SIZEALL,    // north-west panning
    SDL_SYSTEM_CURSOR_SIZEALL,    // south panning
    SDL_SYSTEM_CURSOR_SIZEALL,    // south-east panning
    SDL_SYSTEM_CURSOR_SIZEALL,    // south-west panning
    SDL_SYSTEM_CURSOR_SIZEALL,    // west panning
    SDL_SYSTEM_CURSOR_SIZEALL,    // move
    SDL_SYSTEM_CURSOR_IBEAM,      // vertical text
    SDL_SYSTEM_CURSOR_CROSSHAIR,  // cell
    SDL_SYSTEM_CURSOR_ARROW,      // context menu
    SDL_SYSTEM_CURSOR_ARROW,      // alias
    SDL_SYSTEM_CURSOR_WAITARROW,  // progress
    SDL_SYSTEM_CURSOR_NO,         // no drop
    SDL_SYSTEM_CURSOR_ARROW,      // copy
    SDL_SYSTEM_CURSOR_ARROW,      // none (hidden instead, see below)
    SDL_SYSTEM_CURSOR_NO,         // not allowed
    SDL_SYSTEM_CURSOR_ARROW,      // zoom in
    SDL_SYSTEM_CURSOR_ARROW,      // zoom out
    SDL_SYSTEM_CURSOR_HAND,       // grab
    SDL_SYSTEM_CURSOR_HAND,       // grabbing
};
static_assert(std::size(kCursorForType) == 43, "one entry per engine cursor type but custom");
// The engine's type for "no cursor at all".
constexpr int kCursorTypeNone = 37;

}  // namespace

Cursors::~Cursors() {
  for (SDL_Cursor* cursor : m_cursors)
    if (cursor != nullptr) SDL_FreeCursor(cursor);
}

void Cursors::Show(int engineType) {
  SDL_ShowCursor(engineType == kCursorTypeNone ? SDL_DISABLE : SDL_ENABLE);
  SDL_SystemCursor id = SDL_SYSTEM_CURSOR_ARROW;
  if (engineType >= 0 && engineType < static_cast<int>(std::size(kCursorForType)))
    id = kCursorForType[engineType];
  SDL_Cursor*& cursor = m_cursors[id];
  if (cursor == nullptr) cursor = SDL_CreateSystemCursor(id);
  if (cursor != nullptr) SDL_SetCursor(cursor);
}

}  // namespace quillo_tools
