// Text in quillo-view's own drawing (the script dialog bar): SDL2_ttf with DejaVu Sans, and for
// characters DejaVu lacks, whichever installed font fontconfig names for them, so that any
// text a page can show in a dialog is drawn (a character no installed font has is drawn as
// DejaVu's missing-glyph box). UI thread of the viewer only.
#ifndef QUILLO_TOOLS_VIEW_TEXT_H
#define QUILLO_TOOLS_VIEW_TEXT_H

#include <SDL.h>
#include <SDL_ttf.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillo_tools {

class TextPainter {
 public:
  TextPainter() = default;
  TextPainter(const TextPainter&) = delete;
  TextPainter& operator=(const TextPainter&) = delete;
  ~TextPainter();

  // Opens the main font at pointSize. False (with SDL's error set) when SDL_ttf or the font
  // cannot be had: then Draw draws nothing and Width measures 0.
  bool Init(int pointSize);

  // Height of one line, and of the text itself (ascent and descent).
  int LineHeight() const { return m_lineHeight; }
  int TextHeight() const { return m_textHeight; }

  // Width of one line of UTF-8 text in pixels.
  int Width(std::string_view utf8);

  // Draws one line of UTF-8 text with its top left corner at x, y.
  void Draw(SDL_Renderer* renderer, int x, int y, std::string_view utf8, SDL_Color colour);

 private:
  // A stretch of text that one font draws.
  struct Run {
    TTF_Font* font;
    std::string utf8;
  };
  std::vector<Run> Runs(std::string_view utf8);
  TTF_Font* FontFor(char32_t c);
  TTF_Font* OpenFallback(char32_t c);

  bool m_ttfStarted = false;
  int m_pointSize = 0;
  int m_lineHeight = 0;
  int m_textHeight = 0;
  TTF_Font* m_main = nullptr;
  // Fallback fonts by file, opened once; and the font chosen for each character met so far.
  std::unordered_map<std::string, TTF_Font*> m_fallbacks;
  std::unordered_map<char32_t, TTF_Font*> m_fontOf;
};

// Breaks UTF-8 text into at most maxLines lines no wider than maxWidth pixels, at spaces where
// it can; control characters become spaces, line breaks start a new line. A text that does
// not fit ends with "...".
std::vector<std::string> WrapText(TextPainter& painter, std::string_view utf8, int maxWidth,
                                  size_t maxLines);

}  // namespace quillo_tools

#endif  // QUILLO_TOOLS_VIEW_TEXT_H
