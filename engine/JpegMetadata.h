#pragma once

// What a JPEG carries besides its pixels, and how its EXIF orientation is honoured: the EXIF
// block (read with libexif), the ICC profile, and turning stored pixels upright.

#include "engine/TBitmap32.h"

#include <cstdint>
#include <span>
#include <vector>

#include <cstdio>

#include <jpeglib.h>

namespace tintavo {

struct JpegMetadata {
    std::vector<std::uint8_t> Exif; // APP1 payload starting "Exif\0\0", empty if none
    std::vector<std::uint8_t> Icc;  // the assembled ICC profile, empty if none
    int Orientation = 1;            // 1..8, 1 when absent or damaged
    bool TurnedUpright = false;     // the reader turned the pixels to Orientation's upright
};

// The orientation (1..8) in IFD0 of an EXIF APP1 payload ("Exif\0\0" then the TIFF structure).
// Anything missing, damaged, of the wrong type or count, or out of range gives 1. Never fails.
int ExifOrientation(std::span<const std::uint8_t> exifPayload);

// Turns pixels stored under `orientation` upright in place: 2 mirrors left to right, 3 turns
// half round, 4 mirrors top to bottom, 5 transposes, 6 turns a quarter clockwise, 7 transposes
// across the other diagonal, 8 turns a quarter anticlockwise. 5 to 8 swap width and height and
// take one extra buffer of the picture's size for the turn. 1 and values outside 1..8 change
// nothing. Raises EngineError "Can't allocate the DIB handle" when that buffer does not fit.
void OrientUpright(TBitmap32& bitmap, int orientation);

// The same EXIF payload with its orientation set to 1, for writing into an upright copy of the
// picture. The tag's value is patched where it is stored, so every other byte stays as it was;
// a payload without an orientation other than 1 comes back unchanged.
std::vector<std::uint8_t> ExifWithOrientationOne(std::span<const std::uint8_t> exifPayload);

// Asks libjpeg to keep the APP1 (EXIF) and APP2 (ICC) markers: call before jpeg_read_header.
void SaveMetadataMarkers(jpeg_decompress_struct& decoder);

// What the kept markers hold: call after jpeg_read_header. TurnedUpright is left false. libjpeg's
// error exit can only be reached from here when memory for the ICC profile runs out.
JpegMetadata CollectJpegMetadata(jpeg_decompress_struct& decoder);

namespace detail {

// Internal to the engine: writes rows [first, first + rows) of a picture stored as width x
// height, given one after another in `stored`, to their places in `upright`, which already has
// the upright size (height x width for orientations 5 to 8).
void PlaceStoredRows(TBitmap32& upright, int orientation, std::int32_t width, std::int32_t height,
                     std::int32_t first, std::int32_t rows, const TColor32* stored);

} // namespace detail

} // namespace tintavo
