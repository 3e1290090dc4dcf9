#include "engine/MaskFilter.h"
#include "engine/EngineError.h"

#include "TestPictures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tintavo {
namespace {

// The reference: the literal sweeps, top to bottom and left to right over the interior, writes
// taking effect at once, each pass repeated until a sweep changes nothing.
int NeighbourSum(const TBitmap32& m, std::int32_t x, std::int32_t y) {
    return static_cast<int>(LumaOf(m.PixelAt(x - 1, y)) + LumaOf(m.PixelAt(x - 1, y - 1)) +
                            LumaOf(m.PixelAt(x, y - 1)) + LumaOf(m.PixelAt(x + 1, y - 1)) +
                            LumaOf(m.PixelAt(x + 1, y)) + LumaOf(m.PixelAt(x + 1, y + 1)) +
                            LumaOf(m.PixelAt(x, y + 1)) + LumaOf(m.PixelAt(x - 1, y + 1)));
}

void ReferenceFilter(TBitmap32& m) {
    const int erosionLimit = 3 * static_cast<int>(LumaOf(0xFFFFFFFFu));
    const int fillLimit = 4 * static_cast<int>(LumaOf(0xFFFFFFFFu));
    bool changed = true;
    while (changed) {
        changed = false;
        for (std::int32_t y = 1; y <= m.Height() - 2; ++y) {
            for (std::int32_t x = 1; x <= m.Width() - 2; ++x) {
                if (m.PixelAt(x, y) != 0xFF000000u && NeighbourSum(m, x, y) < erosionLimit) {
                    m.SetPixelAt(x, y, 0xFF000000u);
                    changed = true;
                }
            }
        }
    }
    changed = true;
    while (changed) {
        changed = false;
        for (std::int32_t y = 1; y <= m.Height() - 2; ++y) {
            for (std::int32_t x = 1; x <= m.Width() - 2; ++x) {
                if (m.PixelAt(x, y) == 0xFF000000u && NeighbourSum(m, x, y) > fillLimit) {
                    m.SetPixelAt(x, y, 0xFFFFFFFFu);
                    changed = true;
                }
            }
        }
    }
}

// Masks drawn from text: '#' white, '.' black.
TBitmap32 MaskFrom(const std::vector<std::string>& rows) {
    TBitmap32 m;
    m.Resize(static_cast<std::int32_t>(rows[0].size()), static_cast<std::int32_t>(rows.size()));
    for (std::int32_t y = 0; y < m.Height(); ++y) {
        for (std::int32_t x = 0; x < m.Width(); ++x) {
            m.SetPixelAt(x, y,
                         rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] == '#'
                             ? MaskKept
                             : MaskGreyed);
        }
    }
    return m;
}

std::string Picture(const TBitmap32& m) {
    std::string out;
    for (std::int32_t y = 0; y < m.Height(); ++y) {
        for (std::int32_t x = 0; x < m.Width(); ++x) {
            out += m.PixelAt(x, y) == MaskKept ? '#' : '.';
        }
        out += '\n';
    }
    return out;
}

testing::AssertionResult SameMask(const TBitmap32& actual, const TBitmap32& expected) {
    if (actual.Width() != expected.Width() || actual.Height() != expected.Height()) {
        return testing::AssertionFailure() << "sizes differ";
    }
    for (std::size_t i = 0; i < actual.PixelCount(); ++i) {
        if (actual.Bits()[i] != expected.Bits()[i]) {
            const auto w = static_cast<std::size_t>(actual.Width());
            auto failure = testing::AssertionFailure()
                           << "first difference at (" << i % w << ", " << i / w << ")";
            if (actual.PixelCount() <= 400) {
                failure << "\nactual:\n" << Picture(actual) << "expected:\n" << Picture(expected);
            }
            return failure;
        }
    }
    return testing::AssertionSuccess();
}

void ExpectLikeReference(const TBitmap32& input) {
    TBitmap32 shipped;
    shipped.CopyFrom(&input);
    FilterMask(shipped);
    TBitmap32 reference;
    reference.CopyFrom(&input);
    ReferenceFilter(reference);
    EXPECT_TRUE(SameMask(shipped, reference));

    // The compact form, one byte a pixel, ends the same.
    std::vector<std::uint8_t> bytes(input.PixelCount());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = input.Bits()[i] == MaskKept ? 255 : 0;
    }
    FilterMaskBytes(bytes.data(), input.Width(), input.Height());
    TBitmap32 compact;
    compact.Resize(input.Width(), input.Height());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        compact.Bits()[i] = bytes[i] == 255 ? MaskKept : MaskGreyed;
    }
    EXPECT_TRUE(SameMask(compact, reference)) << "one byte a pixel";
}

