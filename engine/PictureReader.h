#pragma once

#include "engine/TBitmap32.h"

#include <cstdint>
#include <filesystem>

namespace tintavo {

struct PictureReadOptions {
    // Pictures with more pixels than this fail with "Can't allocate the DIB handle" before any
    // memory is taken for them. Picture files are untrusted: a header may claim any size.
    std::int64_t MaxPixels = INT32_MAX;
};

// Reads a picture file into `bitmap`, replacing its size and content.
//
// - A file shorter than 54 bytes fails.
// - A file starting with "BM" is a Windows bitmap. An uncompressed one-plane 32-bit bitmap is
//   copied as stored, alpha byte included; uncompressed 1, 4, 8 and 24-bit bitmaps are decoded
//   with alpha 255. The first stored row is the bottom row when the stored height is positive,
//   the top row when it is negative. Other bitmaps fail.
// - Anything else is decoded as a JPEG with libjpeg's default decompression parameters at full
//   size. A colour JPEG gives its red, green and blue; a greyscale JPEG goes through libjpeg's
//   colour quantizer (236 levels, default dithering). libjpeg's warnings are ignored, so a file
//   that ends early gives the picture as far as it decodes; its errors fail. Every pixel has
//   alpha 255 afterwards.
//
// Failures raise EngineError; the bitmap may then be left resized and partly written. A
// header whose sizes do not match the file fails; nothing is read or written outside a
// buffer. The change notification fires once the read ends, whichever way it ends.
void ReadPictureFile(TBitmap32& bitmap, const std::filesystem::path& path,
                     const PictureReadOptions& options = {});

} // namespace tintavo
