#include "views/view_config.h"

#include <cmath>
#include <cstring>

namespace quillo::views {

int CheckMemory(int width, int height, void* pixels, size_t stride, Memory* memory,
                std::string* why) {
  if (width < 1 || height < 1 || width > QUILLO_MAX_SIDE || height > QUILLO_MAX_SIDE) {
    *why = "size " + std::to_string(width) + "x" + std::to_string(height) + " is outside 1.." +
           std::to_string(QUILLO_MAX_SIDE);
    return QUILLO_ERROR_BAD_SIZE;
  }
  const size_t rowBytes = static_cast<size_t>(width) * 4;
  if (stride == 0) stride = rowBytes;
  if (stride < rowBytes) {
    *why = "stride " + std::to_string(stride) + " is below width * 4 = " + std::to_string(rowBytes);
    return QUILLO_ERROR_BAD_STRIDE;
  }
  if (stride > SIZE_MAX / static_cast<size_t>(height)) {
    *why = "stride " + std::to_string(stride) + " times height overflows";
    return QUILLO_ERROR_BAD_STRIDE;
  }
  if (pixels == nullptr) {
    *why = "pixel memory is null";
    return QUILLO_ERROR_NULL_ARGUMENT;
  }
  *memory = Memory{width, height, static_cast<uint8_t*>(pixels), stride};
  return QUILLO_OK;
}

bool ValidScale(double scale) {
  return std::isfinite(scale) && scale >= kMinScale && scale <= kMaxScale;
}

bool ValidZoom(double zoom) {
  return std::isfinite(zoom) && zoom >= kMinZoom && zoom <= kMaxZoom;
}

bool ValidFrameRate(int rate) {
  return rate >= kMinFrameRate && rate <= kMaxFrameRate;
}

bool ValidFunctionName(const std::string& name) {
  if (name.empty() || name.size() > kMaxFunctionName) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$';
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !(digit && i > 0)) return false;
  }
  return true;
}

int ReadViewConfig(const quillo_view_config* config, ViewSettings* settings, std::string* why) {
  if (config == nullptr) {
    *why = "config is null";
    return QUILLO_ERROR_NULL_ARGUMENT;
  }
  // The size field is read alone first: the host's struct may be shorter than ours.
  size_t size = 0;
  std::memcpy(&size, config, sizeof(size));
  if (size < kFirstConfigSize) {
    *why = "config size " + std::to_string(size) + " is below the first version's " +
           std::to_string(kFirstConfigSize) + " (set it with quillo_view_config_default)";
    return QUILLO_ERROR_BAD_CONFIG;
  }
  if (size > sizeof(quillo_view_config)) {
    // A host built against a newer header: its extra fields must be left at their defaults.
    const auto* extra = reinterpret_cast<const unsigned char*>(config) + sizeof(quillo_view_config);
    for (size_t i = 0; i < size - sizeof(quillo_view_config); ++i)
      if (extra[i] != 0) {
        *why = "config size " + std::to_string(size) +
               " has fields this library does not know set (a newer header?)";
        return QUILLO_ERROR_BAD_CONFIG;
      }
  }
  quillo_view_config c = quillo_view_config_default();
  std::memcpy(&c, config, std::min(size, sizeof(c)));

  ViewSettings s;
  if (int r = CheckMemory(c.width, c.height, c.pixels, c.stride, &s.memory, why); r != QUILLO_OK)
    return r;
  if (c.format != QUILLO_FORMAT_BGRA && c.format != QUILLO_FORMAT_RGBA) {
    *why = "format " + std::to_string(c.format) + " is neither QUILLO_FORMAT_BGRA nor _RGBA";
    return QUILLO_ERROR_BAD_CONFIG;
  }
  s.rgba = c.format == QUILLO_FORMAT_RGBA;
  s.bottomUp = c.bottom_up != 0;
  s.transparent = c.transparent != 0;
  s.scale = c.device_scale == 0 ? 1.0 : c.device_scale;
  if (!ValidScale(s.scale)) {
    *why = "device_scale is outside 0.25..8";
    return QUILLO_ERROR_BAD_CONFIG;
  }
  s.frameRate = c.max_frame_rate == 0 ? kDefaultFrameRate : c.max_frame_rate;
  if (!ValidFrameRate(s.frameRate)) {
    *why = "max_frame_rate " + std::to_string(c.max_frame_rate) + " is outside 1..240";
    return QUILLO_ERROR_BAD_CONFIG;
  }
  s.hidden = c.hidden != 0;
  s.zoom = c.zoom == 0 ? 1.0 : c.zoom;
  if (!ValidZoom(s.zoom)) {
    *why = "zoom is outside 0.25..5";
    return QUILLO_ERROR_BAD_CONFIG;
  }
  if (c.user_agent != nullptr) s.userAgent = c.user_agent;
  s.postFunction = c.post_function == nullptr ? kDefaultPostFunction : c.post_function;
  if (!s.postFunction.empty() && !ValidFunctionName(s.postFunction)) {
    *why = "post_function is not an identifier of 1..64 letters, digits, '_' or '$'";
    return QUILLO_ERROR_BAD_CONFIG;
  }
  s.autoReload = c.auto_reload;
  if (s.autoReload < 0 || s.autoReload > QUILLO_MAX_AUTO_RELOADS) {
    *why = "auto_reload " + std::to_string(c.auto_reload) + " is outside 0.." +
           std::to_string(QUILLO_MAX_AUTO_RELOADS);
    return QUILLO_ERROR_BAD_CONFIG;
  }
  *settings = std::move(s);
  return QUILLO_OK;
}

}  // namespace quillo::views
