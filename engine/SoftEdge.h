#pragma once

#include "engine/TBitmap32.h"

#include <atomic>
#include <cstdint>

namespace tintavo {

// Softens a hard mask (MaskKept / MaskGreyed only) in place into a coverage mask
// (GreyPixel(coverage, 255)) with an edge `width` pixels wide, 0 to 50; 0 leaves it as it is.
//
// Each pixel's exact Euclidean distance d to the nearest pixel of the other kind (centre to
// centre) places it on a ramp across the edge: a kept pixel gets
// coverage = round(255 * clamp(0.5 + (d - 0.5) / (2 * width), 0, 1)), rounded half up, and a
// greyed pixel 255 minus what a kept pixel at the same distance gets. The edge lies half way
// between a pixel and its neighbour of the other kind, so d - 0.5 is the distance to the edge:
// only pixels closer than `width` to it change, the two sides of an edge mirror each other,
// and a pixel with no other kind nearby keeps 0 or 255. The distances come from a separable exact
// distance transform whose work does not depend on the width.
//
// Raises EngineError, leaving the mask unchanged, for a width out of range or a mask holding
// other values.
//
// When `cancel` (read from any thread) turns true the work stops at the next strip or chunk of
// rows and the mask's content is unspecified: the caller throws it away.
void SoftenMask(TBitmap32& mask, std::int32_t width, const std::atomic<bool>* cancel = nullptr);

} // namespace tintavo
