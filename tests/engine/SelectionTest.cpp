#include "engine/Selection.h"
#include "engine/BrushOverlay.h"
#include "engine/EngineError.h"
#include "engine/MaskFilter.h"
#include "engine/RenderPass.h"
#include "engine/SoftEdge.h"

#include "TestPictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace tintavo {
namespace {

TColor32 Rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a = 255) {
    return a << 24 | r << 16 | g << 8 | b;
}

SelectionOptions Pick(ColourModel model, std::vector<CentralColor> colours) {
    SelectionOptions options;
    options.Model = model;
    options.Colours = std::move(colours);
    options.Box = {40, 40, 40};
    return options;
}

// Every channel value at every position within a row, alpha varied too.
TBitmap32 ManyColours() {
    TBitmap32 colours;
    colours.Resize(4099, 17);
    for (std::size_t i = 0; i < colours.PixelCount(); ++i) {
        const auto v = static_cast<std::uint32_t>(i);
        colours.Bits()[i] = (v * 13) << 24 | (v & 0xFF) << 16 | ((v >> 8) & 0xFF) << 8 |
                            ((v * 37 + (v >> 16)) & 0xFF);
    }
    return colours;
}

TEST(Selection, DefaultsRenderExactlyAsTheRenderPass) {
    // Large enough to be shared between threads.
    const TBitmap32 photo = test::MakePhoto(640, 480, 5);
    test::TestRandom random(11);
    BrushOverlay unpainted;
    unpainted.Reset(640, 480);
    for (int round = 0; round < 4; ++round) {
        const CentralColor cc{static_cast<std::int32_t>(random.Below(256)),
                              static_cast<std::int32_t>(random.Below(256)),
                              static_cast<std::int32_t>(random.Below(256))};
        const Thresholds t{static_cast<std::int32_t>(random.Below(120)),
                           static_cast<std::int32_t>(random.Below(120)),
                           static_cast<std::int32_t>(random.Below(256))};
        TBitmap32 render;
        TBitmap32 mask;
        RenderPixels(photo, cc, t, render, mask);

        SelectionOptions options;
        options.Colours = {cc};
        options.Box = t;
        options.Model = ColourModel::RgbBox;
        options.Feather = 0;
        options.Grey = GreyModel::Average;
        options.Strength = 100;
        ASSERT_TRUE(IsWrittenSelection(options));
        // The same colour twice takes the general path of several colours.
        SelectionOptions twice = options;
        twice.Colours = {cc, cc};
        for (const SelectionOptions& o : {options, twice}) {
            TBitmap32 r2;
            TBitmap32 m2;
            std::int32_t rows = 0;
            RenderSelection(photo, o, r2, m2, &unpainted, [&rows](std::int32_t) { ++rows; });
            EXPECT_EQ(rows, 480);
            ASSERT_TRUE(std::equal(render.Bits(), render.Bits() + render.PixelCount(), r2.Bits()));
            ASSERT_TRUE(std::equal(mask.Bits(), mask.Bits() + mask.PixelCount(), m2.Bits()));
        }
        // A rule kept from render to render takes its own path, to the same bytes.
        TBitmap32 r4;
        TBitmap32 m4;
        RenderSelection(photo, SelectionRule(options), r4, m4);
        ASSERT_TRUE(std::equal(render.Bits(), render.Bits() + render.PixelCount(), r4.Bits()));
        ASSERT_TRUE(std::equal(mask.Bits(), mask.Bits() + mask.PixelCount(), m4.Bits()));
        // The soft-edge path at width 0 and the recompose of a hard mask agree as well.
        TBitmap32 r3;
        TBitmap32 m3;
        FinishSelection(photo, mask, options, nullptr, r3, m3);
        ASSERT_TRUE(std::equal(render.Bits(), render.Bits() + render.PixelCount(), r3.Bits()));
    }
}

