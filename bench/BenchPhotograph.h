#pragma once

#include "engine/TBitmap32.h"

#include <cstdint>
#include <filesystem>

// The generated 24-megapixel photograph-like picture the benchmarks measure against: sky and
// ground gradients, detail at many scales, soft-edged subjects of saturated colour (the main
// one of colour 200, 40, 30) and sensor noise, encoded once per build folder at a camera's
// bits per pixel so that it costs what a photograph costs to decode.
namespace tintavo::bench {

inline constexpr std::int32_t PhotoWidth = 6000;
inline constexpr std::int32_t PhotoHeight = 4000;

TBitmap32 MakePhotograph();

// The JPEG file of the photograph in `folder`, made when missing.
std::filesystem::path PhotographFile(const std::filesystem::path& folder);

} // namespace tintavo::bench