TEST(MaskFilter, RemovesSpecksAndThinWhiteLines) {
    TBitmap32 m = MaskFrom({
        "..........",
        ".#........",
        "...#......",
        "....#...#.",
        ".....#..#.",
        ".##.....#.",
        ".##.....#.",
        "..........",
    });
    FilterMask(m);
    EXPECT_EQ(Picture(m), "..........\n"
                          "..........\n"
                          "..........\n"
                          "..........\n"
                          "..........\n"
                          ".##.......\n"
                          ".##.......\n"
                          "..........\n")
        << "the 2 x 2 block has three white neighbours per pixel (S = 765) and stays";
}

TEST(MaskFilter, FillsHolesButLeavesACheckerboard) {
    TBitmap32 holes = MaskFrom({
        "#########",
        "##.######",
        "#########",
        "#.......#",
        "#########",
        "#########",
    });
    FilterMask(holes);
    EXPECT_EQ(Picture(holes), "#########\n#########\n#########\n#########\n#########\n#########\n");

    const std::vector<std::string> board = {"#.#.#.#", ".#.#.#.", "#.#.#.#", ".#.#.#.", "#.#.#.#"};
    TBitmap32 checkerboard = MaskFrom(board);
    FilterMask(checkerboard);
    EXPECT_TRUE(SameMask(checkerboard, MaskFrom(board)));
}

TEST(MaskFilter, OutermostRowsAndColumnsNeverChange) {
    const std::vector<std::string> rows = {"#.#.#", ".....", "#...#", ".....", "#.#.#"};
    TBitmap32 m = MaskFrom(rows);
    FilterMask(m);
    EXPECT_TRUE(SameMask(m, MaskFrom(rows)));

    const std::vector<std::string> framed = {"#####", "#####", "##.##", "#####", "#####"};
    TBitmap32 white = MaskFrom(framed);
    FilterMask(white);
    EXPECT_EQ(Picture(white), "#####\n#####\n#####\n#####\n#####\n");
    TBitmap32 blackBorder = MaskFrom({".....", ".###.", ".###.", ".###.", "....."});
    FilterMask(blackBorder);
    EXPECT_EQ(Picture(blackBorder), ".....\n.###.\n.###.\n.###.\n.....\n");
}

TEST(MaskFilter, NarrowMasksAreLeftAlone) {
    for (const auto& rows :
         {std::vector<std::string>{"#.#", ".#."}, std::vector<std::string>{"#", ".", "#", "#"},
          std::vector<std::string>{"#.", ".#", "#."}}) {
        TBitmap32 m = MaskFrom(rows);
        FilterMask(m);
        EXPECT_TRUE(SameMask(m, MaskFrom(rows)));
    }
    TBitmap32 empty;
    FilterMask(empty);
    EXPECT_TRUE(empty.IsEmpty());
}

TEST(MaskFilter, RunningTwiceChangesNothing) {
    test::TestRandom random(11);
    TBitmap32 m;
    m.Resize(40, 30);
    for (std::size_t i = 0; i < m.PixelCount(); ++i) {
        m.Bits()[i] = random.Below(100) < 55 ? MaskKept : MaskGreyed;
    }
    FilterMask(m);
    TBitmap32 once;
    once.CopyFrom(&m);
    FilterMask(m);
    EXPECT_TRUE(SameMask(m, once));
}

TEST(MaskFilter, RejectsValuesThatAreNotMaskValues) {
    TBitmap32 m = MaskFrom({"###", "###", "###"});
    m.SetPixelAt(0, 0, 0xFF808080u);
    EXPECT_THROW(FilterMask(m), EngineError);
    EXPECT_EQ(m.PixelAt(1, 1), MaskKept) << "left unchanged";
}

// The shipped filter against the literal sweeps on many masks: random densities, shapes that
// cascade across the picture in every direction, and one large picture.
TEST(MaskFilter, MatchesTheLiteralSweepsOnRandomMasks) {
    test::TestRandom random(5);
    for (int round = 0; round < 300; ++round) {
        const auto w = static_cast<std::int32_t>(1 + random.Below(24));
        const auto h = static_cast<std::int32_t>(1 + random.Below(24));
        const std::uint32_t density = random.Below(101);
        TBitmap32 m;
        m.Resize(w, h);
        for (std::size_t i = 0; i < m.PixelCount(); ++i) {
            m.Bits()[i] = random.Below(100) < density ? MaskKept : MaskGreyed;
        }
        SCOPED_TRACE(testing::Message() << "round " << round << ", " << w << " x " << h);
        ExpectLikeReference(m);
    }
}

