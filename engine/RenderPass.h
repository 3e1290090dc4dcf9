#pragma once

#include "engine/TBitmap32.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace tintavo {

// The Central Color as the user typed it: any 32-bit integers, not limited to 0..255. A value
// outside 0..255 takes part in the comparison unchanged.
struct CentralColor {
    std::int32_t Red = 0;
    std::int32_t Green = 0;
    std::int32_t Blue = 0;
};

// Per-channel distances, 0..255 each. A negative value keeps nothing.
struct Thresholds {
    std::int32_t Red = 0;
    std::int32_t Green = 0;
    std::int32_t Blue = 0;
};

// True when a pixel keeps its colour: every channel lies within its threshold of the Central
// Color (|R - Rc| <= tR and |G - Gc| <= tG and |B - Bc| <= tB). The kept region is a box in
// RGB space; a distance equal to the threshold counts as kept.
bool IsKept(TColor32 col, const CentralColor& cc, const Thresholds& thresholds);

// The pixel work of a render pass. Sizes `render` and `mask` to the source's size (Resize, so
// buffers already of that size keep their arrays), then for every pixel of `source`: a kept
// pixel goes to `render` unchanged (alpha included) and its mask pixel is MaskKept; any other
// pixel goes to `render` as Desaturate(col) and its mask pixel is MaskGreyed. An empty source
// visits no pixel and leaves both results empty. `source` must be neither `render` nor `mask`.
//
// A large picture is shared between the calling thread and up to hardware_concurrency() - 1
// worker threads, in chunks of rows; a small one is done on the calling thread alone. The
// result is the same either way. `onRow(y)` is called on the calling thread only, once per
// row, in row order, never per pixel: rows are reported as their chunks are taken up, so a
// reported row may not be finished yet, but every row has been reported and every pixel
// written when the function returns. If `onRow` throws, the workers stop at their next chunk
// and are joined before the exception leaves; the results are then partly written.
void RenderPixels(const TBitmap32& source, const CentralColor& cc, const Thresholds& thresholds,
                  TBitmap32& render, TBitmap32& mask,
                  const std::function<void(std::int32_t row)>& onRow = {});

// The pixel rule over `count` pixels stored one after the other (a row, or rows that follow
// each other), on the calling thread: `render` and `mask` as RenderPixels writes them. `in` may
// be `render` or `mask` itself (the rule works pixel by pixel), which lets a view render only the
// pixels it shows and a stream render its rows in place.
void RenderRow(const TColor32* in, const CentralColor& cc, const Thresholds& thresholds,
               TColor32* render, TColor32* mask, std::size_t count);

} // namespace tintavo
