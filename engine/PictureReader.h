#pragma once

#include "engine/JpegMetadata.h"
#include "engine/TBitmap32.h"

#include <cstdint>
#include <filesystem>
#include <span>

namespace tintavo {

struct PictureReadOptions {
    // Pictures with more pixels than this fail with "Can't allocate the DIB handle" before any
    // memory is taken for them. Picture files are untrusted: a header may claim any size.
    std::int64_t MaxPixels = INT32_MAX;
    // A JPEG whose EXIF orientation says it is turned or mirrored (2 to 8) is read upright;
    // false reads the pixels as stored.
    bool AutoOrient = true;
    // When set, filled with what a JPEG carried (EXIF, ICC profile, orientation); reset to
    // empty for a bitmap.
    JpegMetadata* Metadata = nullptr;
    // What the caller will hold per picture pixel while the picture is held (its own result
    // buffers), counted with the reader's buffers in the memory check before allocating.
    std::uint64_t HeldBytesPerPixel = 0;
};

// Reads a picture file into `bitmap`, replacing its size and content.
//
// - A file shorter than 54 bytes fails.
// - A file starting with "BM" is a Windows bitmap. An uncompressed one-plane 32-bit bitmap is
//   copied as stored, alpha byte included. These are decoded with alpha 255: uncompressed 1, 4,
//   8, 16 (5 bits a channel) and 24-bit bitmaps; 16 and 32-bit bitmaps with channel masks;
//   run-length coded 8 and 4-bit bitmaps (pixels the codes never reach take palette entry 0);
//   the oldest bitmaps with a 12-byte header. The first stored row is the bottom row when the
//   stored height is positive, the top row when it is negative. Pixels start where the file
//   header says. Other bitmaps fail.
// - Anything else is decoded as a JPEG with libjpeg's default decompression parameters at full
//   size. A colour JPEG gives its red, green and blue; a CMYK JPEG (Adobe's inverted inks) is
//   turned into red, green and blue; a greyscale JPEG goes through libjpeg's colour quantizer
//   (236 levels, default dithering). libjpeg's warnings are ignored, so a file that ends early
//   gives the picture as far as it decodes, the rest white; its errors fail. Every pixel has
//   alpha 255 afterwards. With AutoOrient the picture is turned upright by the orientation in
//   its EXIF block (read with libexif); a missing or damaged block reads it as stored.
//
// Bounds, each failing before the picture's memory is taken:
// - more pixels than MaxPixels, or more memory than the system can give for the bitmap, the
//   reader's own buffers and HeldBytesPerPixel a pixel: "Can't allocate the DIB handle";
// - a Huffman-coded JPEG claiming more than 2048 pixels per byte of the file (real ones, however
//   uniform, spend at least a bit per 8 x 8 block, 512 pixels a byte at most);
// - a bitmap header whose sizes do not match the file.
//
// Failures raise EngineError; the bitmap may then be left resized and partly written. Nothing
// is read or written outside a buffer. The change notification fires once the read ends,
// whichever way it ends.
void ReadPictureFile(TBitmap32& bitmap, const std::filesystem::path& path,
                     const PictureReadOptions& options = {});

// The same for a picture held in memory: the same results and errors as ReadPictureFile on a
// file of these bytes.
void ReadPictureBytes(TBitmap32& bitmap, std::span<const std::uint8_t> bytes,
                      const PictureReadOptions& options = {});

} // namespace tintavo
