#include "engine/PictureStream.h"
#include "engine/EngineError.h"
#include "engine/JpegWriter.h"
#include "engine/MaskFilter.h"

#include "TestPictures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace tintavo {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// Gathers the rows it is given into a bitmap.
class BitmapSink final : public RowSink {
public:
    void Start(std::int32_t width, std::int32_t height) override {
        picture.Resize(width, height);
        next = 0;
    }
    void WriteRows(const TColor32* rows, std::int32_t count) override {
        std::copy_n(rows, static_cast<std::size_t>(count) * picture.Width(),
                    picture.ScanLine(next));
        next += count;
    }
    void Finish() override { finished = next == picture.Height(); }

    TBitmap32 picture;
    std::int32_t next = 0;
    bool finished = false;
};

bool SamePixels(const TBitmap32& a, const TBitmap32& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() &&
           std::equal(a.Bits(), a.Bits() + a.PixelCount(), b.Bits());
}

// A JPEG with an EXIF block that gives `orientation`, put right after the start marker.
std::string WithOrientation(const std::string& jpeg, int orientation) {
    std::string exif("\xFF\xE1\x00\x22"
                     "Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0",
                     28);
    exif += static_cast<char>(orientation);
    exif += std::string(7, '\0');
    return jpeg.substr(0, 2) + exif + jpeg.substr(2);
}

// Streams `file` and compares every result with the whole-picture path's.
void ExpectLikeWholePath(const std::string& file, const KeepSettings& settings,
                         bool autoOrient = true) {
    PictureReadOptions options;
    options.AutoOrient = autoOrient;
    TBitmap32 source;
    ReadPictureBytes(source, Bytes(file), options);
    TBitmap32 render;
    TBitmap32 mask;
    RenderPixels(source, settings.Cc, settings.Limits, render, mask);
    if (settings.Filter) {
        FilterMask(mask);
        RecomposePicture(source, mask, render);
    }

    const std::unique_ptr<RowSource> rows = OpenPictureRows(Bytes(file), options);
    BitmapSink streamedRender;
    BitmapSink streamedMask;
    KeepColours(*rows, settings, streamedRender, &streamedMask);
    EXPECT_TRUE(streamedRender.finished && streamedMask.finished);
    EXPECT_TRUE(SamePixels(streamedRender.picture, render)) << "rendered picture";
    EXPECT_TRUE(SamePixels(streamedMask.picture, mask)) << "mask";

    const std::unique_ptr<RowSource> again = OpenPictureRows(Bytes(file), options);
    JpegRowEncoder encoder;
    KeepColours(*again, settings, encoder);
    EXPECT_TRUE(encoder.TakeStream() == EncodeJpeg(render)) << "JPEG bytes";
}

TEST(PictureStream, GivesTheWholePicturePathsResults) {
    const KeepSettings plain{{200, 60, 50}, {60, 50, 50}, false};
    const KeepSettings filtered{{200, 60, 50}, {60, 50, 50}, true};
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{17, 9}, std::pair{333, 211},
                               std::pair{64, 600}, std::pair{1001, 67}}) {
        const TBitmap32 photo = test::MakePhoto(w, h, 3);
        std::vector<std::pair<std::string, std::string>> files = {
            {"colour", test::EncodeReferenceJpeg(photo)},
            {"grey", test::EncodeReferenceJpeg(photo, {.Grey = true})},
            {"progressive", test::EncodeReferenceJpeg(photo, {.Progressive = true})},
            {"bitmap", test::EncodeBitmap(photo, 24)},
        };
        const std::string colour = files.front().second;
        if (colour.size() > 4000) {
            files.emplace_back("truncated", colour.substr(0, colour.size() * 3 / 5));
        }
        for (const auto& [kind, file] : files) {
            for (const KeepSettings& settings : {plain, filtered}) {
                SCOPED_TRACE(testing::Message() << kind << ' ' << w << " x " << h
                                                << (settings.Filter ? " filtered" : ""));
                ExpectLikeWholePath(file, settings);
            }
        }
    }
}

