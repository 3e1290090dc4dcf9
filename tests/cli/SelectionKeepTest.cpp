#include "SelectionKeep.h"
#include "CliOptions.h"

#include "TestPictures.h"

#include "engine/MaskFilter.h"
#include "engine/PictureReader.h"
#include "engine/PictureStream.h"
#include "engine/Selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tintavo::cli {
namespace {

TColor32 Rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

// The rows a sink was given.
struct Image {
    std::vector<TColor32> pixels;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool finished = false;

    TColor32 At(std::int32_t x, std::int32_t y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
    std::size_t Count(TColor32 col) const {
        return static_cast<std::size_t>(std::count(pixels.begin(), pixels.end(), col));
    }
};

class Rows final : public RowSink {
public:
    explicit Rows(Image& image) : image_(image) {}
    void Start(std::int32_t width, std::int32_t height) override {
        image_.width = width;
        image_.height = height;
    }
    void WriteRows(const TColor32* rows, std::int32_t count) override {
        image_.pixels.insert(image_.pixels.end(), rows,
                             rows + static_cast<std::size_t>(count) * image_.width);
    }
    void Finish() override { image_.finished = true; }

private:
    Image& image_;
};

struct Result {
    Image render;
    Image mask;
};

// The command line's selection path on a picture file's bytes, as the tool runs it.
Result Keep(const std::string& file, std::vector<std::string> args) {
    args.insert(args.end(), {"in", "-o", "out.png"});
    const CliOptions options = ParseArguments(args);
    EXPECT_TRUE(UsesSelection(options));
    PictureReadOptions read;
    read.AutoOrient = options.AutoOrient;
    const auto source = OpenPictureRows(std::vector<std::uint8_t>(file.begin(), file.end()), read);
    Result result;
    Rows render(result.render);
    Rows mask(result.mask);
    KeepSelected(*source, options, render, &mask);
    EXPECT_TRUE(result.render.finished && result.mask.finished);
    return result;
}

// A red ball lit from the left, its colour from a fifth to full brightness, on grey-blue, and
// a green square in the corner.
std::string ShadedBall(std::size_t& ballPixels) {
    TBitmap32 picture = test::ShadedBall(64, 24, ballPixels);
    for (std::int32_t y = 0; y < 6; ++y) {
        for (std::int32_t x = 0; x < 6; ++x) {
            picture.SetPixelAt(x, y, Rgb(0, 255, 0));
        }
    }
    return test::EncodeBitmap(picture, 24);
}

TEST(CliSelection, EachOptionReachesTheRender) {
    std::size_t ball = 0;
    const std::string file = ShadedBall(ball);
    const std::vector<std::string> red{"--cc", "220,40,30"};
    const auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), red.begin(), red.end());
        return Keep(file, more);
    };

    // Hue keeps the ball in its own shadow; the box around its lit side does not.
    EXPECT_EQ(with({"--model", "hue"}).mask.Count(MaskKept), ball);
    const Result box = with({"--thresholds", "40", "--strength", "99"});
    EXPECT_LT(box.mask.Count(MaskKept), ball / 2);
    EXPECT_LT(with({"--model", "hue", "--hue-tolerance", "0", "--chroma-floor", "200"})
                  .mask.Count(MaskKept),
              ball / 4);
    // The perceptual radius widens what is kept.
    EXPECT_LT(with({"--model", "perceptual", "--radius", "5"}).mask.Count(MaskKept),
              with({"--model", "perceptual", "--radius", "40"}).mask.Count(MaskKept));

    // Several colours: the union. The green corner is kept with a second --cc.
    const Result two = with({"--thresholds", "40", "--cc", "0,255,0"});
    EXPECT_EQ(two.mask.Count(MaskKept), box.mask.Count(MaskKept) + 36);
    EXPECT_EQ(two.render.At(0, 0), Rgb(0, 255, 0));

    // Picked colours are those colours given, wherever the points lie: the green corner and
    // the background far down.
    EXPECT_EQ(
        Keep(file, {"--pick", "2,2", "--pick", "40,60", "--thresholds", "40"}).render.pixels,
        Keep(file, {"--cc", "0,255,0", "--cc", "90,100,120", "--thresholds", "40"}).render.pixels);

    // Grey and strength: the green corner greyed as luma (182), or half way to the average.
    EXPECT_EQ(with({"--thresholds", "40", "--grey", "luma"}).render.At(0, 0), Rgb(182, 182, 182));
    EXPECT_EQ(with({"--thresholds", "40", "--strength", "50"}).render.At(0, 0), Rgb(43, 170, 43));

    // A soft edge: coverage between 0 and 255 along the edge, the result blended there.
    const Result soft = with({"--model", "hue", "--feather", "4", "--filter"});
    std::size_t between = 0;
    for (const TColor32 col : soft.mask.pixels) {
        between += col != MaskKept && col != MaskGreyed;
    }
    EXPECT_GT(between, 50u);
    EXPECT_EQ(soft.mask.At(32, 32), MaskKept);
    EXPECT_EQ(soft.mask.At(63, 63), MaskGreyed);
    const std::uint32_t edge = BlueOf(soft.mask.At(8, 32)); // the ball's left edge
    EXPECT_GT(edge, 0u);
    EXPECT_LT(edge, 255u);

    // The whole-mask path gives the window's render (filter, then the selection), byte for
    // byte, with every blend of grey and strength.
    const std::vector<std::string> args{
        "--cc", "220,40,30",  "--model", "hue",      "--feather", "3",  "--grey",
        "luma", "--strength", "70",      "--filter", "in",        "-o", "out.png"};
    const Result blended = Keep(file, {args.begin(), args.end() - 3});
    TBitmap32 picture;
    ReadPictureBytes(picture,
                     std::span(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()));
    const SelectionRule rule(SelectionOf(ParseArguments(args)));
    TBitmap32 hard;
    BuildHardMask(picture, rule, hard);
    FilterMask(hard);
    TBitmap32 render;
    TBitmap32 coverage;
    FinishSelection(picture, hard, rule.Options(), nullptr, render, coverage);
    EXPECT_TRUE(std::equal(blended.render.pixels.begin(), blended.render.pixels.end(),
                           render.Bits(), render.Bits() + render.PixelCount()));
    EXPECT_TRUE(std::equal(blended.mask.pixels.begin(), blended.mask.pixels.end(), coverage.Bits(),
                           coverage.Bits() + coverage.PixelCount()));
}

