#include "view_text.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>

#include "view_input.h"

namespace quillo_tools {

namespace {

constexpr const char* kMainFamily = "DejaVu Sans";
// Where Debian's fonts-dejavu-core puts the font, should fontconfig not know it.
constexpr const char* kMainFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

void AppendUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The file of the font fontconfig matches for a pattern, or "" when it has none.
std::string MatchFontFile(FcPattern* pattern) {
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  std::string file;
  FcChar8* name = nullptr;
  if (match != nullptr && FcPatternGetString(match, FC_FILE, 0, &name) == FcResultMatch)
    file = reinterpret_cast<const char*>(name);
  if (match != nullptr) FcPatternDestroy(match);
  return file;
}

}  // namespace

TextPainter::~TextPainter() {
  for (auto& [file, font] : m_fallbacks)
    if (font != nullptr) TTF_CloseFont(font);
  if (m_main != nullptr) TTF_CloseFont(m_main);
  if (m_ttfStarted) TTF_Quit();
}

bool TextPainter::Init(int pointSize) {
  if (TTF_Init() != 0) return false;
  m_ttfStarted = true;
  m_pointSize = pointSize;
  std::string file;
  if (FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(kMainFamily))) {
    file = MatchFontFile(pattern);
    FcPatternDestroy(pattern);
  }
  if (!file.empty()) m_main = TTF_OpenFont(file.c_str(), pointSize);
  if (m_main == nullptr) m_main = TTF_OpenFont(kMainFontPath, pointSize);
  if (m_main == nullptr) return false;
  m_lineHeight = TTF_FontLineSkip(m_main);
  m_textHeight = TTF_FontHeight(m_main);
  return true;
}

TTF_Font* TextPainter::OpenFallback(char32_t c) {
  FcPattern* pattern = FcPatternCreate();
  FcCharSet* charset = FcCharSetCreate();
  FcCharSetAddChar(charset, c);
  FcPatternAddCharSet(pattern, FC_CHARSET, charset);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  const std::string file = MatchFontFile(pattern);
  FcCharSetDestroy(charset);
  FcPatternDestroy(pattern);
  if (file.empty()) return nullptr;
  auto [it, added] = m_fallbacks.emplace(file, nullptr);
  if (added) it->second = TTF_OpenFont(file.c_str(), m_pointSize);
  return it->second;
}

TTF_Font* TextPainter::FontFor(char32_t c) {
  // SDL_ttf 2.20 knows code points above U+FFFF; the main font first, as most text is in it.
  if (c < 0x20 || TTF_GlyphIsProvided32(m_main, c)) return m_main;
  if (auto it = m_fontOf.find(c); it != m_fontOf.end()) return it->second;
  TTF_Font* font = OpenFallback(c);
  if (font == nullptr || !TTF_GlyphIsProvided32(font, c)) font = m_main;
  m_fontOf.emplace(c, font);
  return font;
}

std::vector<TextPainter::Run> TextPainter::Runs(std::string_view utf8) {
  std::vector<Run> runs;
  if (m_main == nullptr) return runs;
  for (char32_t c : DecodeUtf8(utf8)) {
    if (c < 0x20 || c == 0x7F) c = U' ';
    TTF_Font* font = FontFor(c);
    if (runs.empty() || runs.back().font != font) runs.push_back({font, {}});
    AppendUtf8(&runs.back().utf8, c);
  }
  return runs;
}

int TextPainter::Width(std::string_view utf8) {
  int width = 0;
  for (const Run& run : Runs(utf8)) {
    int w = 0;
    int h = 0;
    if (TTF_SizeUTF8(run.font, run.utf8.c_str(), &w, &h) == 0) width += w;
  }
  return width;
}

void TextPainter::Draw(SDL_Renderer* renderer, int x, int y, std::string_view utf8,
                       SDL_Color colour) {
  for (const Run& run : Runs(utf8)) {
    SDL_Surface* surface = TTF_RenderUTF8_Blended(run.font, run.utf8.c_str(), colour);
    if (surface == nullptr) continue;
    if (SDL_Texture* texture = SDL_CreateTextureFromSurface(renderer, surface)) {
      // A fallback font of another height sits on the main font's baseline.
      const int baseline = y + TTF_FontAscent(m_main) - TTF_FontAscent(run.font);
      const SDL_Rect target{x, baseline, surface->w, surface->h};
      SDL_RenderCopy(renderer, texture, nullptr, &target);
      SDL_DestroyTexture(texture);
    }
    x += surface->w;
    SDL_FreeSurface(surface);
  }
}

std::vector<std::string> WrapText(TextPainter& painter, std::string_view utf8, int maxWidth,
                                  size_t maxLines) {
  maxLines = std::max<size_t>(maxLines, 1);
  std::vector<std::string> lines(1);
  bool cut = false;
  auto newLine = [&]() {
    if (lines.size() == maxLines) {
      cut = true;
      return false;
    }
    lines.emplace_back();
    return true;
  };
  for (char32_t c : DecodeUtf8(utf8)) {
    if (c == U'\r') continue;
    if (c == U'\n') {
      if (!newLine()) break;
      continue;
    }
    if (c < 0x20 || c == 0x7F) c = U' ';
    std::string& line = lines.back();
    std::string longer = line;
    AppendUtf8(&longer, c);
    if (line.empty() || painter.Width(longer) <= maxWidth) {
      line = std::move(longer);
      continue;
    }
    // The line is full: a space simply ends it; otherwise the word in progress moves to the
    // next line, unless it fills the whole line by itself.
    if (c == U' ') {
      if (!newLine()) break;
      continue;
    }
    const size_t space = line.rfind(' ');
    std::string carried;
    if (space != std::string::npos) {
      carried = line.substr(space + 1);
      line.resize(space);
    }
    if (!newLine()) break;
    AppendUtf8(&carried, c);
    lines.back() = std::move(carried);
  }
  if (cut) {
    // Whole characters go until the ellipsis fits.
    std::string& last = lines.back();
    std::u32string chars = DecodeUtf8(last);
    auto encode = [&]() {
      std::string text;
      for (char32_t c : chars) AppendUtf8(&text, c);
      return text + "...";
    };
    while (!chars.empty() && painter.Width(encode()) > maxWidth) chars.pop_back();
    last = encode();
  }
  return lines;
}

}  // namespace quillo_tools
