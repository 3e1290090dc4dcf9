#include "engine/PictureReader.h"
#include "engine/EngineError.h"
#include "engine/JpegMetadata.h"
#include "engine/MemoryBudget.h"

#include "TestPictures.h"
#include "common/TestSandbox.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdlib>
#include <limits>
#include <set>
#include <vector>

#include <jpeglib.h>
#include <string>

namespace tintavo {
namespace {

namespace fs = std::filesystem;

class PictureReader : public testing::Test {
protected:
    fs::path Write(const std::string& name, const std::string& bytes) {
        const fs::path path = sandbox_.root() / name;
        test::writeFile(path, bytes);
        return path;
    }

    // Reads and expects a clean failure whose text contains `expected`.
    void ExpectFailure(const fs::path& path, const std::string& expected,
                       const PictureReadOptions& options = {}) {
        TBitmap32 bitmap;
        try {
            ReadPictureFile(bitmap, path, options);
            ADD_FAILURE() << path << " was read as " << bitmap.Width() << " x " << bitmap.Height();
        } catch (const EngineError& error) {
            EXPECT_NE(std::string(error.what()).find(expected), std::string::npos)
                << "message: " << error.what();
        }
    }

    test::TestSandbox sandbox_;
};

testing::AssertionResult SamePixels(const TBitmap32& a, const TBitmap32& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) {
        return testing::AssertionFailure() << a.Width() << " x " << a.Height() << " against "
                                           << b.Width() << " x " << b.Height();
    }
    for (std::int32_t y = 0; y < a.Height(); ++y) {
        for (std::int32_t x = 0; x < a.Width(); ++x) {
            if (a.PixelAt(x, y) != b.PixelAt(x, y)) {
                return testing::AssertionFailure()
                       << std::hex << "at (" << std::dec << x << ", " << y << "): " << std::hex
                       << a.PixelAt(x, y) << " against " << b.PixelAt(x, y);
            }
        }
    }
    return testing::AssertionSuccess();
}

TEST_F(PictureReader, ColourJpegGivesLibjpegsPixelsWithAlpha255) {
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{37, 23}, std::pair{160, 120}}) {
        const std::string bytes = test::EncodeReferenceJpeg(test::MakePhoto(w, h, 4));
        TBitmap32 bitmap;
        int changes = 0;
        bitmap.SetOnChange([&changes] { ++changes; });
        bitmap.ReadPictureFile(Write("photo.jpg", bytes));
        EXPECT_TRUE(SamePixels(bitmap, test::DecodeReferenceJpeg(bytes)));
        EXPECT_GE(changes, 1);
    }
    // Progressive files decode through the same library path.
    test::JpegSettings progressive;
    progressive.Progressive = true;
    const std::string bytes = test::EncodeReferenceJpeg(test::MakePhoto(50, 40), progressive);
    TBitmap32 bitmap;
    ReadPictureFile(bitmap, Write("progressive.jpg", bytes));
    EXPECT_TRUE(SamePixels(bitmap, test::DecodeReferenceJpeg(bytes)));
}

TEST_F(PictureReader, GreyJpegIsReducedTo236Levels) {
    TBitmap32 ramp;
    ramp.Resize(256, 8);
    for (std::int32_t y = 0; y < 8; ++y) {
        for (std::int32_t x = 0; x < 256; ++x) {
            ramp.SetPixelAt(x, y, GreyPixel(static_cast<std::uint32_t>(x), 255));
        }
    }
    test::JpegSettings grey;
    grey.Grey = true;
    grey.Quality = 100;
    TBitmap32 bitmap;
    ReadPictureFile(bitmap, Write("grey.jpg", test::EncodeReferenceJpeg(ramp, grey)));
    ASSERT_EQ(bitmap.Width(), 256);
    std::set<std::uint32_t> levels;
    for (std::size_t i = 0; i < bitmap.PixelCount(); ++i) {
        const TColor32 col = bitmap.Bits()[i];
        ASSERT_EQ(col >> 24, 255u);
        ASSERT_EQ(RedOf(col), GreenOf(col));
        ASSERT_EQ(RedOf(col), BlueOf(col));
        levels.insert(RedOf(col));
    }
    EXPECT_LE(levels.size(), 236u);
    EXPECT_GE(levels.size(), 200u);
    // 236 evenly spaced levels from 0 to 255: only those values appear.
    for (const std::uint32_t level : levels) {
        bool onTheScale = false;
        for (std::uint32_t j = 0; j < 236; ++j) {
            onTheScale |= (j * 255 + 117) / 235 == level;
        }
        EXPECT_TRUE(onTheScale) << level;
    }
}

