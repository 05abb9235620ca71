// Pixel conversion and PNG output for quillo-shot.
#include "png_writer.h"

#include <png.h>

#include "checkerboard.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace quillo_tools {

std::vector<uint8_t> HostPixelsToRgb(const uint8_t* pixels, int width, int height,
                                     PixelLayout layout, bool keepAlpha) {
  if (pixels == nullptr || width <= 0 || height <= 0) return {};
  const size_t w = static_cast<size_t>(width);
  const size_t h = static_cast<size_t>(height);
  const size_t channels = keepAlpha ? 4 : 3;
  std::vector<uint8_t> rgb(w * h * channels);

  // Byte positions of red and blue inside one stored pixel; green sits at 1, alpha at 3.
  const size_t red = layout.swapRedBlue ? 0 : 2;
  const size_t blue = layout.swapRedBlue ? 2 : 0;

  for (size_t y = 0; y < h; ++y) {
    // View row y is memory row y, or row (height - 1 - y) when the rows are stored bottom-up.
    const size_t memoryRow = layout.bottomUp ? h - 1 - y : y;
    const uint8_t* src = pixels + memoryRow * w * 4;
    uint8_t* dst = rgb.data() + y * w * channels;
    for (size_t x = 0; x < w; ++x, src += 4, dst += channels) {
      dst[0] = src[red];
      dst[1] = src[1];
      dst[2] = src[blue];
      if (keepAlpha) dst[3] = src[3];
    }
  }
  return rgb;
}

void Unpremultiply(std::vector<uint8_t>* rgba) {
  for (size_t i = 0; i + 3 < rgba->size(); i += 4) {
    uint8_t* pixel = rgba->data() + i;
    const unsigned alpha = pixel[3];
    if (alpha == 255) continue;
    for (int c = 0; c < 3; ++c) {
      const unsigned value = alpha == 0 ? 0 : (pixel[c] * 255u + alpha / 2) / alpha;
      pixel[c] = static_cast<uint8_t>(value > 255u ? 255u : value);
    }
  }
}

std::vector<uint8_t> OverCheckerboard(const std::vector<uint8_t>& rgba, int width) {
  if (width <= 0) return {};
  const size_t count = rgba.size() / 4;
  std::vector<uint8_t> rgb(count * 3);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* src = rgba.data() + i * 4;
    const uint8_t gray = CheckerboardGray(static_cast<int>(i % static_cast<size_t>(width)),
                                          static_cast<int>(i / static_cast<size_t>(width)));
    for (int c = 0; c < 3; ++c) rgb[i * 3 + c] = OverBackground(src[c], src[3], gray);
  }
  return rgb;
}

bool WritePng(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height,
              bool hasAlpha, std::string* error) {
  const size_t channels = hasAlpha ? 4 : 3;
  if (width <= 0 || height <= 0 ||
      rgb.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * channels) {
    if (error) *error = "no picture to write";
    return false;
  }
  if (path.empty()) {
    if (error) *error = "empty file name";
    return false;
  }

  // libpng's simplified interface reports failures through image.message instead of longjmp,
  // and removes a half-written file itself.
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = hasAlpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;

  errno = 0;
  const png_int_32 stride = static_cast<png_int_32>(static_cast<size_t>(width) * channels);
  if (png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), stride, nullptr) == 0) {
    if (error) {
      // libpng reports a failed open with the system's text; other failures with its own.
      if (image.message[0] != '\0')
        *error = image.message;
      else
        *error = errno != 0 ? std::strerror(errno) : "libpng failed";
    }
    png_image_free(&image);
    return false;
  }
  return true;
}

}  // namespace quillo_tools
