#include "engine/BrushOverlay.h"

#include "engine/EngineError.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace tintavo {

namespace {

constexpr double MaxRadius = 10000.0;

} // namespace

void BrushOverlay::Reset(std::int32_t width, std::int32_t height) {
    width_ = 0;
    height_ = 0;
    painted_ = false;
    amount_.clear();
    target_.clear();
    const std::int32_t w = std::max(width, 0);
    const std::int32_t h = std::max(height, 0);
    const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    try {
        amount_.assign(count, 0);
        target_.assign(count, 0);
    } catch (const std::bad_alloc&) {
        amount_.clear();
        target_.clear();
        throw EngineError("Can't allocate the DIB handle");
    }
    width_ = w;
    height_ = h;
}

void BrushOverlay::Clear() {
    std::fill(amount_.begin(), amount_.end(), std::uint8_t{0});
    std::fill(target_.begin(), target_.end(), std::uint8_t{0});
    painted_ = false;
}

void BrushOverlay::PaintDisc(double cx, double cy, double radius, double softness, BrushMode mode) {
    if (!std::isfinite(cx) || !std::isfinite(cy)) {
        throw EngineError("The brush centre must be a finite point");
    }
    if (!(radius > 0.0 && radius <= MaxRadius)) {
        throw EngineError("The brush radius must be above 0 and at most 10000 pixels");
    }
    if (!(softness >= 0.0 && softness <= radius)) {
        throw EngineError("The brush softness must be 0 to the brush radius");
    }
    if (width_ == 0 || height_ == 0) {
        return;
    }
    const std::uint32_t target = mode == BrushMode::Keep ? 255u : 0u;
    const double solid = radius - softness;
    const auto clampTo = [](double v, std::int32_t size) {
        return static_cast<std::int32_t>(std::clamp(v, 0.0, static_cast<double>(size - 1)));
    };
    if (cx + radius < 0 || cy + radius < 0 || cx - radius > width_ - 1 ||
        cy - radius > height_ - 1) {
        return;
    }
    const std::int32_t x0 = clampTo(std::floor(cx - radius), width_);
    const std::int32_t x1 = clampTo(std::ceil(cx + radius), width_);
    const std::int32_t y0 = clampTo(std::floor(cy - radius), height_);
    const std::int32_t y1 = clampTo(std::ceil(cy + radius), height_);
    for (std::int32_t y = y0; y <= y1; ++y) {
        for (std::int32_t x = x0; x <= x1; ++x) {
            const double d = std::hypot(x - cx, y - cy);
            std::uint32_t s = 0;
            if (d <= solid) {
                s = 255;
            } else if (d < radius) {
                s = static_cast<std::uint32_t>(std::floor(255.0 * (radius - d) / softness + 0.5));
            }
            if (s == 0) {
                continue;
            }
            const std::size_t i = Index(x, y);
            const std::uint32_t a = amount_[i];
            const std::uint32_t v = target_[i];
            const std::uint32_t newWeight = 255u * s;
            const std::uint32_t oldWeight = a * (255u - s);
            const std::uint32_t total = newWeight + oldWeight;
            amount_[i] = static_cast<std::uint8_t>((total + 127u) / 255u);
            target_[i] =
                static_cast<std::uint8_t>((target * newWeight + v * oldWeight + total / 2) / total);
            painted_ = true;
        }
    }
}

void BrushOverlay::ApplyTo(TBitmap32& coverage) const {
    if (coverage.Width() != width_ || coverage.Height() != height_) {
        throw EngineError("The brush strokes and the mask differ in size");
    }
    if (!painted_) {
        return;
    }
    TColor32* m = coverage.Bits();
    const std::size_t count = amount_.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t a = amount_[i];
        if (a != 0) {
            m[i] = GreyPixel(Blend(a, target_[i], BlueOf(m[i])), 255u);
        }
    }
}

} // namespace tintavo