// The rows, done four pixels at a time, against the rule applied one pixel at a time.
TEST(Selection, RowsMatchThePixelRuleForEveryModel) {
    const TBitmap32 colours = ManyColours();
    std::vector<SelectionOptions> cases;
    for (const ColourModel model :
         {ColourModel::RgbBox, ColourModel::Hue, ColourModel::Perceptual}) {
        SelectionOptions o = Pick(model, {{200, 40, 30}, {60, 80, 200}});
        o.HueTolerance = 35;
        o.PerceptualRadius = 25;
        cases.push_back(o);
        o.Grey = GreyModel::Luminance;
        o.Strength = 37;
        cases.push_back(o);
        o.Colours = {{-20, 300, 128}};
        o.Grey = GreyModel::Average;
        o.Strength = 0;
        cases.push_back(o);
    }
    for (const SelectionOptions& o : cases) {
        const SelectionRule rule(o);
        TBitmap32 render;
        TBitmap32 mask;
        RenderSelection(colours, o, render, mask);
        for (std::size_t i = 0; i < colours.PixelCount(); ++i) {
            const TColor32 col = colours.Bits()[i];
            const bool kept = rule.Keeps(col);
            ASSERT_EQ(mask.Bits()[i], kept ? MaskKept : MaskGreyed) << i;
            ASSERT_EQ(render.Bits()[i], rule.RenderPixel(col)) << i;
            ASSERT_EQ(render.Bits()[i], BlendPixel(col, kept ? 255 : 0, o.Grey, o.Strength)) << i;
        }
    }
}

// The hue's lanes against the integer rule, for all 16.7 million colours: narrow hues in every
// sector, a wide one that leaves a gap across the red wrap-around, and every hue.
TEST(Selection, HueRowsMatchTheRuleForEveryColour) {
    SelectionOptions narrow = Pick(ColourModel::Hue, {{255, 0, 20}, {10, 200, 90}, {40, 40, 250}});
    narrow.HueTolerance = 13;
    narrow.ChromaFloor = 0;
    SelectionOptions wide = Pick(ColourModel::Hue, {{0, 255, 0}});
    wide.HueTolerance = 170;
    wide.ChromaFloor = 30;
    SelectionOptions all = Pick(ColourModel::Hue, {{200, 40, 30}});
    all.HueTolerance = MaxHueTolerance;
    all.ChromaFloor = 1;
    std::vector<TColor32> row(65536);
    std::vector<TColor32> mask(65536);
    for (const SelectionOptions& o : {narrow, wide, all}) {
        const SelectionRule rule(o);
        for (std::uint32_t r = 0; r < 256; ++r) {
            for (std::uint32_t i = 0; i < 65536; ++i) {
                row[i] = Rgb(r, i >> 8, i & 0xFF);
            }
            rule.MaskRow(row.data(), mask.data(), row.size());
            for (std::uint32_t i = 0; i < 65536; ++i) {
                ASSERT_EQ(mask[i], rule.Keeps(row[i]) ? MaskKept : MaskGreyed)
                    << o.HueTolerance << " " << std::hex << row[i];
            }
        }
    }
}

TEST(Selection, HueKeepsAShadedBallWholeWhereTheBoxLosesItsShadow) {
    std::size_t ballPixels = 0;
    const TBitmap32 picture = test::ShadedBall(100, 40, ballPixels);
    const auto keptCount = [&](const SelectionOptions& o) {
        TBitmap32 render;
        TBitmap32 mask;
        RenderSelection(picture, o, render, mask);
        return static_cast<std::size_t>(
            std::count(mask.Bits(), mask.Bits() + mask.PixelCount(), MaskKept));
    };
    const CentralColor bright{220, 40, 30};
    EXPECT_EQ(keptCount(Pick(ColourModel::Hue, {bright})), ballPixels);
    EXPECT_LT(keptCount(Pick(ColourModel::RgbBox, {bright})), ballPixels / 2);
}

