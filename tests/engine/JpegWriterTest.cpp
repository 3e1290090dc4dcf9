#include "engine/JpegWriter.h"
#include "engine/EngineError.h"
#include "engine/PictureReader.h"

#include "TestPictures.h"
#include "common/TestSandbox.h"

#include <gtest/gtest.h>

#include <string>

namespace tintavo {
namespace {

std::string AsString(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(JpegWriter, IsByteIdenticalToLibjpegDefaultsAtQuality90) {
    for (const auto& [w, h] :
         {std::pair{1, 1}, std::pair{17, 9}, std::pair{640, 480}, std::pair{333, 2}}) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        TBitmap32 photo = test::MakePhoto(w, h, 6);
        // Alpha must not reach the file.
        for (std::size_t i = 0; i < photo.PixelCount(); i += 3) {
            photo.Bits()[i] &= 0x00FFFFFFu;
        }
        EXPECT_TRUE(AsString(EncodeJpeg(photo)) == test::EncodeReferenceJpeg(photo));
    }
}

TEST(JpegWriter, WritesABaselineJfifFileOfThreeComponents) {
    const std::string bytes = AsString(EncodeJpeg(test::MakeFilled(24, 16, GreyPixel(90, 255))));
    ASSERT_GT(bytes.size(), 20u);
    EXPECT_EQ(bytes.substr(0, 4), "\xFF\xD8\xFF\xE0");
    EXPECT_EQ(bytes.substr(6, 5), std::string("JFIF\0", 5));
    const std::size_t sof = bytes.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos) << "baseline frame";
    EXPECT_EQ(bytes[sof + 9], 3) << "grey pixels still give a colour file";
    EXPECT_EQ(bytes[sof + 11], 0x22) << "luminance sampled 2 x 2 against chrominance";
    EXPECT_EQ(bytes.find("\xFF\xC2"), std::string::npos);
    EXPECT_EQ(bytes.find("\xFF\xDD"), std::string::npos) << "no restart interval";
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\xFF\xD9");
}

TEST(JpegWriter, WritesTheStreamToAFileAndReadsBack) {
    test::TestSandbox sandbox;
    const TBitmap32 photo = test::MakePhoto(48, 32);
    const auto path = sandbox.root() / "export.jpg";
    test::writeFile(path, std::string(100000, 'x')); // replaced, not appended to
    WriteJpegFile(photo, path);
    const std::string written = test::readFile(path);
    EXPECT_EQ(written, AsString(EncodeJpeg(photo)));
    TBitmap32 back;
    ReadPictureFile(back, path);
    EXPECT_EQ(back.Width(), 48);
    EXPECT_EQ(back.Height(), 32);
}

TEST(JpegWriter, FailuresNameTheFile) {
    test::TestSandbox sandbox;
    const auto path = sandbox.root() / "no-such-folder" / "export.jpg";
    try {
        WriteJpegFile(test::MakePhoto(8, 8), path);
        FAIL() << "expected an error";
    } catch (const EngineError& error) {
        EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos) << error.what();
    }
    EXPECT_THROW(EncodeJpeg(TBitmap32{}), EngineError);
    TBitmap32 tooWide;
    tooWide.Resize(70000, 1);
    EXPECT_THROW(EncodeJpeg(tooWide), EngineError);
}

} // namespace
} // namespace tintavo
