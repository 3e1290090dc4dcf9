#pragma once

#include "engine/TBitmap32.h"

#include <cstdint>
#include <vector>

namespace tintavo {

enum class BrushMode { Keep, Grey };

// Touch-up strokes laid over a computed selection: per pixel an amount a (0 = untouched, 255 =
// fully painted) and a target coverage v (255 = keep, 0 = grey, between where soft strokes of
// both kinds overlap). The overlay lives as long as the picture it was painted on: the window
// keeps it across renders and resets it on the next load.
class BrushOverlay {
public:
    BrushOverlay() = default;

    // An empty overlay of the picture's size (0 x 0 is allowed and holds nothing). Raises
    // EngineError "Can't allocate the DIB handle" when the memory cannot be had.
    void Reset(std::int32_t width, std::int32_t height);
    // Removes every stroke, keeping the size.
    void Clear();

    std::int32_t Width() const { return width_; }
    std::int32_t Height() const { return height_; }
    // True while no pixel has been painted.
    bool IsEmpty() const { return !painted_; }

    // Paints a disc centred on (cx, cy) in picture pixels (pixel (x, y) has its centre at
    // (x, y)). A pixel at distance d from the centre is painted with strength 255 when
    // d <= radius - softness, 0 when d >= radius, and round(255 * (radius - d) / softness)
    // between. It goes over what lies there: with s that strength,
    // a' = (255 s + a (255 - s) + 127) / 255 and v' the weighted mean of the target and v by
    // 255 s and a (255 - s), rounded. Pixels outside the picture are skipped. Raises
    // EngineError for a radius not in (0, 10000], a softness not in [0, radius], or a centre
    // that is not finite.
    void PaintDisc(double cx, double cy, double radius, double softness, BrushMode mode);

    // Lays the strokes over a coverage mask of the overlay's size:
    // coverage' = (coverage * (255 - a) + v * a + 127) / 255. Raises EngineError when the
    // sizes differ.
    void ApplyTo(TBitmap32& coverage) const;

    // One pixel of ApplyTo: the coverage (0..255) at (x, y) with the strokes laid over it.
    std::uint32_t Over(std::int32_t x, std::int32_t y, std::uint32_t coverage) const {
        const std::size_t i = Index(x, y);
        return Blend(amount_[i], target_[i], coverage);
    }

    std::uint8_t AmountAt(std::int32_t x, std::int32_t y) const { return amount_[Index(x, y)]; }
    std::uint8_t TargetAt(std::int32_t x, std::int32_t y) const { return target_[Index(x, y)]; }

private:
    static std::uint32_t Blend(std::uint32_t a, std::uint32_t v, std::uint32_t coverage) {
        return (coverage * (255u - a) + v * a + 127u) / 255u;
    }
    std::size_t Index(std::int32_t x, std::int32_t y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
               static_cast<std::size_t>(x);
    }

    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    bool painted_ = false;
    std::vector<std::uint8_t> amount_;
    std::vector<std::uint8_t> target_;
};

} // namespace tintavo
