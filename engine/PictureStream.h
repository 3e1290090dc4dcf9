#pragma once

// The colour keep as a stream: a picture's rows go from the decoder through the pixel rule into
// the encoders, decoding on one thread and encoding on another, so that a picture costs about
// the slower of the two and memory does not grow with its height. The results are those of the
// whole-picture path (ReadPictureFile, RenderPixels, FilterMask and RecomposePicture, then an
// encoder fed all rows), byte for byte.

#include "engine/JpegMetadata.h"
#include "engine/PictureReader.h"
#include "engine/RenderPass.h"
#include "engine/RowSink.h"
#include "engine/Selection.h"
#include "engine/TBitmap32.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace tintavo {

// The rows of a picture, top row first, exactly as ReadPictureFile gives them. A baseline or
// progressive JPEG that is not to be turned is decoded row by row as the rows are asked for;
// anything else (a bitmap, a JPEG turned upright by its orientation) is read whole first.
class RowSource {
public:
    RowSource() = default;
    RowSource(const RowSource&) = delete;
    RowSource& operator=(const RowSource&) = delete;
    virtual ~RowSource() = default;

    std::int32_t Width() const { return width_; }
    std::int32_t Height() const { return height_; }
    // What the JPEG carried, as ReadPictureFile reports it through PictureReadOptions::Metadata.
    const JpegMetadata& Metadata() const { return metadata_; }

    // The next `count` rows, Width pixels each, one after the other from `rows`. Rows after the
    // last are never asked for. Raises EngineError when the picture cannot be decoded.
    virtual void ReadRows(TColor32* rows, std::int32_t count) = 0;

protected:
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    JpegMetadata metadata_;
};

// Opens the picture in `bytes` (or in a file) with the checks and errors of ReadPictureBytes
// (ReadPictureFile): everything that can be known from the header fails here, before any pixel
// memory is taken. `options.HeldBytesPerPixel` is what the caller will hold per pixel beside
// the stream (see KeepHeldBytesPerPixel); it is checked against the memory the system can give.
std::unique_ptr<RowSource> OpenPictureRows(std::vector<std::uint8_t> bytes,
                                           const PictureReadOptions& options = {});
std::unique_ptr<RowSource> OpenPictureRows(const std::filesystem::path& path,
                                           const PictureReadOptions& options = {});

struct KeepSettings {
    CentralColor Cc;
    Thresholds Limits;
    // Clean the mask (FilterMask) and rebuild the picture from it before anything is written.
    bool Filter = false;
    // When set, the rows go through this hard-edge rule (SelectionRule::RenderRow) instead of
    // the box around Cc; not with Filter, whose rebuild is the render pass's.
    const SelectionRule* Rule = nullptr;
};

// What KeepColours holds per pixel for the whole picture: nothing when streaming; the picture
// as read and one byte of mask with the filter, which needs the whole mask before any row of
// the result is known.
std::uint64_t KeepHeldBytesPerPixel(const KeepSettings& settings);

// Renders the source's picture: the rendered rows go to `render`, the mask's rows (MaskKept
// and MaskGreyed) to `mask` when it is given. Rows are decoded and ruled on a second thread
// while this one feeds the sinks. The first error (the source's, or a sink's) is raised once
// both threads have stopped; the sinks are then left unfinished.
void KeepColours(RowSource& source, const KeepSettings& settings, RowSink& render,
                 RowSink* mask = nullptr);

} // namespace tintavo
