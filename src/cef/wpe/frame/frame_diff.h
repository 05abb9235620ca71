// Finds what changed between two frames of the same size, so that a paint
// copies only that. Pure function, any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "cef_types.h"

namespace quillo::engine {

// Compares cur with prev (both width x height pixels of 4 bytes, rows
// `stride` bytes apart) and appends to rects one rectangle per run of changed
// rows, spanning from the leftmost to the rightmost changed pixel of the run.
// Appends nothing when the frames are equal.
void DiffFrames(const uint8_t* prev, const uint8_t* cur, int width, int height, int stride,
                std::vector<CefRect>& rects);

}  // namespace quillo::engine