TEST(Selection, HueNeverKeepsGreyAndWrapsAroundAtRed) {
    SelectionOptions wide = Pick(ColourModel::Hue, {{255, 0, 0}});
    wide.HueTolerance = 180;
    wide.ChromaFloor = 0;
    const SelectionRule anyHue(wide);
    for (std::uint32_t level = 0; level < 256; ++level) {
        EXPECT_FALSE(anyHue.Keeps(Rgb(level, level, level))) << level;
    }
    EXPECT_TRUE(anyHue.Keeps(Rgb(0, 255, 255))) << "the opposite hue at 180 degrees";

    // Hues just below 360 and just above 0 are both within 20 degrees of pure red.
    const SelectionRule red(Pick(ColourModel::Hue, {{255, 0, 0}}));
    EXPECT_TRUE(red.Keeps(Rgb(255, 0, 60)));
    EXPECT_TRUE(red.Keeps(Rgb(255, 60, 0)));
    EXPECT_FALSE(red.Keeps(Rgb(255, 0, 120)));
    EXPECT_TRUE(red.Keeps(Rgb(90, 0, 10))) << "dark, but the same hue";
    const SelectionRule magentaRed(Pick(ColourModel::Hue, {{255, 0, 40}}));
    EXPECT_TRUE(magentaRed.Keeps(Rgb(255, 40, 0)));
    // A grey Central Color has no hue and keeps nothing; a weak colour is below the floor.
    const SelectionRule grey(Pick(ColourModel::Hue, {{128, 128, 128}}));
    EXPECT_FALSE(grey.Keeps(Rgb(128, 128, 128)));
    EXPECT_FALSE(red.Keeps(Rgb(140, 120, 120)));
}

// Oklab written out again here, to check the engine's table of the colour cube against it.
double OklabDistance(TColor32 p, TColor32 q) {
    const auto lab = [](TColor32 c) {
        const auto lin = [](std::uint32_t v) {
            const double s = v / 255.0;
            return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        const double r = lin(RedOf(c));
        const double g = lin(GreenOf(c));
        const double b = lin(BlueOf(c));
        const double l = std::cbrt(0.4122214708 * r + 0.5363325363 * g + 0.0514459929 * b);
        const double m = std::cbrt(0.2119034982 * r + 0.6806995451 * g + 0.1073969566 * b);
        const double s = std::cbrt(0.0883024619 * r + 0.2817188376 * g + 0.6299787005 * b);
        return std::vector<double>{0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s,
                                   1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s,
                                   0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s};
    };
    const auto a = lab(p);
    const auto b = lab(q);
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                     (a[2] - b[2]) * (a[2] - b[2]));
}

TEST(Selection, PerceptualKeepsColoursWithinTheOklabRadius) {
    test::TestRandom random(9);
    for (const std::int32_t radius : {0, 5, 12, 40}) {
        const CentralColor cc{static_cast<std::int32_t>(random.Below(256)),
                              static_cast<std::int32_t>(random.Below(256)),
                              static_cast<std::int32_t>(random.Below(256))};
        SelectionOptions o = Pick(ColourModel::Perceptual, {cc});
        o.PerceptualRadius = radius;
        const SelectionRule rule(o);
        const TColor32 centre =
            Rgb(static_cast<std::uint32_t>(cc.Red), static_cast<std::uint32_t>(cc.Green),
                static_cast<std::uint32_t>(cc.Blue));
        EXPECT_TRUE(rule.Keeps(centre));
        std::size_t kept = 0;
        for (int i = 0; i < 200000; ++i) {
            // Colours near the centre, where the edge of the radius lies.
            const auto near = [&](std::int32_t c) {
                return static_cast<std::uint32_t>(
                    std::clamp(c + static_cast<std::int32_t>(random.Below(121)) - 60, 0, 255));
            };
            const TColor32 col = Rgb(near(cc.Red), near(cc.Green), near(cc.Blue));
            const double d = OklabDistance(col, centre) * 100;
            if (std::abs(d - radius) > 1e-6) {
                ASSERT_EQ(rule.Keeps(col), d <= radius) << std::hex << col << " " << d;
            }
            kept += rule.Keeps(col) ? 1 : 0;
        }
        if (radius >= 12) {
            EXPECT_GT(kept, 0u);
        }
    }
    SelectionOptions full = Pick(ColourModel::Perceptual, {{0, 0, 0}});
    full.PerceptualRadius = 99;
    EXPECT_FALSE(SelectionRule(full).Keeps(Rgb(255, 255, 255))) << "white is 1.0 from black";
    full.PerceptualRadius = 100;
    EXPECT_TRUE(SelectionRule(full).Keeps(Rgb(255, 255, 255)));
}

