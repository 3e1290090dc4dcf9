#include "engine/PictureRect.h"

#include <cmath>

namespace tintavo {

namespace {

// Products go to the nearest integer with ties to even, the default rounding mode.
std::int32_t RoundedSide(std::int32_t side, float ratio) {
    const double product = static_cast<double>(side) * static_cast<double>(ratio);
    const double rounded = std::nearbyint(product);
    return rounded < 1.0 ? 0 : static_cast<std::int32_t>(rounded);
}

} // namespace

TRect PictureRect(std::int32_t viewWidth, std::int32_t viewHeight, std::int32_t pictureWidth,
                  std::int32_t pictureHeight) {
    if (pictureWidth <= 0 || pictureHeight <= 0 || viewWidth <= 0 || viewHeight <= 0) {
        return {};
    }
    const float rx = static_cast<float>(viewWidth) / static_cast<float>(pictureWidth);
    const float ry = static_cast<float>(viewHeight) / static_cast<float>(pictureHeight);
    if (rx >= ry) {
        return {0, 0, RoundedSide(pictureWidth, ry), viewHeight};
    }
    return {0, 0, viewWidth, RoundedSide(pictureHeight, rx)};
}

} // namespace tintavo
