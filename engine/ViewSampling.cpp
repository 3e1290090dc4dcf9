#include "engine/ViewSampling.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace tintavo {

namespace {

bool Covers(const TBitmap32& picture, const ViewSampling& sampling) {
    return !sampling.Columns.empty() && !sampling.Rows.empty() &&
           picture.Width() == sampling.PictureWidth && picture.Height() == sampling.PictureHeight;
}

// Sizes `out` to the mapping and fills it from `picture`; an empty result when the mapping
// was made for another picture.
bool GatherInto(const TBitmap32& picture, const ViewSampling& sampling, TBitmap32& out) {
    if (!Covers(picture, sampling)) {
        out.Resize(0, 0);
        return false;
    }
    out.Resize(static_cast<std::int32_t>(sampling.Columns.size()),
               static_cast<std::int32_t>(sampling.Rows.size()));
    for (std::int32_t j = 0; j < out.Height(); ++j) {
        const TColor32* in = picture.ScanLine(sampling.Rows[static_cast<std::size_t>(j)]);
        TColor32* row = out.ScanLine(j);
        for (std::size_t i = 0; i < sampling.Columns.size(); ++i) {
            row[i] = in[sampling.Columns[i]];
        }
    }
    return true;
}

std::vector<std::int32_t> FitIndices(std::int32_t picture, std::int32_t out) {
    std::vector<std::int32_t> indices(static_cast<std::size_t>(out));
    for (std::int32_t i = 0; i < out; ++i) {
        indices[static_cast<std::size_t>(i)] =
            static_cast<std::int32_t>(std::int64_t{i} * picture / out);
    }
    return indices;
}

std::vector<std::int32_t> ScaledIndices(std::int32_t picture, std::int32_t out, double origin,
                                        double scale) {
    std::vector<std::int32_t> indices(static_cast<std::size_t>(out));
    for (std::int32_t i = 0; i < out; ++i) {
        const double at = std::floor(origin + (i + 0.5) / scale);
        indices[static_cast<std::size_t>(i)] =
            static_cast<std::int32_t>(std::clamp(at, 0.0, static_cast<double>(picture - 1)));
    }
    return indices;
}

} // namespace

ViewSampling FitSampling(std::int32_t pictureWidth, std::int32_t pictureHeight,
                         std::int32_t outWidth, std::int32_t outHeight) {
    if (pictureWidth <= 0 || pictureHeight <= 0 || outWidth <= 0 || outHeight <= 0) {
        return {};
    }
    return {pictureWidth, pictureHeight, FitIndices(pictureWidth, outWidth),
            FitIndices(pictureHeight, outHeight)};
}

ViewSampling ScaledSampling(std::int32_t pictureWidth, std::int32_t pictureHeight,
                            std::int32_t outWidth, std::int32_t outHeight, double originX,
                            double originY, double scale) {
    if (pictureWidth <= 0 || pictureHeight <= 0 || outWidth <= 0 || outHeight <= 0 ||
        !(scale > 0)) {
        return {};
    }
    return {pictureWidth, pictureHeight, ScaledIndices(pictureWidth, outWidth, originX, scale),
            ScaledIndices(pictureHeight, outHeight, originY, scale)};
}

void SamplePicture(const TBitmap32& picture, const ViewSampling& sampling, TBitmap32& out) {
    GatherInto(picture, sampling, out);
    out.Changed();
}

void RenderSampled(const TBitmap32& sampled, const CentralColor& cc, const Thresholds& thresholds,
                   bool mask, TBitmap32& out) {
    out.Resize(sampled.Width(), sampled.Height());
    std::vector<TColor32> other(static_cast<std::size_t>(out.Width()));
    for (std::int32_t j = 0; j < out.Height(); ++j) {
        TColor32* row = out.ScanLine(j);
        if (mask) {
            RenderRow(sampled.ScanLine(j), cc, thresholds, other.data(), row, other.size());
        } else {
            RenderRow(sampled.ScanLine(j), cc, thresholds, row, other.data(), other.size());
        }
    }
    out.Changed();
}

void SampleRender(const TBitmap32& source, const CentralColor& cc, const Thresholds& thresholds,
                  bool mask, const ViewSampling& sampling, TBitmap32& out) {
    if (GatherInto(source, sampling, out)) {
        // The pixel rule works pixel by pixel, so it runs in place on the gathered pixels.
        std::vector<TColor32> other(static_cast<std::size_t>(out.Width()));
        for (std::int32_t j = 0; j < out.Height(); ++j) {
            TColor32* row = out.ScanLine(j);
            if (mask) {
                RenderRow(row, cc, thresholds, other.data(), row, other.size());
            } else {
                RenderRow(row, cc, thresholds, row, other.data(), other.size());
            }
        }
    }
    out.Changed();
}

void SampleRecomposed(const TBitmap32& source, const TBitmap32& fullMask, bool showMask,
                      const ViewSampling& sampling, TBitmap32& out) {
    if (!Covers(fullMask, sampling) || !GatherInto(source, sampling, out)) {
        out.Resize(0, 0);
        out.Changed();
        return;
    }
    for (std::int32_t j = 0; j < out.Height(); ++j) {
        const TColor32* keep = fullMask.ScanLine(sampling.Rows[static_cast<std::size_t>(j)]);
        TColor32* row = out.ScanLine(j);
        for (std::size_t i = 0; i < sampling.Columns.size(); ++i) {
            const TColor32 m = keep[sampling.Columns[i]];
            row[i] = showMask ? m : (m == MaskGreyed ? Desaturate(row[i]) : row[i]);
        }
    }
    out.Changed();
}

void BoxReduce(const TBitmap32& in, std::int32_t factor, TBitmap32& out) {
    factor = std::max(factor, 1);
    out.Resize(in.Width() / factor, in.Height() / factor);
    const std::uint32_t count = static_cast<std::uint32_t>(factor * factor);
    for (std::int32_t y = 0; y < out.Height(); ++y) {
        TColor32* row = out.ScanLine(y);
        for (std::int32_t x = 0; x < out.Width(); ++x) {
            std::uint32_t r = 0;
            std::uint32_t g = 0;
            std::uint32_t b = 0;
            for (std::int32_t dy = 0; dy < factor; ++dy) {
                const TColor32* src = in.ScanLine(y * factor + dy) + x * factor;
                for (std::int32_t dx = 0; dx < factor; ++dx) {
                    r += RedOf(src[dx]);
                    g += GreenOf(src[dx]);
                    b += BlueOf(src[dx]);
                }
            }
            row[x] = 0xFF000000u | ((r + count / 2) / count) << 16 |
                     ((g + count / 2) / count) << 8 | ((b + count / 2) / count);
        }
    }
    out.Changed();
}

} // namespace tintavo