// Adobe CMYK JPEGs store inverted inks: all samples at 255 is white paper.
TEST_F(PictureReader, CmykJpegComesOutAsRgb) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = 16;
    info.image_height = 16;
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(16 * 4);
    for (int x = 0; x < 16; ++x) {
        const bool paper = x < 8;
        row[4 * x] = 255;
        row[4 * x + 1] = paper ? 255 : 0;
        row[4 * x + 2] = paper ? 255 : 0;
        row[4 * x + 3] = 255;
    }
    while (info.next_scanline < info.image_height) {
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const std::string bytes(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);

    TBitmap32 bitmap;
    ReadPictureFile(bitmap, Write("cmyk.jpg", bytes));
    ASSERT_EQ(bitmap.Width(), 16);
    const auto near = [](TColor32 a, TColor32 b) {
        const auto close = [](std::uint32_t u, std::uint32_t v) {
            return (u > v ? u - v : v - u) <= 3;
        };
        return (a >> 24) == (b >> 24) && close(RedOf(a), RedOf(b)) &&
               close(GreenOf(a), GreenOf(b)) && close(BlueOf(a), BlueOf(b));
    };
    EXPECT_TRUE(near(bitmap.PixelAt(2, 8), 0xFFFFFFFFu)) << std::hex << bitmap.PixelAt(2, 8);
    EXPECT_TRUE(near(bitmap.PixelAt(13, 8), 0xFFFF0000u)) << std::hex << bitmap.PixelAt(13, 8);
}

TEST_F(PictureReader, TruncatedJpegGivesThePictureAsFarAsItDecodes) {
    const TBitmap32 photo = test::MakePhoto(64, 96, 8);
    const std::string bytes = test::EncodeReferenceJpeg(photo);
    const TBitmap32 full = test::DecodeReferenceJpeg(bytes);
    TBitmap32 bitmap;
    ReadPictureFile(bitmap, Write("cut.jpg", bytes.substr(0, bytes.size() * 3 / 4)));
    ASSERT_EQ(bitmap.Width(), 64);
    ASSERT_EQ(bitmap.Height(), 96);
    // The first rows of blocks arrived whole; the rows next to the second one also depend on
    // its colour samples.
    for (std::int32_t y = 0; y < 14; ++y) {
        for (std::int32_t x = 0; x < 64; ++x) {
            ASSERT_EQ(bitmap.PixelAt(x, y), full.PixelAt(x, y)) << x << ", " << y;
        }
    }
    for (std::size_t i = 0; i < bitmap.PixelCount(); ++i) {
        ASSERT_EQ(bitmap.Bits()[i] >> 24, 255u);
    }
}

TEST_F(PictureReader, FilesThatAreNotPicturesFailCleanly) {
    const std::string jpeg = test::EncodeReferenceJpeg(test::MakePhoto(16, 16));
    ExpectFailure(Write("empty.jpg", ""), "too short");
    ExpectFailure(Write("forty.jpg", jpeg.substr(0, 40)), "too short");
    ExpectFailure(Write("fifty-four.jpg", jpeg.substr(0, 54)), "");
    ExpectFailure(Write("text.jpg", std::string(200, 'x') + "\nThis is plain text, honestly.\n"),
                  "Not a JPEG file");
    ExpectFailure(sandbox_.root() / "missing.jpg", "Cannot open");
    ExpectFailure(sandbox_.root(), "Not a picture file");
    std::string corrupt = jpeg;
    corrupt[jpeg.find("\xFF\xC0") + 4] = 12; // a sample precision libjpeg does not decode
    ExpectFailure(Write("corrupt.jpg", corrupt), "precision");
}

// Sets the height and width of a JPEG's frame header (baseline unless another SOF is named).
std::string WithFrameSize(std::string jpeg, std::uint16_t width, std::uint16_t height,
                          const char* frame = "\xFF\xC0") {
    const std::size_t sof = jpeg.find(frame, 2);
    jpeg[sof + 5] = static_cast<char>(height >> 8);
    jpeg[sof + 6] = static_cast<char>(height & 0xFF);
    jpeg[sof + 7] = static_cast<char>(width >> 8);
    jpeg[sof + 8] = static_cast<char>(width & 0xFF);
    return jpeg;
}