TEST(Selection, SeveralColoursKeepTheUnionOfTheirMasks) {
    const TBitmap32 photo = test::MakePhoto(97, 61, 3);
    for (const ColourModel model :
         {ColourModel::RgbBox, ColourModel::Hue, ColourModel::Perceptual}) {
        // The sky at the top left and the ground at the bottom right.
        const auto colourAt = [&photo](std::int32_t x, std::int32_t y) {
            const TColor32 c = photo.PixelAt(x, y);
            return CentralColor{static_cast<std::int32_t>(RedOf(c)),
                                static_cast<std::int32_t>(GreenOf(c)),
                                static_cast<std::int32_t>(BlueOf(c))};
        };
        const CentralColor a = colourAt(2, 2);
        const CentralColor b = colourAt(94, 58);
        TBitmap32 maskA;
        TBitmap32 maskB;
        TBitmap32 both;
        BuildHardMask(photo, SelectionRule(Pick(model, {a})), maskA);
        BuildHardMask(photo, SelectionRule(Pick(model, {b})), maskB);
        BuildHardMask(photo, SelectionRule(Pick(model, {a, b})), both);
        std::size_t onlyA = 0;
        std::size_t onlyB = 0;
        for (std::size_t i = 0; i < photo.PixelCount(); ++i) {
            const bool joined = maskA.Bits()[i] == MaskKept || maskB.Bits()[i] == MaskKept;
            ASSERT_EQ(both.Bits()[i], joined ? MaskKept : MaskGreyed) << i;
            onlyA += maskA.Bits()[i] == MaskKept && maskB.Bits()[i] != MaskKept ? 1 : 0;
            onlyB += maskB.Bits()[i] == MaskKept && maskA.Bits()[i] != MaskKept ? 1 : 0;
        }
        EXPECT_GT(onlyA, 0u);
        EXPECT_GT(onlyB, 0u);
    }
}

TEST(Selection, GreyByLuminanceAndStrength) {
    EXPECT_EQ(GreyLevel(Rgb(255, 0, 0), GreyModel::Luminance), 54u);
    EXPECT_EQ(GreyLevel(Rgb(0, 255, 0), GreyModel::Luminance), 182u);
    EXPECT_EQ(GreyLevel(Rgb(0, 0, 255), GreyModel::Luminance), 18u);
    for (std::uint32_t level : {0u, 1u, 128u, 254u, 255u}) {
        EXPECT_EQ(GreyLevel(Rgb(level, level, level), GreyModel::Luminance), level);
    }
    EXPECT_EQ(GreyLevel(Rgb(255, 0, 0), GreyModel::Average), 85u);
    EXPECT_EQ(BlendPixel(Rgb(255, 0, 0, 7), 0, GreyModel::Luminance, 100), GreyPixel(54, 255));
    EXPECT_EQ(BlendPixel(Rgb(1, 2, 4, 7), 0, GreyModel::Average, 100), Desaturate(Rgb(1, 2, 4)));
    // Half way, rounded half up: (200 * 50 + 90 * 50 + 50) / 100 and so on.
    EXPECT_EQ(BlendPixel(Rgb(200, 40, 30), 0, GreyModel::Average, 50), Rgb(145, 65, 60));
    EXPECT_EQ(BlendPixel(Rgb(200, 40, 30, 9), 255, GreyModel::Average, 50), Rgb(200, 40, 30, 9));

    // Strength 0 gives the picture back; the mask still shows the selection.
    const TBitmap32 photo = test::MakePhoto(50, 40, 2);
    SelectionOptions o = Pick(ColourModel::Hue, {{200, 60, 50}});
    o.Strength = 0;
    TBitmap32 render;
    TBitmap32 mask;
    RenderSelection(photo, o, render, mask);
    EXPECT_TRUE(std::equal(photo.Bits(), photo.Bits() + photo.PixelCount(), render.Bits()));
    EXPECT_NE(std::count(mask.Bits(), mask.Bits() + mask.PixelCount(), MaskGreyed), 0);
}

// The distance to the nearest pixel of the other kind, the slow way.
double NearestOther(const TBitmap32& mask, std::int32_t x, std::int32_t y) {
    double best = 1e9;
    for (std::int32_t v = 0; v < mask.Height(); ++v) {
        for (std::int32_t u = 0; u < mask.Width(); ++u) {
            if (mask.PixelAt(u, v) != mask.PixelAt(x, y)) {
                best = std::min(best, std::hypot(u - x, v - y));
            }
        }
    }
    return best;
}

