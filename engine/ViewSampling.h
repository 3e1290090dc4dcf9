#pragma once

#include "engine/RenderPass.h"
#include "engine/TBitmap32.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tintavo {

// Which picture pixel each pixel of a view's buffer shows: output column i shows picture
// column Columns[i], output row j picture row Rows[j]. Every index lies inside the picture
// it was made for; the samplers below check that against the buffers they read and give an
// empty result rather than read outside them.
struct ViewSampling {
    std::int32_t PictureWidth = 0;
    std::int32_t PictureHeight = 0;
    std::vector<std::int32_t> Columns;
    std::vector<std::int32_t> Rows;
};

// The nearest-neighbour mapping of a picture of pictureWidth x pictureHeight onto a buffer of
// outWidth x outHeight: column i shows i * pictureWidth div outWidth, row j shows
// j * pictureHeight div outHeight. At one device pixel per view pixel this is the colour
// probe's own mapping (px = X * PictureWidth div PictureRect.Right), so what a pointer points
// at is what is drawn under it. An empty picture or output gives an empty mapping.
ViewSampling FitSampling(std::int32_t pictureWidth, std::int32_t pictureHeight,
                         std::int32_t outWidth, std::int32_t outHeight);

// An arbitrary nearest-neighbour mapping: output column i shows floor(originX + (i + 0.5) /
// scaleX) (and the same for rows), clamped to the picture. Used by views that zoom and pan.
ViewSampling ScaledSampling(std::int32_t pictureWidth, std::int32_t pictureHeight,
                            std::int32_t outWidth, std::int32_t outHeight, double originX,
                            double originY, double scale);

// `out` becomes the mapping's size and gets the sampled pixels of `picture`.
void SamplePicture(const TBitmap32& picture, const ViewSampling& sampling, TBitmap32& out);

// What the render pass would give at the sampled pixels, without rendering the rest: the
// rendered picture, or the mask when `mask` is set. Identical to sampling the full results.
void SampleRender(const TBitmap32& source, const CentralColor& cc, const Thresholds& thresholds,
                  bool mask, const ViewSampling& sampling, TBitmap32& out);
// The same from the sampled source pixels (SamplePicture's result for the mapping).
void RenderSampled(const TBitmap32& sampled, const CentralColor& cc, const Thresholds& thresholds,
                   bool mask, TBitmap32& out);

// The same for results recomposed from a full mask (after the filter): the mask itself when
// `showMask` is set, else the source greyed where the mask is MaskGreyed.
void SampleRecomposed(const TBitmap32& source, const TBitmap32& fullMask, bool showMask,
                      const ViewSampling& sampling, TBitmap32& out);

// A smooth reduction: every factor x factor block of `in` averaged, per channel, rounding to
// nearest, into one pixel of `out` (in's size divided by factor, truncating).
void BoxReduce(const TBitmap32& in, std::int32_t factor, TBitmap32& out);

} // namespace tintavo