TEST(CliSelection, PickReadsThePixelOfThePictureTurnedUpright) {
    // Stored 32 x 16: a red top-left quadrant, blue elsewhere. Orientation 6 shows it turned a
    // quarter clockwise, so the upright picture's first pixel is blue, the stored one's red.
    TBitmap32 stored = test::MakeFilled(32, 16, Rgb(30, 40, 220));
    for (std::int32_t y = 0; y < 8; ++y) {
        for (std::int32_t x = 0; x < 16; ++x) {
            stored.SetPixelAt(x, y, Rgb(220, 40, 30));
        }
    }
    const std::string jpeg =
        test::WithAppMarker(test::EncodeReferenceJpeg(stored), 1, test::ExifPayload(6));
    const std::vector<std::string> pick{"--pick", "0,0", "--thresholds", "60"};
    const Result upright = Keep(jpeg, pick);
    EXPECT_EQ(upright.render.width, 16);
    EXPECT_EQ(upright.render.height, 32);
    EXPECT_GT(upright.mask.Count(MaskKept), 32u * 16u * 2u / 3u);

    std::vector<std::string> asStored = pick;
    asStored.push_back("--no-auto-orient");
    const Result stored_ = Keep(jpeg, asStored);
    EXPECT_EQ(stored_.render.width, 32);
    EXPECT_LT(stored_.mask.Count(MaskKept), 32u * 16u / 3u);

    // A point outside the upright picture (16 wide) is an error naming it.
    try {
        Keep(jpeg, {"--pick", "20,0", "--thresholds", "60"});
        ADD_FAILURE() << "no error for a point outside";
    } catch (const PickError& error) {
        EXPECT_NE(std::string(error.what()).find("20,0"), std::string::npos) << error.what();
    }
}

} // namespace
} // namespace tintavo::cli