TEST(Selection, SoftEdgeRampsOnlyWithinItsWidthOfAHardEdge) {
    // Blobs and specks of white on black, touching the borders.
    TBitmap32 hard;
    hard.Resize(57, 43);
    test::TestRandom random(4);
    for (std::int32_t y = 0; y < 43; ++y) {
        for (std::int32_t x = 0; x < 57; ++x) {
            const bool blob =
                std::hypot(x - 20, y - 15) < 12 || (x > 40 && y > 25) || random.Below(60) == 0;
            hard.SetPixelAt(x, y, blob ? MaskKept : MaskGreyed);
        }
    }
    for (const std::int32_t width : {1, 3, 8, 50}) {
        TBitmap32 soft;
        soft.CopyFrom(&hard);
        SoftenMask(soft, width);
        for (std::int32_t y = 0; y < 43; ++y) {
            for (std::int32_t x = 0; x < 57; ++x) {
                const bool kept = hard.PixelAt(x, y) == MaskKept;
                const double d = NearestOther(hard, x, y);
                const double ramp = std::clamp(0.5 + (d - 0.5) / (2.0 * width), 0.0, 1.0);
                const auto full = static_cast<std::uint32_t>(std::floor(255 * ramp + 0.5));
                const std::uint32_t expected = kept ? full : 255 - full;
                const TColor32 got = soft.PixelAt(x, y);
                ASSERT_EQ(got, GreyPixel(expected, 255)) << x << "," << y << " width " << width;
                // The edge lies half way between a pixel and its neighbour of the other kind.
                if (d - 0.5 >= width) {
                    ASSERT_EQ(got, hard.PixelAt(x, y));
                }
                if (d == 1.0) {
                    ASSERT_GT(BlueOf(got), 0u);
                    ASSERT_LT(BlueOf(got), 255u);
                }
            }
        }
    }
}

TEST(Selection, SoftEdgeOfAPictureAndTheFilterBeforeIt) {
    const TBitmap32 photo = test::MakePhoto(80, 60, 8);
    SelectionOptions o = Pick(ColourModel::Hue, {{200, 60, 50}});
    o.Feather = 4;
    TBitmap32 render;
    TBitmap32 mask;
    RenderSelection(photo, o, render, mask);
    TBitmap32 hard;
    BuildHardMask(photo, SelectionRule(o), hard);
    TBitmap32 expected = TBitmap32();
    expected.CopyFrom(&hard);
    SoftenMask(expected, 4);
    ASSERT_TRUE(std::equal(mask.Bits(), mask.Bits() + mask.PixelCount(), expected.Bits()));
    for (std::size_t i = 0; i < photo.PixelCount(); ++i) {
        ASSERT_EQ(render.Bits()[i],
                  BlendPixel(photo.Bits()[i], BlueOf(mask.Bits()[i]), o.Grey, o.Strength));
    }
    // The window's Filter: the hard mask is cleaned, then softened and composed.
    FilterMask(hard);
    TBitmap32 filteredRender;
    TBitmap32 filteredMask;
    FinishSelection(photo, hard, o, nullptr, filteredRender, filteredMask);
    expected.CopyFrom(&hard);
    SoftenMask(expected, 4);
    EXPECT_TRUE(std::equal(filteredMask.Bits(), filteredMask.Bits() + filteredMask.PixelCount(),
                           expected.Bits()));
}

