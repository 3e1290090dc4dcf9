#pragma once

#include "engine/TBitmap32.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace tintavo {

// The export's JPEG encoding: libjpeg's defaults for an RGB picture with quality 90 and
// baseline forced, that is a baseline sequential JFIF file of three components (YCbCr, 2x2
// subsampled chroma), standard Huffman tables, no restart markers, no metadata. Alpha is
// dropped. The output is byte for byte what libjpeg writes for the same pixels fed as RGB rows.
inline constexpr int ExportJpegQuality = 90;

// The whole JPEG stream, built in memory. Raises EngineError for an empty picture or one
// libjpeg cannot encode (a side above 65500).
std::vector<std::uint8_t> EncodeJpeg(const TBitmap32& picture);

// Encodes in memory, then creates (or truncates) the file and writes the stream to it. Raises
// EngineError when encoding fails or the file cannot be created or written, naming the file
// and the system's reason.
void WriteJpegFile(const TBitmap32& picture, const std::filesystem::path& path);

} // namespace tintavo