TEST_F(PictureReader, PictureTooLargeToAllocateFailsBeforeDecoding) {
    const std::string jpeg = test::EncodeReferenceJpeg(test::MakePhoto(16, 16));
    TBitmap32 bitmap;
    bitmap.Resize(4, 4);
    EXPECT_THROW(ReadPictureFile(bitmap, Write("huge.jpg", WithFrameSize(jpeg, 65500, 65500))),
                 EngineError);
    EXPECT_TRUE(bitmap.IsEmpty() || bitmap.Width() == 4);

    PictureReadOptions small;
    small.MaxPixels = 100 * 100;
    ExpectFailure(Write("large.jpg", WithFrameSize(jpeg, 3000, 3000)),
                  "Can't allocate the DIB handle", small);
}

TEST_F(PictureReader, BitmapsOf8And24BitsAreDecodedOpaque) {
    const TBitmap32 photo = test::MakePhoto(13, 7, 2); // odd width: rows carry padding
    TBitmap32 bitmap;
    ReadPictureFile(bitmap, Write("photo24.bmp", test::EncodeBitmap(photo, 24)));
    EXPECT_TRUE(SamePixels(bitmap, photo));
    ReadPictureFile(bitmap, Write("top-down24.bmp", test::EncodeBitmap(photo, 24, true)));
    EXPECT_TRUE(SamePixels(bitmap, photo));

    ReadPictureFile(bitmap, Write("grey8.bmp", test::EncodeBitmap(photo, 8)));
    ASSERT_EQ(bitmap.Width(), 13);
    for (std::int32_t y = 0; y < 7; ++y) {
        for (std::int32_t x = 0; x < 13; ++x) {
            ASSERT_EQ(bitmap.PixelAt(x, y), GreyPixel(RedOf(photo.PixelAt(x, y)), 255));
        }
    }
}

TEST_F(PictureReader, PaletteAnd16BitBitmapsAreDecoded) {
    const TBitmap32 photo = test::MakePhoto(21, 5, 5);
    TBitmap32 bitmap;
    for (const int bits : {1, 4}) {
        SCOPED_TRACE(bits);
        ReadPictureFile(bitmap, Write("palette.bmp", test::EncodeBitmap(photo, bits)));
        ASSERT_EQ(bitmap.Width(), 21);
        const std::uint32_t levels = (1u << bits) - 1;
        for (std::int32_t y = 0; y < 5; ++y) {
            for (std::int32_t x = 0; x < 21; ++x) {
                const std::uint32_t index = RedOf(photo.PixelAt(x, y)) >> (8 - bits);
                ASSERT_EQ(bitmap.PixelAt(x, y), GreyPixel(index * 255 / levels, 255));
            }
        }
    }
    ReadPictureFile(bitmap, Write("555.bmp", test::EncodeBitmap(photo, 16)));
    for (std::int32_t y = 0; y < 5; ++y) {
        for (std::int32_t x = 0; x < 21; ++x) {
            const TColor32 col = photo.PixelAt(x, y);
            const auto widen = [](std::uint32_t c) { return (c & 0xF8u) | (c >> 5); };
            ASSERT_EQ(bitmap.PixelAt(x, y), 0xFF000000u | widen(RedOf(col)) << 16 |
                                                widen(GreenOf(col)) << 8 | widen(BlueOf(col)));
        }
    }
}

TEST_F(PictureReader, Bitmaps32BitAreCopiedAsStored) {
    TBitmap32 photo = test::MakePhoto(5, 4, 3);
    for (std::size_t i = 0; i < photo.PixelCount(); ++i) {
        photo.Bits()[i] = (photo.Bits()[i] & 0x00FFFFFFu) | static_cast<TColor32>(i * 9) << 24;
    }
    TBitmap32 bitmap;
    ReadPictureFile(bitmap, Write("bottom-up.bmp", test::EncodeBitmap(photo, 32)));
    EXPECT_TRUE(SamePixels(bitmap, photo));
    ReadPictureFile(bitmap, Write("top-down.bmp", test::EncodeBitmap(photo, 32, true)));
    EXPECT_TRUE(SamePixels(bitmap, photo));
}

std::string Bytes32(std::initializer_list<std::uint32_t> values) {
    std::string out;
    for (const std::uint32_t v : values) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        }
    }
    return out;
}

