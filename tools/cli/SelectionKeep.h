#pragma once

// The colour keep with a selection beyond the written render (engine/Selection.h): another
// colour model, several colours, picked colours, a soft edge, another grey or strength.

#include "CliOptions.h"

#include "engine/PictureStream.h"
#include "engine/RowSink.h"

#include <cstdint>
#include <stdexcept>

namespace tintavo::cli {

// A --pick point that lies outside the picture read. The text names the point and the
// picture's size, not the file.
class PickError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What KeepSelected holds per pixel beside the stream: nothing for a hard edge; with --pick the
// rows down to the lowest point, read ahead (at most the whole picture); the picture and its
// mask with a soft edge or the filter, which need the whole mask before any row is known.
std::uint64_t SelectionHeldBytesPerPixel(const CliOptions& options);

// True when KeepSelected's mask holds coverage (an 8-bit grey) rather than black and white.
bool HasSoftMask(const CliOptions& options);

// Renders the source's picture with SelectionOf(options, the colours at options.Picks): the
// rendered rows to `render`, the mask's rows to `mask` when given. Raises PickError for a
// point outside the picture before any row is written, EngineError when the picture cannot be
// decoded, and what a sink raises.
void KeepSelected(RowSource& source, const CliOptions& options, RowSink& render, RowSink* mask);

} // namespace tintavo::cli