TEST(PictureStream, TurnedPicturesComeOutAsTheReaderTurnsThem) {
    const std::string stored = test::EncodeReferenceJpeg(test::MakePhoto(45, 30, 5));
    for (const int orientation : {1, 2, 3, 6, 8}) {
        SCOPED_TRACE(testing::Message() << "orientation " << orientation);
        const std::string file = WithOrientation(stored, orientation);
        ExpectLikeWholePath(file, {{200, 60, 50}, {60, 50, 50}, true});
        ExpectLikeWholePath(file, {{200, 60, 50}, {60, 50, 50}, false}, false);
        JpegMetadata metadata;
        PictureReadOptions options;
        options.Metadata = &metadata;
        const std::unique_ptr<RowSource> rows = OpenPictureRows(Bytes(file), options);
        EXPECT_EQ(metadata.Orientation, orientation);
        EXPECT_EQ(metadata.TurnedUpright, orientation != 1);
        EXPECT_EQ(rows->Width(), orientation >= 5 ? 30 : 45);
    }
}

TEST(PictureStream, BadPicturesFailWithTheReadersErrors) {
    const std::string photo = test::EncodeReferenceJpeg(test::MakePhoto(64, 48));
    // A header claiming far more pixels than such a file can hold.
    std::string huge = photo;
    const std::size_t frame = huge.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    huge.replace(frame + 5, 4, "\x4E\x20\x4E\x20"); // 20000 x 20000
    const std::vector<std::string> bad = {"short", std::string(100, 'x'), photo.substr(0, 60),
                                          huge};
    for (const std::string& file : bad) {
        std::string expected;
        try {
            TBitmap32 whole;
            ReadPictureBytes(whole, Bytes(file));
        } catch (const EngineError& error) {
            expected = error.what();
        }
        std::string streamed;
        try {
            const std::unique_ptr<RowSource> rows = OpenPictureRows(Bytes(file));
            BitmapSink sink;
            KeepColours(*rows, {}, sink);
        } catch (const EngineError& error) {
            streamed = error.what();
        }
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(streamed, expected);
    }
}

// A sink that gives up after some rows, as a full disk does.
class FailingSink final : public RowSink {
public:
    void Start(std::int32_t, std::int32_t) override {}
    void WriteRows(const TColor32*, std::int32_t count) override {
        rows += count;
        if (rows > 40) {
            throw EngineError("cannot write the file");
        }
    }
    void Finish() override {}
    std::int32_t rows = 0;
};

TEST(PictureStream, ASinkThatFailsStopsTheDecoder) {
    const std::string photo = test::EncodeReferenceJpeg(test::MakePhoto(50, 400));
    for (const bool filter : {false, true}) {
        const std::unique_ptr<RowSource> rows = OpenPictureRows(Bytes(photo));
        FailingSink sink;
        KeepSettings settings;
        settings.Filter = filter;
        EXPECT_THROW(KeepColours(*rows, settings, sink), EngineError);
    }
}

#if !defined(__SANITIZE_ADDRESS__)
std::uint64_t StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::stoull(line.substr(std::string(field).size()));
        }
    }
    return 0;
}

TEST(PictureStream, MemoryDoesNotGrowWithTheHeight) {
    // 1600 x 20000 pixels: 128 MB as one bitmap, 384 MB with the render and the mask.
    constexpr std::int32_t width = 1600;
    constexpr std::int32_t height = 20000;
    JpegRowEncoder maker;
    maker.Start(width, height);
    std::vector<TColor32> row(width);
    test::TestRandom random(7);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            row[x] = 0xFF000000u | ((x + y) & 0xFF) << 16 | (y / 80 & 0xFF) << 8 |
                     (random.Next() & 0x1F);
        }
        maker.WriteRows(row.data(), 1);
    }
    maker.Finish();
    std::vector<std::uint8_t> file = maker.TakeStream();
    const std::uint64_t fileKiB = file.size() / 1024;

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> sink(std::fopen("/dev/null", "wb"),
                                                         std::fclose);
    ASSERT_TRUE(sink);
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5"; // the peak starts again from here
    clear.close();
    if (!clear) {
        GTEST_SKIP() << "the peak memory cannot be reset here";
    }
    const std::uint64_t before = StatusKiB("VmRSS:");
    {
        const std::unique_ptr<RowSource> rows = OpenPictureRows(std::move(file));
        JpegRowEncoder encoder(sink.get());
        KeepColours(*rows, {{200, 60, 50}, {60, 50, 50}, false}, encoder);
    }
    const std::uint64_t peak = StatusKiB("VmHWM:");
    EXPECT_LT(peak - before, 24 * 1024 + fileKiB) << "KiB above the start: " << peak - before;
}
#endif

} // namespace
} // namespace tintavo
