// A tiny built-in bitmap font for the few words quillo-view draws itself (the script dialog
// bar): printable ASCII, 5 x 8 pixels a glyph (7 rows and one for descenders).
#ifndef QUILLO_TOOLS_BITMAP_FONT_H
#define QUILLO_TOOLS_BITMAP_FONT_H

#include <cstdint>

namespace quillo_tools {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 8;
// Room one character takes in a line of text, spacing included.
inline constexpr int kGlyphAdvance = 6;
inline constexpr int kGlyphLineHeight = 10;

// The first and last character the font has glyphs for.
inline constexpr char32_t kFirstGlyph = 0x20;
inline constexpr char32_t kLastGlyph = 0x7E;

// The kGlyphHeight rows of the glyph for c, top row first; bit 4 of a row is its leftmost
// pixel. A character the font lacks is drawn as '?'.
const uint8_t* GlyphRows(char32_t c);

}  // namespace quillo_tools

#endif  // QUILLO_TOOLS_BITMAP_FONT_H
