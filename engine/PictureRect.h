#pragma once

#include <cstdint>

namespace tintavo {

// A rectangle in a view's client coordinates; Right and Bottom are exclusive.
struct TRect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;
    friend bool operator==(const TRect&, const TRect&) = default;
};

// Where a view of viewWidth x viewHeight draws a picture of pictureWidth x pictureHeight when
// it scales to fit with the aspect ratio kept, in the top-left corner: the largest such
// rectangle, (0, 0, Cx, Cy). The scale ratios are single-precision; the products are rounded
// to the nearest integer, ties to even. An empty picture or an empty view gives (0, 0, 0, 0).
// Examples: 800 x 600 in 400 x 300 gives (0, 0, 400, 300); 300 x 400 gives (0, 0, 225, 300).
TRect PictureRect(std::int32_t viewWidth, std::int32_t viewHeight, std::int32_t pictureWidth,
                  std::int32_t pictureHeight);

} // namespace tintavo
