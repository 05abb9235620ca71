// Turns the pixel memory that quillo paints into and writes it out as a PNG file.
#ifndef QUILLO_TOOLS_PNG_WRITER_H
#define QUILLO_TOOLS_PNG_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

namespace quillo_tools {

// How the host asked LoadWeb to lay out its memory (the PAINT_* option bits).
struct PixelLayout {
  bool swapRedBlue = false;  // bytes are R, G, B, A instead of B, G, R, A
  bool bottomUp = false;     // the first row in memory is the bottom row of the view
};

// Converts width x height pixels of host memory (stride width * 4) into rows of R, G, B (and A
// when keepAlpha is set), top row first, without padding: the order PNG stores them in.
// Returns an empty vector when the size is not positive.
std::vector<uint8_t> HostPixelsToRgb(const uint8_t* pixels, int width, int height,
                                     PixelLayout layout, bool keepAlpha);

// Turns premultiplied R, G, B, A rows (HostPixelsToRgb with keepAlpha) into the straight alpha
// PNG stores: each colour divided by its alpha, rounded; a pixel of alpha 0 becomes 0, 0, 0, 0.
void Unpremultiply(std::vector<uint8_t>* rgba);

// Lays premultiplied R, G, B, A rows of width pixels over the tools' checkerboard and returns
// opaque R, G, B rows.
std::vector<uint8_t> OverCheckerboard(const std::vector<uint8_t>& rgba, int width);

// Writes rgb (as made by HostPixelsToRgb) to path as an 8-bit RGB or RGBA PNG. On failure
// returns false and describes the reason in *error.
bool WritePng(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height,
              bool hasAlpha, std::string* error);

}  // namespace quillo_tools

#endif  // QUILLO_TOOLS_PNG_WRITER_H