constexpr TColor32 Black = 0xFF000000u;
constexpr TColor32 Red = 0xFFFF0000u;
constexpr TColor32 Green = 0xFF00FF00u;
constexpr TColor32 Blue = 0xFF0000FFu;

std::vector<TColor32> PixelsOf(const TBitmap32& bitmap) {
    return {bitmap.Bits(), bitmap.Bits() + bitmap.PixelCount()};
}

TEST_F(PictureReader, BitmapsWithChannelMasksAreDecodedOpaque) {
    TBitmap32 bitmap;
    // Five, six and five bits: full channels widen to 255, others repeat their bits.
    const std::string pixels565("\x00\xF8\xE0\x07\x1F\x00\x10\x84", 8);
    ReadPictureFile(
        bitmap, Write("565.bmp", test::BitmapFile(40, 4, 1, 16, 3,
                                                  Bytes32({0xF800, 0x07E0, 0x001F}), pixels565)));
    EXPECT_EQ(PixelsOf(bitmap), (std::vector<TColor32>{Red, Green, Blue, 0xFF848284u}));
    // Red in the low byte, the top byte unused: decoded, not copied, so alpha is 255.
    ReadPictureFile(bitmap, Write("rgbx.bmp", test::BitmapFile(40, 2, 1, 32, 3,
                                                               Bytes32({0xFF, 0xFF00, 0xFF0000}),
                                                               Bytes32({0x00332211, 0x7FCCBBAA}))));
    EXPECT_EQ(PixelsOf(bitmap), (std::vector<TColor32>{0xFF112233u, 0xFFAABBCCu}));
    // A larger header holds the masks at the same place, and the pixels start where the file
    // header says, not right after the first 54 bytes.
    std::string masks = Bytes32({0xFF0000, 0xFF00, 0xFF});
    std::string v5 = test::BitmapFile(124, 1, 1, 32, 3, "", Bytes32({0x00123456}));
    v5.replace(54, masks.size(), masks);
    ReadPictureFile(bitmap, Write("v5.bmp", v5));
    EXPECT_EQ(PixelsOf(bitmap), (std::vector<TColor32>{0xFF123456u}));
}

TEST_F(PictureReader, RunLengthAndOldHeaderBitmapsAreDecoded) {
    TBitmap32 bitmap;
    ReadPictureFile(bitmap, Write("rle8.bmp", test::RunLength8Bitmap()));
    EXPECT_EQ(PixelsOf(bitmap), (std::vector<TColor32>{Black, Black, Blue, Blue,  // top row
                                                       Green, Blue, Green, Black, //
                                                       Red, Red, Red, Black}));   // bottom row
    ReadPictureFile(bitmap, Write("rle4.bmp", test::RunLength4Bitmap()));
    EXPECT_EQ(PixelsOf(bitmap),
              (std::vector<TColor32>{Blue, Red, Green, Black, Red, Green, Red, Black}));

    // Codes that run past the picture or past the data stop the decoding, never the reader.
    const std::string palette = Bytes32({0, 0xFF0000, 0xFF00, 0xFF});
    const std::string damaged[] = {
        std::string("\xFF\x01", 2),                 // a run longer than the row
        std::string("\x00\x02\x09\x09\x02\x01", 6), // a move out of the picture
        std::string("\x00\x08\x01\x02", 4),         // stored pixels cut short
        std::string("\x00\x02\x01", 3),             // a move cut short
        std::string("\x01", 1),                     // half a code
    };
    for (const std::string& codes : damaged) {
        ReadPictureFile(bitmap,
                        Write("damaged.bmp", test::BitmapFile(40, 4, 2, 8, 1, palette,
                                                              codes + std::string(40, '\0'))));
        EXPECT_EQ(bitmap.Width(), 4);
    }
    ExpectFailure(Write("top-down-rle.bmp", test::BitmapFile(40, 4, -2, 8, 1, palette, "\0\1")),
                  "no valid size");

    // The oldest header: 16-bit sizes and palette entries of three bytes.
    std::string rows;
    for (int y = 0; y < 3; ++y) {
        rows += std::string("\x00\x00\xFF\x00\xFF\x00\xFF\x00\x00\x10\x20\x30", 12);
    }
    ReadPictureFile(bitmap, Write("core24.bmp", test::BitmapFile(12, 4, 3, 24, 0, "", rows)));
    EXPECT_EQ(bitmap.PixelAt(0, 0), Red);
    EXPECT_EQ(bitmap.PixelAt(3, 2), 0xFF302010u);
    std::string palette3;
    for (int i = 0; i < 256; ++i) {
        palette3 += {static_cast<char>(i), static_cast<char>(255 - i), '\0'};
    }
    ReadPictureFile(bitmap,
                    Write("core8.bmp", test::BitmapFile(12, 4, 1, 8, 0, palette3,
                                                        std::string("\x00\x01\x80\xFF", 4))));
    EXPECT_EQ(PixelsOf(bitmap),
              (std::vector<TColor32>{0xFF00FF00u, 0xFF00FE01u, 0xFF007F80u, 0xFF0000FFu}));
}

