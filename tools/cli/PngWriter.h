#pragma once

#include "engine/TBitmap32.h"

#include <cstdio>

namespace tintavo::cli {

// Writes the picture as an 8-bit PNG: RGB, or one grey channel (the red one) when `grey` is
// set, as for a mask. Alpha is dropped. Raises std::runtime_error with libpng's reason.
void WritePng(const TBitmap32& picture, std::FILE* file, bool grey);

} // namespace tintavo::cli