TBitmap32 Pattern(std::int32_t w, std::int32_t h, bool (*white)(std::int32_t, std::int32_t)) {
    TBitmap32 m;
    m.Resize(w, h);
    for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x) {
            m.SetPixelAt(x, y, white(x, y) ? MaskKept : MaskGreyed);
        }
    }
    return m;
}

TEST(MaskFilter, MatchesTheLiteralSweepsOnStructuredMasks) {
    using Rule = bool (*)(std::int32_t, std::int32_t);
    const Rule rules[] = {
        [](std::int32_t x, std::int32_t y) { return ((x + y) & 1) == 0; },
        [](std::int32_t x, std::int32_t) { return x % 2 == 0; },
        [](std::int32_t, std::int32_t y) { return y % 3 != 0; },
        [](std::int32_t x, std::int32_t y) { return (x + y) % 4 < 2; },
        [](std::int32_t x, std::int32_t y) { return (x - y + 100) % 5 < 2; },
        // Two-pixel bands that unravel from one end when it is cut.
        [](std::int32_t x, std::int32_t y) { return (x + 2 * y) % 7 < 3; },
        [](std::int32_t x, std::int32_t y) { return x * x + y * y < 400 && (x ^ y) % 3 != 0; },
        [](std::int32_t x, std::int32_t y) { return (x / 3 + y / 3) % 2 == 0; },
        [](std::int32_t x, std::int32_t y) { return (x * 7 + y * 13) % 11 < 6; },
        [](std::int32_t, std::int32_t) { return true; },
        [](std::int32_t, std::int32_t) { return false; },
    };
    for (std::size_t i = 0; i < std::size(rules); ++i) {
        for (const auto& [w, h] : {std::pair{33, 29}, std::pair{3, 40}, std::pair{64, 3}}) {
            SCOPED_TRACE(testing::Message() << "pattern " << i << ", " << w << " x " << h);
            ExpectLikeReference(Pattern(w, h, rules[i]));
        }
    }
}

// A staircase of two-pixel steps: every sweep of the literal filter unravels only a little of
// it, and so does the reverse one. Both directions must come out the same.
TEST(MaskFilter, MatchesTheLiteralSweepsOnCascades) {
    const auto staircase = [](std::int32_t n, bool rising) {
        TBitmap32 m;
        m.Resize(n, n);
        std::fill_n(m.Bits(), m.PixelCount(), MaskGreyed);
        for (std::int32_t i = 1; i + 2 < n; ++i) {
            const std::int32_t x = rising ? n - 1 - i - 1 : i;
            m.SetPixelAt(x, i, MaskKept);
            m.SetPixelAt(x + 1, i, MaskKept);
            m.SetPixelAt(x, i + 1, MaskKept);
        }
        return m;
    };
    ExpectLikeReference(staircase(40, true));
    ExpectLikeReference(staircase(40, false));
}

TEST(MaskFilter, MatchesTheLiteralSweepsOnALargePhotographMask) {
    const TBitmap32 photo = test::MakePhoto(640, 480, 9);
    TBitmap32 m;
    m.Resize(640, 480);
    for (std::size_t i = 0; i < m.PixelCount(); ++i) {
        const TColor32 col = photo.Bits()[i];
        m.Bits()[i] = (RedOf(col) > 120 && GreenOf(col) < 150) ? MaskKept : MaskGreyed;
    }
    ExpectLikeReference(m);
    test::TestRandom random(99);
    for (std::size_t i = 0; i < m.PixelCount(); ++i) {
        m.Bits()[i] = random.Below(2) != 0 ? MaskKept : MaskGreyed;
    }
    ExpectLikeReference(m);
}

TEST(Recompose, GreysExactlyTheBlackMaskPixels) {
    const TBitmap32 photo = test::MakePhoto(9, 5);
    TBitmap32 mask;
    mask.Resize(9, 5);
    for (std::size_t i = 0; i < mask.PixelCount(); ++i) {
        mask.Bits()[i] = i % 3 == 0 ? MaskGreyed : MaskKept;
    }
    TBitmap32 render;
    RecomposePicture(photo, mask, render);
    ASSERT_EQ(render.Width(), 9);
    ASSERT_EQ(render.Height(), 5);
    for (std::size_t i = 0; i < mask.PixelCount(); ++i) {
        EXPECT_EQ(render.Bits()[i], i % 3 == 0 ? Desaturate(photo.Bits()[i]) : photo.Bits()[i]);
    }

    TBitmap32 empty;
    TBitmap32 emptySource;
    RecomposePicture(emptySource, empty, render);
    EXPECT_TRUE(render.IsEmpty());
    EXPECT_THROW(RecomposePicture(photo, empty, render), EngineError);
}

} // namespace
} // namespace tintavo