void Patch32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

TEST_F(PictureReader, BitmapHeadersThatLieFailCleanly) {
    const std::string good = test::EncodeBitmap(test::MakePhoto(8, 8), 24);
    std::string tall = good;
    Patch32(tall, 22, 1000);
    ExpectFailure(Write("tall.bmp", tall), "does not match");
    std::string wide = good;
    Patch32(wide, 18, 0x7FFFFFFF);
    ExpectFailure(Write("wide.bmp", wide), "does not match");
    std::string negative = good;
    Patch32(negative, 18, static_cast<std::uint32_t>(-8));
    ExpectFailure(Write("negative.bmp", negative), "no valid size");
    std::string lowest = good;
    Patch32(lowest, 22, 0x80000000u);
    ExpectFailure(Write("lowest.bmp", lowest), "");
    std::string offset = good;
    Patch32(offset, 10, 0xFFFFFFF0u);
    ExpectFailure(Write("offset.bmp", offset), "does not match");
    ExpectFailure(Write("short.bmp", good.substr(0, good.size() - 5)), "does not match");
    std::string compressed = good;
    Patch32(compressed, 30, 1);
    ExpectFailure(Write("rle.bmp", compressed), "Unsupported bitmap");
}

std::span<const std::uint8_t> Span(const std::string& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

// The upright picture, turned by hand: the stored pixel that each upright place shows.
TBitmap32 TurnedByHand(const TBitmap32& stored, int orientation) {
    const std::int32_t w = stored.Width();
    const std::int32_t h = stored.Height();
    TBitmap32 out;
    out.Resize(orientation >= 5 ? h : w, orientation >= 5 ? w : h);
    for (std::int32_t v = 0; v < out.Height(); ++v) {
        for (std::int32_t u = 0; u < out.Width(); ++u) {
            const std::pair<std::int32_t, std::int32_t> from[] = {
                {u, v}, {w - 1 - u, v}, {w - 1 - u, h - 1 - v}, {u, h - 1 - v},
                {v, u}, {v, h - 1 - u}, {w - 1 - v, h - 1 - u}, {w - 1 - v, u}};
            const auto [x, y] = from[orientation - 1];
            out.SetPixelAt(u, v, stored.PixelAt(x, y));
        }
    }
    return out;
}

TEST_F(PictureReader, AllEightExifOrientationsAreReadUpright) {
    const std::string jpeg = test::EncodeReferenceJpeg(test::MakePhoto(37, 23, 6));
    TBitmap32 stored;
    ReadPictureFile(stored, Write("stored.jpg", jpeg));
    for (const bool bigEndian : {false, true}) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(testing::Message()
                         << "orientation " << orientation << ", big-endian " << bigEndian);
            const std::string exif = test::ExifPayload(orientation, bigEndian);
            const fs::path path = Write("turned.jpg", test::WithAppMarker(jpeg, 1, exif));
            const TBitmap32 expected = TurnedByHand(stored, orientation);
            JpegMetadata metadata;
            PictureReadOptions options;
            options.Metadata = &metadata;
            TBitmap32 bitmap;
            ReadPictureFile(bitmap, path, options);
            EXPECT_TRUE(SamePixels(bitmap, expected));
            EXPECT_EQ(metadata.Orientation, orientation);
            EXPECT_EQ(metadata.TurnedUpright, orientation != 1);
            EXPECT_EQ(metadata.Exif, std::vector<std::uint8_t>(exif.begin(), exif.end()));
            EXPECT_TRUE(metadata.Icc.empty());

            options.AutoOrient = false;
            ReadPictureFile(bitmap, path, options);
            EXPECT_TRUE(SamePixels(bitmap, stored));
            EXPECT_FALSE(metadata.TurnedUpright);
            EXPECT_EQ(metadata.Orientation, orientation);
            OrientUpright(bitmap, orientation);
            EXPECT_TRUE(SamePixels(bitmap, expected));
        }
    }
    // The ICC profile comes assembled from its chunks.
    const std::string profile(40, '\x11');
    JpegMetadata metadata;
    PictureReadOptions options;
    options.Metadata = &metadata;
    const std::string withProfile =
        test::WithAppMarker(jpeg, 2, std::string("ICC_PROFILE\0\1\1", 14) + profile);
    ReadPictureBytes(stored, Span(withProfile), options);
    EXPECT_EQ(metadata.Icc, std::vector<std::uint8_t>(profile.begin(), profile.end()));
    EXPECT_TRUE(metadata.Exif.empty());
}

