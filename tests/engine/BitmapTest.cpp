#include "engine/EngineError.h"
#include "engine/PictureRect.h"
#include "engine/TBitmap32.h"
#include "engine/TColor32.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace tintavo {
namespace {

TEST(ColourOperations, LumaWeightsAddUpToFullScale) {
    EXPECT_EQ(LumaOf(0xFFFFFFFFu), 255u);
    EXPECT_EQ(LumaOf(0xFF000000u), 0u);
    EXPECT_EQ(LumaOf(0xFFFF0000u), 60u);
    EXPECT_EQ(LumaOf(0xFF00FF00u), 173u);
    EXPECT_EQ(LumaOf(0xFF0000FFu), 20u);
    EXPECT_EQ(LumaOf(0xFF808080u), 128u);
    EXPECT_EQ(LumaOf(0x00FFFFFFu), 255u) << "alpha takes no part";
}

TEST(ColourOperations, GreyPixelAndChannels) {
    EXPECT_EQ(GreyPixel(0, 255), 0xFF000000u);
    EXPECT_EQ(GreyPixel(255, 255), 0xFFFFFFFFu);
    EXPECT_EQ(GreyPixel(128, 255), 0xFF808080u);
    EXPECT_EQ(GreyPixel(7, 0), 0x00070707u);
    EXPECT_EQ(RedOf(0x80123456u), 0x12u);
    EXPECT_EQ(GreenOf(0x80123456u), 0x34u);
    EXPECT_EQ(BlueOf(0x80123456u), 0x56u);
}

TEST(ColourOperations, DesaturateIsThePlainAverageTruncated) {
    EXPECT_EQ(Desaturate(0xFF0A0A0Bu), 0xFF0A0A0Au);
    EXPECT_EQ(Desaturate(0xFFFFFFFEu), 0xFFFEFEFEu);
    EXPECT_EQ(Desaturate(0x00FF0000u), 0xFF555555u) << "always opaque";
}

TEST(Bitmap, ResizeKeepsPixelsOnlyWhenTheSizeStays) {
    TBitmap32 bitmap;
    EXPECT_TRUE(bitmap.IsEmpty());
    EXPECT_EQ(bitmap.Bits(), nullptr);
    bitmap.Resize(3, 2);
    for (int i = 0; i < 6; ++i) {
        bitmap.Bits()[i] = static_cast<TColor32>(i);
    }
    bitmap.Resize(3, 2);
    EXPECT_EQ(bitmap.PixelAt(2, 1), 5u);
    EXPECT_EQ(bitmap.PixelAt(0, 1), 3u);

    bitmap.Resize(-5, 3);
    EXPECT_EQ(bitmap.Width(), 0);
    EXPECT_EQ(bitmap.Height(), 3);
    EXPECT_TRUE(bitmap.IsEmpty());
    EXPECT_EQ(bitmap.Bits(), nullptr);

    bitmap.SetWidth(4); // width first, then height, as the render pass sizes its buffers
    EXPECT_EQ(bitmap.Width(), 4);
    EXPECT_EQ(bitmap.Height(), 3);
    bitmap.SetPixelAt(3, 2, 0xFF010203u);
    EXPECT_EQ(bitmap.ScanLine(2)[3], 0xFF010203u);
}

TEST(Bitmap, ImpossibleSizeFailsAndLeavesTheBufferEmpty) {
    TBitmap32 bitmap;
    bitmap.Resize(10, 10);
    int changes = 0;
    bitmap.SetOnChange([&changes] { ++changes; });
    try {
        bitmap.Resize(65500, 65500);
        FAIL() << "expected an allocation error";
    } catch (const EngineError& error) {
        EXPECT_STREQ(error.what(), "Can't allocate the DIB handle");
    }
    EXPECT_EQ(bitmap.Width(), 0);
    EXPECT_EQ(bitmap.Height(), 0);
    EXPECT_EQ(bitmap.Bits(), nullptr);
    EXPECT_GE(changes, 1) << "the view must learn that its buffer emptied";
}

TEST(Bitmap, CopyFromMakesAnIndependentCopy) {
    TBitmap32 source;
    source.Resize(2, 2);
    std::fill_n(source.Bits(), 4, 0xFF112233u);
    TBitmap32 copy;
    copy.CopyFrom(&source);
    ASSERT_EQ(copy.Width(), 2);
    ASSERT_EQ(copy.Height(), 2);
    source.SetPixelAt(1, 1, 0xFF000000u);
    EXPECT_EQ(copy.PixelAt(1, 1), 0xFF112233u);

    copy.CopyFrom(&copy);
    EXPECT_EQ(copy.PixelAt(0, 0), 0xFF112233u);
    copy.CopyFrom(nullptr);
    EXPECT_EQ(copy.Width(), 0);
    EXPECT_EQ(copy.Height(), 0);
}

TEST(Bitmap, NotifiesOnResizeAndCopyButNotOnPixelWrites) {
    TBitmap32 source;
    source.Resize(2, 1);
    TBitmap32 view;
    int changes = 0;
    view.SetOnChange([&changes] { ++changes; });
    view.Resize(2, 1);
    EXPECT_EQ(changes, 1);
    view.Resize(2, 1);
    EXPECT_EQ(changes, 1) << "same size: nothing happens";
    view.SetPixelAt(0, 0, 0);
    EXPECT_EQ(changes, 1);
    view.CopyFrom(&source);
    EXPECT_GE(changes, 2);
}

TEST(PictureRect, FitsThePictureInTheTopLeftCorner) {
    struct Case {
        std::int32_t w, h;
        TRect expected;
    };
    const Case cases[] = {
        {800, 600, {0, 0, 400, 300}}, {100, 100, {0, 0, 300, 300}},   {300, 400, {0, 0, 225, 300}},
        {1000, 200, {0, 0, 400, 80}}, {1920, 1080, {0, 0, 400, 225}}, {3, 2, {0, 0, 400, 267}},
        {1, 1, {0, 0, 300, 300}},     {0, 5, {0, 0, 0, 0}},           {5, 0, {0, 0, 0, 0}},
        {100000, 1, {0, 0, 400, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
        const TRect r = PictureRect(400, 300, c.w, c.h);
        EXPECT_EQ(r, c.expected) << r.Right << " x " << r.Bottom;
    }
    EXPECT_EQ(PictureRect(0, 300, 10, 10), TRect{});
}

TEST(PictureRect, TiesGoToEven) {
    // 4 x 8 in 10 x 3: ry = 0.375 exactly, Cx = 4 * 0.375 = 1.5 -> 2.
    EXPECT_EQ(PictureRect(10, 3, 4, 8), (TRect{0, 0, 2, 3}));
    // 5 x 2 in 1 x 1: rx = 0.2 < ry = 0.5, Cy = 2 * 0.2 = 0.4 -> 0.
    EXPECT_EQ(PictureRect(1, 1, 5, 2), (TRect{0, 0, 1, 0}));
    // 2 x 4 in 10 x 1: ry = 0.25, Cx = 2 * 0.25 = 0.5 -> 0 (ties to even).
    EXPECT_EQ(PictureRect(10, 1, 2, 4), (TRect{0, 0, 0, 1}));
    // 10 x 4 in 10 x 1: Cx = 10 * 0.25 = 2.5 -> 2.
    EXPECT_EQ(PictureRect(10, 1, 10, 4), (TRect{0, 0, 2, 1}));
}

} // namespace
} // namespace tintavo
