#include "engine/RenderPass.h"

#include <algorithm>
#include <cstdint>

namespace tintavo {

namespace {

// The values of one channel that lie within the threshold of the Central Color, as an
// interval clipped to 0..255: [Low, Low + Span] when Span is not negative. Computed in 64 bits
// since the Central Color may be any 32-bit integer.
struct ChannelRange {
    std::uint32_t Low = 0;
    std::uint32_t Span = 0;
    bool Empty = true;
};

ChannelRange RangeFor(std::int32_t centre, std::int32_t threshold) {
    const std::int64_t low = std::max<std::int64_t>(std::int64_t{centre} - threshold, 0);
    const std::int64_t high = std::min<std::int64_t>(std::int64_t{centre} + threshold, 255);
    if (threshold < 0 || low > high) {
        return {};
    }
    return {static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(high - low), false};
}

} // namespace

bool IsKept(TColor32 col, const CentralColor& cc, const Thresholds& thresholds) {
    const auto within = [](std::uint32_t value, std::int32_t centre, std::int32_t threshold) {
        const std::int64_t distance = std::int64_t{value} - centre;
        return (distance < 0 ? -distance : distance) <= threshold;
    };
    return within(RedOf(col), cc.Red, thresholds.Red) &&
           within(GreenOf(col), cc.Green, thresholds.Green) &&
           within(BlueOf(col), cc.Blue, thresholds.Blue);
}

void RenderPixels(const TBitmap32& source, const CentralColor& cc, const Thresholds& thresholds,
                  TBitmap32& render, TBitmap32& mask,
                  const std::function<void(std::int32_t row)>& onRow) {
    const std::int32_t width = source.Width();
    const std::int32_t height = source.Height();
    mask.Resize(width, height);
    render.Resize(width, height);
    if (source.IsEmpty()) {
        return;
    }
    const ChannelRange red = RangeFor(cc.Red, thresholds.Red);
    const ChannelRange green = RangeFor(cc.Green, thresholds.Green);
    const ChannelRange blue = RangeFor(cc.Blue, thresholds.Blue);
    const bool anyKept = !red.Empty && !green.Empty && !blue.Empty;
    // With an empty range nothing can be kept; a span that no unsigned difference can stay
    // under expresses that without a branch in the loop.
    const std::uint32_t redSpan = anyKept ? red.Span : 0;
    const std::uint32_t greenSpan = anyKept ? green.Span : 0;
    const std::uint32_t blueSpan = anyKept ? blue.Span : 0;
    const std::uint32_t keepAll = anyKept ? 0xFFFFFFFFu : 0u;

    for (std::int32_t y = 0; y < height; ++y) {
        if (onRow) {
            onRow(y);
        }
        const TColor32* in = source.ScanLine(y);
        TColor32* out = render.ScanLine(y);
        TColor32* keep = mask.ScanLine(y);
        for (std::int32_t x = 0; x < width; ++x) {
            const TColor32 col = in[x];
            const std::uint32_t r = RedOf(col);
            const std::uint32_t g = GreenOf(col);
            const std::uint32_t b = BlueOf(col);
            // Unsigned wrap-around turns "Low <= v <= Low + Span" into one comparison.
            const bool kept = (r - red.Low <= redSpan) & (g - green.Low <= greenSpan) &
                              (b - blue.Low <= blueSpan);
            const std::uint32_t keptBits = (0u - static_cast<std::uint32_t>(kept)) & keepAll;
            const TColor32 grey = GreyPixel((r + g + b) / 3u, 255u);
            out[x] = (col & keptBits) | (grey & ~keptBits);
            keep[x] = MaskGreyed | (keptBits & 0x00FFFFFFu);
        }
    }
}

} // namespace tintavo
