// A view's settings as the host's quillo_view_config gives them, read and checked once: the
// config is a versioned struct (its first field its size), so only the bytes the host's header
// knew of are read, and later fields keep their defaults. Plain values, no thread of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "quillo/views.h"

namespace quillo::views {

// The size of the first version of quillo_view_config (up to post_function); a smaller one is
// refused.
constexpr size_t kFirstConfigSize = offsetof(quillo_view_config, auto_reload);

constexpr double kMinScale = 0.25, kMaxScale = 8.0;
constexpr double kMinZoom = 0.25, kMaxZoom = 5.0;
constexpr int kMinFrameRate = 1, kMaxFrameRate = 240, kDefaultFrameRate = 60;
constexpr size_t kMaxFunctionName = 64;
inline constexpr char kDefaultPostFunction[] = "quilloPost";

// The host's memory for one view: width x height device pixels, rows stride bytes apart.
struct Memory {
  int width = 0;
  int height = 0;
  uint8_t* pixels = nullptr;
  size_t stride = 0;
};

struct ViewSettings {
  Memory memory;
  bool rgba = false;
  bool bottomUp = false;
  bool transparent = false;
  double scale = 1.0;
  int frameRate = kDefaultFrameRate;
  bool hidden = false;
  double zoom = 1.0;
  std::string userAgent;     // empty: the engine's own
  std::string postFunction;  // empty: none
  int autoReload = 0;        // reloads in a row after the web process ends; 0: none
};

// Reads *config into *settings. QUILLO_OK, or the error and why (for the log line) in *why.
int ReadViewConfig(const quillo_view_config* config, ViewSettings* settings, std::string* why);

// Checks width, height, pixels and stride (stride 0 means width * 4) into *memory.
int CheckMemory(int width, int height, void* pixels, size_t stride, Memory* memory,
                std::string* why);

bool ValidScale(double scale);
bool ValidZoom(double zoom);
bool ValidFrameRate(int rate);
// A script identifier of 1..kMaxFunctionName ASCII letters, digits, '_' or '$', not starting
// with a digit.
bool ValidFunctionName(const std::string& name);

}  // namespace quillo::views
