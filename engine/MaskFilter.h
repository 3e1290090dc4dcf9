#pragma once

#include "engine/TBitmap32.h"

#include <cstddef>
#include <cstdint>

namespace tintavo {

// Mask clean-up. A mask holds MaskKept (white, the pixel keeps its colour) and MaskGreyed
// (black) only. Each pixel's neighbour sum S is the sum of LumaOf over its eight neighbours,
// that is 255 times the number of white neighbours. The outermost rows and columns are never
// changed but count as neighbours of the pixels beside them; a mask narrower or lower than
// three pixels is left as it is.
//
// Each pass runs until stable: it repeats until no pixel it may change qualifies any more.
// A pass only ever turns pixels one way, so its result does not depend on the order in which
// pixels are visited; it equals that of top-to-bottom, left-to-right sweeps with writes taking
// effect at once, repeated until a sweep changes nothing. The work stays linear in the
// number of pixels for every mask.
//
// Raise EngineError, leaving the mask unchanged, when it holds any other value.

// The Filter command's mask work, two passes:
// - erosion until stable: a white interior pixel with fewer than three white neighbours
//   (S < 765) turns black; removes white specks and white lines one pixel wide;
// - then fill until stable: a black interior pixel with five or more white neighbours
//   (S > 1020) turns white; fills black specks and thin black lines inside white areas; a
//   black pixel with exactly four white neighbours stays, so a checkerboard is stable.
// The erosion is not run again afterwards. Running it twice changes nothing the second time.
void FilterMask(TBitmap32& mask);

// FilterMask on a compact mask: one byte a pixel, 255 for white and 0 for black (no other
// value), `width` x `height` row-major. The result is the same, pixel for pixel.
void FilterMaskBytes(std::uint8_t* mask, std::int32_t width, std::int32_t height);

// RecomposePicture over `count` pixels with a compact mask (FilterMaskBytes' form): where
// `keep` is 0, `out` gets Desaturate(col), elsewhere col unchanged. `out` may be `in`.
void RecomposeRow(const TColor32* in, const std::uint8_t* keep, TColor32* out, std::size_t count);

// Rebuilds the rendered picture from the picture as read and a mask of the same size: where
// the mask is MaskGreyed, `render` gets Desaturate(col), elsewhere col unchanged. `render` is
// sized to the mask first. Raises EngineError when source and mask differ in size.
void RecomposePicture(const TBitmap32& source, const TBitmap32& mask, TBitmap32& render);

} // namespace tintavo
