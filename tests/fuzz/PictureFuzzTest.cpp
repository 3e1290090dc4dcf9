#include "engine/EngineError.h"
#include "engine/PictureReader.h"
#include "engine/PictureStream.h"

#include "TestPictures.h"
#include "common/TestSandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

// Feeds many mutated JPEG and bitmap files through the picture reader. Every read must either
// succeed or fail with the engine's error; the sanitizer build turns any read or write outside
// a buffer into a failure. The mutations are seeded, so every run tries the same files.
namespace tintavo {
namespace {

std::vector<std::string> Seeds() {
    const TBitmap32 photo = test::MakePhoto(40, 24, 12);
    test::JpegSettings grey;
    grey.Grey = true;
    test::JpegSettings progressive;
    progressive.Progressive = true;
    // An EXIF orientation and an ICC profile chunk, so that mutations reach libexif and the
    // profile assembly too.
    const std::string icc = std::string("ICC_PROFILE\0\1\1", 14) + std::string(40, '\x11');
    return {
        test::EncodeReferenceJpeg(photo),
        test::WithAppMarker(test::WithAppMarker(test::EncodeReferenceJpeg(photo), 2, icc), 1,
                            test::ExifPayload(6)),
        test::WithAppMarker(test::EncodeReferenceJpeg(photo, grey), 1, test::ExifPayload(7, true)),
        test::EncodeReferenceJpeg(photo, grey),
        test::EncodeReferenceJpeg(photo, progressive),
        test::EncodeBitmap(photo, 8),
        test::EncodeBitmap(photo, 24),
        test::EncodeBitmap(photo, 32, true),
        test::RunLength8Bitmap(),
        test::RunLength4Bitmap(),
    };
}

std::string Mutate(std::string bytes, test::TestRandom& random) {
    const std::uint32_t steps = 1 + random.Below(6);
    for (std::uint32_t step = 0; step < steps && !bytes.empty(); ++step) {
        const std::size_t at = random.Below(static_cast<std::uint32_t>(bytes.size()));
        switch (random.Below(7)) {
        case 0:
            bytes[at] = static_cast<char>(bytes[at] ^ (1 << random.Below(8)));
            break;
        case 1:
            bytes[at] = static_cast<char>(random.Below(256));
            break;
        case 2: // the interesting values of sizes and markers
            bytes[at] = static_cast<char>(random.Below(2) != 0 ? 0xFF : 0x00);
            break;
        case 3:
            bytes.resize(at);
            break;
        case 4:
            bytes.insert(at, bytes.substr(random.Below(static_cast<std::uint32_t>(bytes.size())),
                                          random.Below(64)));
            break;
        case 5:
            bytes.erase(at, random.Below(32));
            break;
        default: // early bytes hold the headers: hit them more often
            if (bytes.size() > 60) {
                bytes[random.Below(60)] = static_cast<char>(random.Below(256));
            }
            break;
        }
    }
    return bytes;
}

TEST(PictureFuzz, MutatedFilesReadOrFailCleanly) {
    test::TestSandbox sandbox;
    const std::vector<std::string> seeds = Seeds();
    const auto path = sandbox.root() / "fuzz.jpg";
    PictureReadOptions options;
    options.MaxPixels = 1 << 20; // a mutated size must not cost the run gigabytes
    JpegMetadata metadata;
    options.Metadata = &metadata;
    test::TestRandom random(2024);
    int read = 0;
    int failed = 0;
    for (int round = 0; round < 3000; ++round) {
        const std::string bytes =
            Mutate(seeds[static_cast<std::size_t>(round) % seeds.size()], random);
        test::writeFile(path, bytes);
        TBitmap32 bitmap;
        try {
            ReadPictureFile(bitmap, path, options);
            ++read;
            for (std::size_t i = 0; i < bitmap.PixelCount(); i += 97) {
                (void)bitmap.Bits()[i];
            }
        } catch (const EngineError&) {
            ++failed;
        } catch (const std::exception& error) {
            ADD_FAILURE() << "round " << round << ": unexpected " << error.what();
        }
    }
    // Both outcomes must actually occur, or the mutations test nothing.
    EXPECT_GT(read, 100);
    EXPECT_GT(failed, 100);
}

// Gathers rows into a bitmap.
class BitmapSink final : public RowSink {
public:
    void Start(std::int32_t width, std::int32_t height) override { picture.Resize(width, height); }
    void WriteRows(const TColor32* rows, std::int32_t count) override {
        std::copy_n(rows, static_cast<std::size_t>(count) * picture.Width(),
                    picture.ScanLine(next));
        next += count;
    }
    void Finish() override {}
    TBitmap32 picture;
    std::int32_t next = 0;
};

TEST(PictureFuzz, MutatedFilesStreamAsTheyRead) {
    const std::vector<std::string> seeds = Seeds();
    PictureReadOptions options;
    options.MaxPixels = 1 << 20;
    test::TestRandom random(77);
    // Thresholds that keep every pixel: the rendered rows are the pixels as read.
    const KeepSettings keepAll{{128, 128, 128}, {255, 255, 255}, false};
    for (int round = 0; round < 1500; ++round) {
        const std::string file =
            Mutate(seeds[static_cast<std::size_t>(round) % seeds.size()], random);
        const std::vector<std::uint8_t> bytes(file.begin(), file.end());
        TBitmap32 whole;
        std::string wholeError;
        try {
            ReadPictureBytes(whole, bytes, options);
        } catch (const EngineError& error) {
            wholeError = error.what();
        }
        BitmapSink sink;
        std::string streamError;
        try {
            const std::unique_ptr<RowSource> rows = OpenPictureRows(bytes, options);
            KeepColours(*rows, keepAll, sink);
        } catch (const EngineError& error) {
            streamError = error.what();
        }
        ASSERT_EQ(streamError, wholeError) << "round " << round;
        if (wholeError.empty()) {
            ASSERT_TRUE(
                sink.picture.Width() == whole.Width() && sink.picture.Height() == whole.Height() &&
                std::equal(whole.Bits(), whole.Bits() + whole.PixelCount(), sink.picture.Bits()))
                << "round " << round;
        }
    }
}

} // namespace
} // namespace tintavo
