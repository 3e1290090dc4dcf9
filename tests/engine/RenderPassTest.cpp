#include "engine/RenderPass.h"

#include "TestPictures.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tintavo {
namespace {

TColor32 Rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a = 255) {
    return a << 24 | r << 16 | g << 8 | b;
}

struct Rendered {
    TBitmap32 render;
    TBitmap32 mask;
};

Rendered RenderOne(TColor32 col, CentralColor cc, Thresholds t) {
    TBitmap32 source = test::MakeFilled(1, 1, col);
    Rendered out;
    RenderPixels(source, cc, t, out.render, out.mask);
    return out;
}

TEST(RenderPass, KeepsPixelsInsideTheBoxAndGreysTheRest) {
    const CentralColor cc{100, 150, 200};
    const Thresholds t{10, 10, 10};
    const Rendered kept = RenderOne(Rgb(110, 140, 210, 0x7F), cc, t);
    EXPECT_EQ(kept.render.PixelAt(0, 0), Rgb(110, 140, 210, 0x7F)) << "alpha kept as well";
    EXPECT_EQ(kept.mask.PixelAt(0, 0), MaskKept);

    const Rendered greyed = RenderOne(Rgb(111, 150, 200), cc, t);
    EXPECT_EQ(greyed.render.PixelAt(0, 0), GreyPixel(153, 255));
    EXPECT_EQ(greyed.mask.PixelAt(0, 0), MaskGreyed);
}

TEST(RenderPass, ThresholdsAreInclusivePerChannel) {
    EXPECT_EQ(RenderOne(Rgb(5, 6, 7), {5, 6, 7}, {0, 0, 0}).mask.PixelAt(0, 0), MaskKept);
    EXPECT_EQ(RenderOne(Rgb(5, 6, 8), {5, 6, 7}, {0, 0, 0}).mask.PixelAt(0, 0), MaskGreyed);
    EXPECT_EQ(RenderOne(Rgb(0, 255, 0), {255, 0, 255}, {255, 255, 255}).mask.PixelAt(0, 0),
              MaskKept);
    // A box, not a sum of distances: each channel alone decides.
    EXPECT_EQ(RenderOne(Rgb(140, 60, 40), {100, 100, 100}, {40, 40, 60}).mask.PixelAt(0, 0),
              MaskKept);
    EXPECT_EQ(RenderOne(Rgb(141, 100, 100), {100, 100, 100}, {40, 255, 255}).mask.PixelAt(0, 0),
              MaskGreyed);
}

TEST(RenderPass, CentralColourOutsideTheChannelRange) {
    for (std::uint32_t r = 0; r < 256; r += 15) {
        EXPECT_EQ(RenderOne(Rgb(r, 0, 0), {300, 0, 0}, {40, 255, 255}).mask.PixelAt(0, 0),
                  MaskGreyed);
    }
    EXPECT_EQ(RenderOne(Rgb(255, 0, 0), {295, 0, 0}, {40, 0, 0}).mask.PixelAt(0, 0), MaskKept);
    // The extremes of 32-bit integers must neither wrap around nor keep anything.
    EXPECT_EQ(RenderOne(Rgb(0, 0, 0), {INT_MIN, 0, 0}, {255, 255, 255}).mask.PixelAt(0, 0),
              MaskGreyed);
    EXPECT_EQ(RenderOne(Rgb(255, 0, 0), {INT_MAX, 0, 0}, {255, 255, 255}).mask.PixelAt(0, 0),
              MaskGreyed);
    EXPECT_EQ(RenderOne(Rgb(9, 9, 9), {-1, 9, 9}, {10, 0, 0}).mask.PixelAt(0, 0), MaskKept);
}

// The whole picture against the rule applied pixel by pixel.
TEST(RenderPass, MatchesThePixelRuleOnAPhotograph) {
    const TBitmap32 photo = test::MakePhoto(61, 47, 7);
    test::TestRandom random(3);
    for (int round = 0; round < 20; ++round) {
        const CentralColor cc{static_cast<std::int32_t>(random.Below(300)) - 20,
                              static_cast<std::int32_t>(random.Below(256)),
                              static_cast<std::int32_t>(random.Below(256))};
        const Thresholds t{static_cast<std::int32_t>(random.Below(256)),
                           static_cast<std::int32_t>(random.Below(120)),
                           static_cast<std::int32_t>(random.Below(256))};
        Rendered out;
        std::vector<std::int32_t> rows;
        RenderPixels(photo, cc, t, out.render, out.mask,
                     [&rows](std::int32_t y) { rows.push_back(y); });
        ASSERT_EQ(rows.size(), 47u);
        for (std::int32_t y = 0; y < 47; ++y) {
            ASSERT_EQ(rows[static_cast<std::size_t>(y)], y);
            for (std::int32_t x = 0; x < 61; ++x) {
                const TColor32 col = photo.PixelAt(x, y);
                const bool kept = std::abs(static_cast<int>(RedOf(col)) - cc.Red) <= t.Red &&
                                  std::abs(static_cast<int>(GreenOf(col)) - cc.Green) <= t.Green &&
                                  std::abs(static_cast<int>(BlueOf(col)) - cc.Blue) <= t.Blue;
                ASSERT_EQ(IsKept(col, cc, t), kept);
                ASSERT_EQ(out.render.PixelAt(x, y), kept ? col : Desaturate(col));
                ASSERT_EQ(out.mask.PixelAt(x, y), kept ? MaskKept : MaskGreyed);
            }
        }
    }
}

