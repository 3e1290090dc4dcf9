#pragma once

#include <cstdint>

namespace tintavo {

// One pixel, 0xAARRGGBB: alpha in bits 31..24, then red, green, blue. In memory (little-endian)
// the bytes of a pixel read blue, green, red, alpha. Alpha 255 is opaque; it takes no part in
// any comparison and never shows in an output.
using TColor32 = std::uint32_t;

// The two values a mask holds: a pixel that is turned grey, and a pixel that keeps its colour.
inline constexpr TColor32 MaskGreyed = 0xFF000000u;
inline constexpr TColor32 MaskKept = 0xFFFFFFFFu;

// A pixel whose three channels are `level`, with the given alpha (both 0..255).
constexpr TColor32 GreyPixel(std::uint32_t level, std::uint32_t alpha) {
    return alpha << 24 | level << 16 | level << 8 | level;
}

constexpr std::uint32_t RedOf(TColor32 col) {
    return (col >> 16) & 0xFFu;
}
constexpr std::uint32_t GreenOf(TColor32 col) {
    return (col >> 8) & 0xFFu;
}
constexpr std::uint32_t BlueOf(TColor32 col) {
    return col & 0xFFu;
}

// Weighted brightness 0..255 (weights 61, 174, 21 out of 256, truncated). Only the mask filter
// uses it: 255 for a kept mask pixel, 0 for a greyed one.
constexpr std::uint32_t LumaOf(TColor32 col) {
    return (61u * RedOf(col) + 174u * GreenOf(col) + 21u * BlueOf(col)) >> 8;
}

// The opaque grey a pixel that is not kept turns into: the plain average of its channels
// (truncated), not the weighted brightness.
constexpr TColor32 Desaturate(TColor32 col) {
    return GreyPixel((RedOf(col) + GreenOf(col) + BlueOf(col)) / 3u, 255u);
}

} // namespace tintavo
