#pragma once

#include "engine/RowSink.h"
#include "engine/TBitmap32.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace tintavo {

// The export's JPEG encoding: libjpeg's defaults for an RGB picture with quality 90 and
// baseline forced, that is a baseline sequential JFIF file of three components (YCbCr, 2x2
// subsampled chroma), standard Huffman tables, no restart markers, no metadata. Alpha is
// dropped. The output is byte for byte what libjpeg writes for the same pixels fed as RGB rows.
inline constexpr int ExportJpegQuality = 90;

// What may differ from the export's encoding. The defaults give the export's bytes.
struct JpegEncodeSettings {
    // 1 to 100, through libjpeg's quality scaling with baseline-compatible tables.
    int Quality = ExportJpegQuality;
    // Written as they are when not empty: an APP1 marker after the JFIF header holding `Exif`
    // (which starts with "Exif\0\0"), then the ICC profile in APP2 markers.
    std::vector<std::uint8_t> Exif;
    std::vector<std::uint8_t> Icc;
};

// Encodes rows as they come, either straight into an open file (libjpeg's stdio destination)
// or into memory (its memory destination). Raises EngineError for a picture libjpeg cannot
// encode (empty, or a side above 65500), a quality outside 1..100, or a failed write; the
// file then holds part of a stream, so the caller writes to a file it can throw away.
class JpegRowEncoder final : public RowSink {
public:
    explicit JpegRowEncoder(std::FILE* file, JpegEncodeSettings settings = {});
    explicit JpegRowEncoder(JpegEncodeSettings settings = {});
    ~JpegRowEncoder() override;

    void Start(std::int32_t width, std::int32_t height) override;
    void WriteRows(const TColor32* rows, std::int32_t count) override;
    void Finish() override;

    // The whole stream after Finish, for an encoder writing to memory.
    std::vector<std::uint8_t> TakeStream();

    struct State;

private:
    std::unique_ptr<State> state_;
};

// The whole JPEG stream, built in memory. Raises EngineError for an empty picture or one
// libjpeg cannot encode (a side above 65500).
std::vector<std::uint8_t> EncodeJpeg(const TBitmap32& picture,
                                     const JpegEncodeSettings& settings = {});

// Encodes in memory, then creates (or truncates) the file and writes the stream to it. Raises
// EngineError when encoding fails or the file cannot be created or written, naming the file
// and the system's reason.
void WriteJpegFile(const TBitmap32& picture, const std::filesystem::path& path);

} // namespace tintavo