TEST_F(PictureReader, GreyAndTruncatedJpegsAreTurnedUprightToo) {
    test::JpegSettings grey;
    grey.Grey = true;
    const std::string photo = test::EncodeReferenceJpeg(test::MakePhoto(40, 35, 9));
    const std::string cut = photo.substr(0, photo.size() / 2);
    for (const std::string& jpeg :
         {test::EncodeReferenceJpeg(test::MakePhoto(40, 35, 9), grey), cut}) {
        TBitmap32 stored;
        ReadPictureFile(stored, Write("stored.jpg", jpeg));
        for (const int orientation : {3, 6, 7}) {
            TBitmap32 bitmap;
            ReadPictureFile(
                bitmap,
                Write("turned.jpg", test::WithAppMarker(jpeg, 1, test::ExifPayload(orientation))));
            EXPECT_TRUE(SamePixels(bitmap, TurnedByHand(stored, orientation))) << orientation;
        }
    }
}

void Patch16(std::string& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

TEST_F(PictureReader, MissingOrDamagedExifReadsThePictureAsStored) {
    // Little-endian payload: TIFF at 6, IFD0 offset at 10, entry count at 14, the entry at 16
    // (tag, type at 18, count at 20, value at 24).
    const std::string good = test::ExifPayload(6);
    std::vector<std::string> damaged = {"", std::string("Exif\0\0", 6), good.substr(0, 20),
                                        "http://ns.adobe.com/xap/1.0/" + good};
    const auto patched = [&](std::size_t at, std::uint32_t value, bool wide) {
        std::string bytes = good;
        if (wide) {
            Patch32(bytes, at, value);
        } else {
            Patch16(bytes, at, value);
        }
        damaged.push_back(bytes);
    };
    patched(6, 0x5858, false);      // no byte order mark
    patched(10, 0xFFFF0000u, true); // IFD0 past the end
    patched(18, 4, false);          // LONG instead of SHORT
    patched(20, 2, true);           // two values
    patched(20, 0x40000000u, true); // values far past the end
    patched(24, 0, false);          // out of range
    patched(24, 9, false);
    const std::string jpeg = test::EncodeReferenceJpeg(test::MakePhoto(20, 12, 3));
    TBitmap32 stored;
    ReadPictureFile(stored, Write("stored.jpg", jpeg));
    for (const std::string& exif : damaged) {
        const std::span<const std::uint8_t> payload = Span(exif);
        EXPECT_EQ(ExifOrientation(payload), 1) << testing::PrintToString(exif);
        EXPECT_EQ(ExifWithOrientationOne(payload),
                  std::vector<std::uint8_t>(exif.begin(), exif.end()));
        TBitmap32 bitmap;
        ReadPictureFile(bitmap, Write("damaged.jpg", test::WithAppMarker(jpeg, 1, exif)));
        EXPECT_TRUE(SamePixels(bitmap, stored)) << testing::PrintToString(exif);
    }
}

TEST_F(PictureReader, ExifWithOrientationOneChangesOnlyTheTagsValue) {
    for (const bool bigEndian : {false, true}) {
        const std::string exif = test::ExifPayload(8, bigEndian);
        const std::vector<std::uint8_t> upright = ExifWithOrientationOne(Span(exif));
        EXPECT_EQ(ExifOrientation(upright), 1);
        std::vector<std::uint8_t> expected(exif.begin(), exif.end());
        expected[bigEndian ? 25 : 24] = 1;
        expected[bigEndian ? 24 : 25] = 0;
        EXPECT_EQ(upright, expected) << bigEndian;
    }
}

TEST_F(PictureReader, BytesInMemoryReadAsAFileOfThemDoes) {
    const std::string jpeg = test::EncodeReferenceJpeg(test::MakePhoto(30, 20, 2));
    const std::string inputs[] = {
        jpeg,
        jpeg.substr(0, jpeg.size() / 2),
        test::WithAppMarker(jpeg, 1, test::ExifPayload(5)),
        test::EncodeBitmap(test::MakePhoto(9, 4), 24),
        test::RunLength8Bitmap(),
        "",
        jpeg.substr(0, 40),
        std::string(200, 'x'),
        WithFrameSize(jpeg, 60000, 60000),
        test::EncodeBitmap(test::MakePhoto(9, 4), 24).substr(0, 90),
    };
    for (const std::string& bytes : inputs) {
        TBitmap32 fromFile;
        TBitmap32 fromBytes;
        std::string fileError = "none";
        std::string bytesError = "none";
        try {
            ReadPictureFile(fromFile, Write("picture.jpg", bytes));
        } catch (const EngineError& error) {
            fileError = error.what();
        }
        try {
            ReadPictureBytes(fromBytes, Span(bytes));
        } catch (const EngineError& error) {
            bytesError = error.what();
        }
        EXPECT_EQ(fileError, bytesError);
        EXPECT_TRUE(SamePixels(fromFile, fromBytes)) << fileError;
    }
}

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST_F(PictureReader, HeadersClaimingMorePixelsThanFileOrMemoryHoldAreRefusedBeforeAllocating) {
    const std::string jpeg = test::EncodeReferenceJpeg(test::MakePhoto(64, 64));
    const long before = PeakKilobytes();
    ExpectFailure(Write("bomb.jpg", WithFrameSize(jpeg, 65000, 30000)),
                  "too small for the size its header gives (65000 x 30000)");
    EXPECT_LT(PeakKilobytes() - before, 100 * 1024);

    // Arithmetic coding has no floor of bits a block: the memory check is what refuses it.
    test::JpegSettings arithmetic;
    arithmetic.Arithmetic = true;
    const std::string coded = test::EncodeReferenceJpeg(test::MakePhoto(64, 64), arithmetic);
    PictureReadOptions held;
    held.HeldBytesPerPixel = AvailableMemory() / 1'000'000;
    ExpectFailure(Write("arith.jpg", WithFrameSize(coded, 65000, 30000, "\xFF\xC9")),
                  "Can't allocate the DIB handle", held);
    TBitmap32 bitmap;
    ReadPictureFile(bitmap, Write("arith.jpg", coded));
    EXPECT_EQ(bitmap.Width(), 64);
    // What the caller holds a pixel counts, for bitmaps too.
    held.HeldBytesPerPixel = AvailableMemory() / 10;
    ExpectFailure(Write("photo.jpg", jpeg), "Can't allocate the DIB handle", held);
    ExpectFailure(Write("photo.bmp", test::EncodeBitmap(test::MakePhoto(8, 8), 24)),
                  "Can't allocate the DIB handle", held);
    EXPECT_NO_THROW(RequireMemory(0));
    EXPECT_THROW(RequireMemory(std::numeric_limits<std::uint64_t>::max()), EngineError);
}

TEST_F(PictureReader, PhotographCutToATenthStillRendersAsFarAsItDecodes) {
    test::JpegSettings progressive;
    progressive.Progressive = true;
    const TBitmap32 photo = test::MakePhoto(512, 384, 5);
    for (const auto& settings : {test::JpegSettings{}, progressive}) {
        const std::string bytes = test::EncodeReferenceJpeg(photo, settings);
        TBitmap32 bitmap;
        ReadPictureFile(bitmap, Write("tenth.jpg", bytes.substr(0, bytes.size() / 10)));
        ASSERT_EQ(bitmap.Width(), 512);
        ASSERT_EQ(bitmap.Height(), 384);
        if (!settings.Progressive) {
            const TBitmap32 full = test::DecodeReferenceJpeg(bytes);
            for (std::int32_t x = 0; x < 512; ++x) {
                ASSERT_EQ(bitmap.PixelAt(x, 4), full.PixelAt(x, 4)) << x;
            }
        }
    }
}

} // namespace
} // namespace tintavo
