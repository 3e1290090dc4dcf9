#include "PngWriter.h"

#include "TestPictures.h"

#include <gtest/gtest.h>

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace tintavo::cli {
namespace {

// Writes rows in uneven groups, as the stream hands them over.
std::vector<std::uint8_t> Encode(const TBitmap32& picture, PngLayout layout) {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* file = open_memstream(&data, &size);
    {
        PngRowEncoder encoder(file, layout);
        encoder.Start(picture.Width(), picture.Height());
        for (std::int32_t y = 0; y < picture.Height();) {
            const std::int32_t count = std::min(y % 7 + 1, picture.Height() - y);
            encoder.WriteRows(picture.ScanLine(y), count);
            y += count;
        }
        encoder.Finish();
    }
    std::fclose(file);
    std::vector<std::uint8_t> bytes(data, data + size);
    std::free(data);
    return bytes;
}

// Decodes with libpng into one value per channel.
std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& png, png_uint_32 format,
                                 std::int32_t& width, std::int32_t& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) {
        ADD_FAILURE() << image.message;
        return {};
    }
    image.format = format;
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        ADD_FAILURE() << image.message;
    }
    width = static_cast<std::int32_t>(image.width);
    height = static_cast<std::int32_t>(image.height);
    return pixels;
}

TEST(PngRowEncoder, DecodesToThePixelsWrittenInEveryBandAndLayout) {
    // 700 x 600 spans two bands of deflated rows; 13 x 1 and 1 x 1 a single short one.
    for (const auto& [w, h] :
         {std::pair{1, 1}, std::pair{13, 1}, std::pair{9, 33}, std::pair{700, 600}}) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        const TBitmap32 photo = test::MakePhoto(w, h, 9);
        std::int32_t width = 0;
        std::int32_t height = 0;
        const std::vector<std::uint8_t> rgb =
            Decode(Encode(photo, PngLayout::Rgb), PNG_FORMAT_RGB, width, height);
        ASSERT_EQ(width, w);
        ASSERT_EQ(height, h);
        bool same = true;
        for (std::size_t i = 0; i < photo.PixelCount(); ++i) {
            const TColor32 col = photo.Bits()[i];
            same &= rgb[3 * i] == RedOf(col) && rgb[3 * i + 1] == GreenOf(col) &&
                    rgb[3 * i + 2] == BlueOf(col);
        }
        EXPECT_TRUE(same) << "colour pixels";

        TBitmap32 mask;
        mask.Resize(w, h);
        for (std::size_t i = 0; i < mask.PixelCount(); ++i) {
            mask.Bits()[i] = (i * 7919 % 11) < 5 ? MaskKept : MaskGreyed;
        }
        const std::vector<std::uint8_t> grey =
            Decode(Encode(mask, PngLayout::Mask1Bit), PNG_FORMAT_GRAY, width, height);
        same = true;
        for (std::size_t i = 0; i < mask.PixelCount(); ++i) {
            same &= grey[i] == (mask.Bits()[i] == MaskKept ? 255 : 0);
        }
        EXPECT_TRUE(same) << "mask pixels";

        for (std::size_t i = 0; i < mask.PixelCount(); ++i) {
            mask.Bits()[i] = GreyPixel(static_cast<std::uint32_t>(i * 37 % 256), 255);
        }
        const std::vector<std::uint8_t> coverage =
            Decode(Encode(mask, PngLayout::Grey8), PNG_FORMAT_GRAY, width, height);
        same = true;
        for (std::size_t i = 0; i < mask.PixelCount(); ++i) {
            same &= coverage[i] == BlueOf(mask.Bits()[i]);
        }
        EXPECT_TRUE(same) << "coverage pixels";
    }
}

TEST(PngRowEncoder, AFailedWriteIsAnError) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> full(std::fopen("/dev/full", "wb"),
                                                         std::fclose);
    ASSERT_TRUE(full);
    std::setvbuf(full.get(), nullptr, _IONBF, 0);
    const TBitmap32 photo = test::MakePhoto(40, 30);
    PngRowEncoder encoder(full.get(), PngLayout::Rgb);
    EXPECT_THROW(
        {
            encoder.Start(40, 30);
            encoder.WriteRows(photo.Bits(), 30);
            encoder.Finish();
        },
        std::runtime_error);
}

} // namespace
} // namespace tintavo::cli
