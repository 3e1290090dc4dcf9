#pragma once

#include "engine/RowSink.h"

#include <cstdint>
#include <cstdio>
#include <memory>

namespace tintavo::cli {

enum class PngLayout {
    Rgb,      // 8-bit red, green and blue; alpha dropped
    Mask1Bit, // one bit a pixel: set for MaskKept (white), clear for anything else (black)
    Grey8,    // one byte a pixel, the blue channel: a coverage mask's level
};

// Writes a PNG as rows come: the rows are filtered and deflated (zlib, a fast level) in bands on
// a few threads, each band ending on a byte boundary of the one zlib stream, so the file is one
// ordinary PNG whatever the number of threads. Raises std::runtime_error when writing fails.
class PngRowEncoder final : public RowSink {
public:
    PngRowEncoder(std::FILE* file, PngLayout layout);
    ~PngRowEncoder() override;

    void Start(std::int32_t width, std::int32_t height) override;
    void WriteRows(const TColor32* rows, std::int32_t count) override;
    void Finish() override;

    struct State;

private:
    std::unique_ptr<State> state_;
};

} // namespace tintavo::cli
