#pragma once

// Internal to the engine: the steps of decoding a picture file that the whole-picture reader
// (PictureReader.cpp) and the row stream (PictureStream.cpp) share, so that both apply the same
// checks, give the same errors and produce the same pixels.

#include "engine/JpegMetadata.h"
#include "engine/JpegTrap.h"
#include "engine/PictureReader.h"
#include "engine/TColor32.h"

#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <span>
#include <vector>

namespace tintavo::detail {

// Shorter files are no picture: a bitmap's file and info headers take this much.
constexpr std::size_t PictureHeaderSize = 54;

// Byte counts that stop at the largest value instead of wrapping round.
constexpr std::uint64_t MostBytes = std::numeric_limits<std::uint64_t>::max();
inline std::uint64_t SaturatingTimes(std::uint64_t a, std::uint64_t b) {
    return b != 0 && a > MostBytes / b ? MostBytes : a * b;
}
inline std::uint64_t SaturatingPlus(std::uint64_t a, std::uint64_t b) {
    return a > MostBytes - b ? MostBytes : a + b;
}

// The whole regular file at `path`, after checking that the memory for it can be had.
std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& path);

// "Can't allocate the DIB handle" for a picture of more than `options.MaxPixels` pixels.
void CheckPixelCount(std::int64_t width, std::int64_t height, const PictureReadOptions& options);

enum class JpegLayout { Colour, Grey, Cmyk };

struct JpegDecoder {
    jpeg_decompress_struct info;
    JpegTrap trap;
    JpegLayout layout;
};

// A zeroed decoder whose errors go to its trap; the guard destroys what libjpeg made of it.
std::unique_ptr<JpegDecoder> MakeJpegDecoder();
struct JpegDecoderGuard {
    JpegDecoder* decoder;
    ~JpegDecoderGuard() {
        if (decoder != nullptr) {
            jpeg_destroy_decompress(&decoder->info);
        }
    }
};

// Reads the header of the JPEG in `bytes` (which must outlive the decoder) with the reader's
// settings, libjpeg's defaults with greyscale through the 236-level quantizer, and collects
// the metadata that `options` asks for (an orientation, or everything). Raises EngineError.
JpegMetadata OpenJpeg(JpegDecoder& decoder, std::span<const std::uint8_t> bytes,
                      const PictureReadOptions& options);

// Refuses a header that claims more pixels than allowed, or more than a file of `fileBytes`
// can code; gives the picture's pixel count.
std::uint64_t CheckJpegClaims(const jpeg_decompress_struct& info, std::size_t fileBytes,
                              const PictureReadOptions& options);

// Bytes libjpeg will take for this picture besides a few rows.
std::uint64_t JpegDecoderBytes(jpeg_decompress_struct& info);

// Called between a setjmp and its function's return (see JpegTrap.h): starts decompressing
// and gives the row that layouts other than colour are decoded into before converting, or
// nullptr when rows are decoded in place.
JSAMPARRAY JpegStart(JpegDecoder& decoder);

// Likewise: decodes the next stored row into `row` (`width` pixels); false when the data has
// run out.
bool JpegReadRow(JpegDecoder& decoder, JSAMPARRAY scratch, TColor32* row);

} // namespace tintavo::detail
