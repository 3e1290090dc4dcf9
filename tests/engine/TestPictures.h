#pragma once

#include "engine/TBitmap32.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Pictures made by the tests themselves: synthetic pixels, and JPEG and bitmap files encoded
// straight through libjpeg or by hand, independent of the engine's own writer.
namespace tintavo::test {

// A photograph-like picture: smooth gradients, a few soft shapes and mild noise, fixed by seed.
TBitmap32 MakePhoto(std::int32_t width, std::int32_t height, std::uint32_t seed = 1);

// A picture filled with one colour.
TBitmap32 MakeFilled(std::int32_t width, std::int32_t height, TColor32 col);

// A red ball of `radius` pixels lit from the left (its colour scaled from a fifth to full
// brightness) in the middle of a `size` x `size` grey-blue picture; `ballPixels` gets its area.
TBitmap32 ShadedBall(std::int32_t size, double radius, std::size_t& ballPixels);

struct JpegSettings {
    int Quality = 90;
    bool ForceBaseline = true;
    bool Grey = false; // one component, fed grey levels (the red channel)
    bool Progressive = false;
    bool Arithmetic = false; // arithmetic coding instead of Huffman
};

// Encodes with libjpeg's own defaults from RGB rows (alpha dropped), then the settings.
std::string EncodeReferenceJpeg(const TBitmap32& picture, const JpegSettings& settings = {});

// An EXIF APP1 payload ("Exif\0\0", then a TIFF structure in either byte order) whose IFD0
// holds one entry: the orientation.
std::string ExifPayload(int orientation, bool bigEndian = false);

// The JPEG with an application marker (0xFFE0 + n) holding `payload` right after its SOI.
std::string WithAppMarker(const std::string& jpeg, int n, const std::string& payload);

// Decodes a colour JPEG with libjpeg's defaults into opaque pixels.
TBitmap32 DecodeReferenceJpeg(const std::string& bytes);

// An uncompressed Windows bitmap of 1, 4, 8, 16, 24 or 32 bits per pixel. Palette pictures use
// evenly spaced grey levels and take the top bits of the red channel as the index. A negative
// height is written when topDown is set.
std::string EncodeBitmap(const TBitmap32& picture, int bitsPerPixel, bool topDown = false);

// A bitmap file around hand-made content: a header of `infoSize` bytes (12 for the oldest form,
// else 40 or more), the bytes between header and pixels (masks, palette) and the pixel data.
std::string BitmapFile(std::uint32_t infoSize, std::int32_t width, std::int32_t height,
                       unsigned bits, std::uint32_t compression, const std::string& between,
                       const std::string& pixels);

// Small run-length coded bitmaps (4 × 3 of 8 bits, 4 × 2 of 4 bits) over a palette of black, red,
// green and blue, using every kind of code: runs, stored pixels, line ends, a move and the end.
std::string RunLength8Bitmap();
std::string RunLength4Bitmap();

// Deterministic pseudo-random numbers for tests that need many inputs.
class TestRandom {
public:
    explicit TestRandom(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<std::uint32_t>(state_ >> 16);
    }
    std::uint32_t Below(std::uint32_t limit) { return Next() % limit; }

private:
    std::uint64_t state_;
};

} // namespace tintavo::test