TEST(Selection, BrushStrokesLieOverTheSelection) {
    BrushOverlay brush;
    brush.Reset(30, 20);
    EXPECT_TRUE(brush.IsEmpty());
    brush.PaintDisc(10, 10, 4, 0, BrushMode::Keep);
    EXPECT_FALSE(brush.IsEmpty());
    EXPECT_EQ(brush.AmountAt(10, 10), 255);
    EXPECT_EQ(brush.AmountAt(14, 10), 255);
    EXPECT_EQ(brush.AmountAt(15, 10), 0);
    EXPECT_EQ(brush.TargetAt(13, 10), 255);
    // A soft grey stroke over part of it: full at its centre, fading outwards.
    brush.PaintDisc(14, 10, 4, 4, BrushMode::Grey);
    EXPECT_EQ(brush.AmountAt(14, 10), 255);
    EXPECT_EQ(brush.TargetAt(14, 10), 0);
    EXPECT_EQ(brush.TargetAt(7, 10), 255);
    EXPECT_GT(brush.TargetAt(12, 10), 0);
    EXPECT_LT(brush.TargetAt(12, 10), 255);
    brush.PaintDisc(-100, -100, 5, 1, BrushMode::Keep); // outside: nothing

    const TBitmap32 picture = test::MakeFilled(30, 20, Rgb(10, 200, 30));
    SelectionOptions nothing = Pick(ColourModel::RgbBox, {{255, 0, 0}});
    nothing.Box = {0, 0, 0};
    TBitmap32 render;
    TBitmap32 mask;
    RenderSelection(picture, nothing, render, mask, &brush);
    EXPECT_EQ(mask.PixelAt(7, 10), MaskKept);
    EXPECT_EQ(render.PixelAt(7, 10), Rgb(10, 200, 30));
    EXPECT_EQ(mask.PixelAt(14, 10), MaskGreyed);
    EXPECT_EQ(mask.PixelAt(25, 3), MaskGreyed);
    EXPECT_EQ(render.PixelAt(25, 3), Desaturate(Rgb(10, 200, 30)));

    brush.Clear();
    EXPECT_TRUE(brush.IsEmpty());
    EXPECT_EQ(brush.AmountAt(10, 10), 0);
    EXPECT_THROW(brush.PaintDisc(1, 1, 0, 0, BrushMode::Keep), EngineError);
    EXPECT_THROW(brush.PaintDisc(1, 1, 3, 4, BrushMode::Keep), EngineError);
    EXPECT_THROW(brush.PaintDisc(NAN, 1, 3, 1, BrushMode::Keep), EngineError);
    brush.PaintDisc(1, 1, 3, 1, BrushMode::Keep);
    TBitmap32 other = test::MakeFilled(31, 20, MaskGreyed);
    EXPECT_THROW(brush.ApplyTo(other), EngineError);
    EXPECT_THROW(RenderSelection(other, nothing, render, mask, &brush), EngineError);
}

TEST(Selection, OutOfRangeOptionsAreClearErrorsThatChangeNothing) {
    const auto bad = [](const std::function<void(SelectionOptions&)>& change) {
        SelectionOptions o;
        change(o);
        return o;
    };
    const SelectionOptions cases[] = {
        bad([](SelectionOptions& o) { o.Colours.clear(); }),
        bad([](SelectionOptions& o) { o.Box.Green = 256; }),
        bad([](SelectionOptions& o) { o.Box.Red = -1; }),
        bad([](SelectionOptions& o) {
            o.Model = ColourModel::Hue;
            o.HueTolerance = 181;
        }),
        bad([](SelectionOptions& o) {
            o.Model = ColourModel::Hue;
            o.ChromaFloor = 255;
        }),
        bad([](SelectionOptions& o) {
            o.Model = ColourModel::Perceptual;
            o.PerceptualRadius = -1;
        }),
        bad([](SelectionOptions& o) { o.Feather = 51; }),
        bad([](SelectionOptions& o) { o.Strength = 101; }),
        bad([](SelectionOptions& o) { o.Strength = -5; }),
    };
    const TBitmap32 picture = test::MakePhoto(8, 6);
    for (const SelectionOptions& o : cases) {
        EXPECT_THROW(ValidateSelection(o), EngineError);
        EXPECT_THROW(SelectionRule{o}, EngineError);
        TBitmap32 render = test::MakeFilled(2, 2, 7);
        TBitmap32 mask = test::MakeFilled(2, 2, 7);
        EXPECT_THROW(RenderSelection(picture, o, render, mask), EngineError);
        EXPECT_EQ(render.Width(), 2);
        EXPECT_EQ(mask.PixelAt(1, 1), 7u);
    }
    try {
        ValidateSelection(cases[6]);
    } catch (const EngineError& e) {
        EXPECT_STREQ(e.what(), "The soft edge must be 0 to 50, not 51");
    }
    TBitmap32 grey = test::MakeFilled(5, 5, GreyPixel(128, 255));
    EXPECT_THROW(SoftenMask(grey, 3), EngineError);
    EXPECT_EQ(grey.PixelAt(2, 2), GreyPixel(128, 255));
    EXPECT_THROW(SoftenMask(grey, 51), EngineError);
}

} // namespace
} // namespace tintavo