// Every channel value and every channel sum, at every position within a row, against the rule
// applied one pixel at a time.
TEST(RenderPass, MatchesThePixelRuleForEveryChannelValue) {
    TBitmap32 colours;
    colours.Resize(4099, 17);
    for (std::size_t i = 0; i < colours.PixelCount(); ++i) {
        const auto v = static_cast<std::uint32_t>(i);
        colours.Bits()[i] = (v * 13) << 24 | (v & 0xFF) << 16 | ((v >> 8) & 0xFF) << 8 |
                            ((v * 37 + (v >> 16)) & 0xFF);
    }
    const std::pair<CentralColor, Thresholds> settings[] = {
        {{100, 150, 200}, {40, 60, 80}}, {{0, 0, 0}, {255, 255, 255}},
        {{300, 0, 0}, {40, 255, 255}},   {{-7, 255, 128}, {10, 0, 127}},
        {{5, 5, 5}, {-1, 255, 255}},
    };
    for (const auto& [cc, t] : settings) {
        Rendered out;
        RenderPixels(colours, cc, t, out.render, out.mask);
        for (std::size_t i = 0; i < colours.PixelCount(); ++i) {
            const TColor32 col = colours.Bits()[i];
            const bool kept = IsKept(col, cc, t);
            ASSERT_EQ(out.render.Bits()[i], kept ? col : Desaturate(col)) << i;
            ASSERT_EQ(out.mask.Bits()[i], kept ? MaskKept : MaskGreyed) << i;
        }
    }
}

TEST(RenderPass, FullThresholdsGiveTheSourceAndAWhiteMask) {
    const TBitmap32 photo = test::MakePhoto(20, 10);
    Rendered out;
    RenderPixels(photo, {128, 128, 128}, {255, 255, 255}, out.render, out.mask);
    for (std::size_t i = 0; i < photo.PixelCount(); ++i) {
        ASSERT_EQ(out.render.Bits()[i], photo.Bits()[i]);
        ASSERT_EQ(out.mask.Bits()[i], MaskKept);
    }
}

TEST(RenderPass, TinyAndEmptyPictures) {
    Rendered out;
    std::vector<std::int32_t> rows;
    const auto record = [&rows](std::int32_t y) { rows.push_back(y); };
    RenderPixels(test::MakeFilled(1, 1, Rgb(1, 2, 3)), {}, {}, out.render, out.mask, record);
    EXPECT_EQ(rows, std::vector<std::int32_t>{0});

    rows.clear();
    TBitmap32 empty;
    empty.Resize(0, 4);
    RenderPixels(empty, {}, {}, out.render, out.mask, record);
    EXPECT_TRUE(rows.empty());
    EXPECT_TRUE(out.render.IsEmpty());
    EXPECT_TRUE(out.mask.IsEmpty());
}

// Large enough to be shared among threads: the result is still the rule pixel by pixel, and
// the progress comes on the calling thread, every row once, in order.
TEST(RenderPass, LargePictureMatchesTheRuleAndReportsRowsInOrder) {
    const TBitmap32 photo = test::MakePhoto(1531, 419, 11);
    const CentralColor cc{140, 110, 90};
    const Thresholds t{60, 50, 70};
    const auto caller = std::this_thread::get_id();
    Rendered out;
    for (int pass = 0; pass < 2; ++pass) { // the second pass reuses the buffers
        std::vector<std::int32_t> rows;
        bool otherThread = false;
        RenderPixels(photo, cc, t, out.render, out.mask, [&](std::int32_t y) {
            otherThread = otherThread || std::this_thread::get_id() != caller;
            rows.push_back(y);
        });
        EXPECT_FALSE(otherThread);
        ASSERT_EQ(rows.size(), 419u);
        for (std::size_t y = 0; y < rows.size(); ++y) {
            ASSERT_EQ(rows[y], static_cast<std::int32_t>(y));
        }
        std::size_t kept = 0;
        for (std::size_t i = 0; i < photo.PixelCount(); ++i) {
            const TColor32 col = photo.Bits()[i];
            const bool keep = IsKept(col, cc, t);
            kept += keep ? 1 : 0;
            ASSERT_EQ(out.render.Bits()[i], keep ? col : Desaturate(col)) << i;
            ASSERT_EQ(out.mask.Bits()[i], keep ? MaskKept : MaskGreyed) << i;
        }
        EXPECT_GT(kept, 0u) << "the settings should keep part of the picture";
        EXPECT_LT(kept, photo.PixelCount());
    }
}

// A progress callback that throws leaves the render through the caller, with no worker left
// running on the buffers.
TEST(RenderPass, ThrowingProgressStopsTheRender) {
    const TBitmap32 photo = test::MakePhoto(1024, 512, 5);
    Rendered out;
    std::int32_t last = -1;
    EXPECT_THROW(RenderPixels(photo, {}, {}, out.render, out.mask,
                              [&last](std::int32_t y) {
                                  last = y;
                                  if (y == 100) {
                                      throw std::runtime_error("cancelled");
                                  }
                              }),
                 std::runtime_error);
    EXPECT_EQ(last, 100);
    // The buffers are whole and usable again.
    RenderPixels(photo, {}, {255, 255, 255}, out.render, out.mask);
    EXPECT_EQ(out.render.PixelAt(1023, 511), photo.PixelAt(1023, 511));
}

} // namespace
} // namespace tintavo
