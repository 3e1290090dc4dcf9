#include "SelectionKeep.h"

#include "engine/MaskFilter.h"
#include "engine/Selection.h"
#include "engine/SoftEdge.h"
#include "engine/TBitmap32.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace tintavo::cli {

namespace {

// Rows handed to the sinks at once from a picture held whole.
constexpr std::int32_t BandRows = 64;

bool NeedsWholeMask(const CliOptions& options) {
    return options.Feather > 0 || options.Filter;
}

std::vector<CentralColor> PickedColours(const TBitmap32& picture,
                                        const std::vector<PickPoint>& picks) {
    std::vector<CentralColor> colours;
    for (const PickPoint& pick : picks) {
        if (pick.X >= picture.Width() || pick.Y >= picture.Height()) {
            throw PickError("--pick " + std::to_string(pick.X) + "," + std::to_string(pick.Y) +
                            " lies outside the picture (" + std::to_string(picture.Width()) +
                            " x " + std::to_string(picture.Height()) + ")");
        }
        const TColor32 col = picture.PixelAt(pick.X, pick.Y);
        colours.push_back({static_cast<std::int32_t>(RedOf(col)),
                           static_cast<std::int32_t>(GreenOf(col)),
                           static_cast<std::int32_t>(BlueOf(col))});
    }
    return colours;
}

void WriteWhole(const TBitmap32& picture, RowSink& sink) {
    for (std::int32_t y = 0; y < picture.Height(); y += BandRows) {
        sink.WriteRows(picture.ScanLine(y), std::min(BandRows, picture.Height() - y));
    }
}

} // namespace

std::uint64_t SelectionHeldBytesPerPixel(const CliOptions& options) {
    if (NeedsWholeMask(options)) {
        // The picture, its mask and the result, and a byte a pixel for the soft edge's or
        // the filter's work.
        return 3 * sizeof(TColor32) + 1;
    }
    return options.Picks.empty() ? 0 : sizeof(TColor32);
}

bool HasSoftMask(const CliOptions& options) {
    return options.Feather > 0;
}

void KeepSelected(RowSource& source, const CliOptions& options, RowSink& render, RowSink* mask) {
    if (options.Picks.empty() && !NeedsWholeMask(options)) {
        // A hard edge needs no row but its own: the render pass's stream, with this rule.
        const SelectionRule rule(SelectionOf(options));
        KeepSettings settings;
        settings.Rule = &rule;
        KeepColours(source, settings, render, mask);
        return;
    }
    // Decoded once and held: the picked colours and the whole mask come from it.
    TBitmap32 picture;
    picture.Resize(source.Width(), source.Height());
    for (std::int32_t y = 0; y < picture.Height(); y += BandRows) {
        source.ReadRows(picture.ScanLine(y), std::min(BandRows, picture.Height() - y));
    }
    const SelectionRule rule(SelectionOf(options, PickedColours(picture, options.Picks)));
    render.Start(picture.Width(), picture.Height());
    if (mask != nullptr) {
        mask->Start(picture.Width(), picture.Height());
    }
    if (!NeedsWholeMask(options)) {
        const auto width = static_cast<std::size_t>(picture.Width());
        std::vector<TColor32> rendered(width * BandRows);
        std::vector<TColor32> masked(width * BandRows);
        for (std::int32_t y = 0; y < picture.Height(); y += BandRows) {
            const std::int32_t rows = std::min(BandRows, picture.Height() - y);
            rule.RenderRow(picture.ScanLine(y), rendered.data(),
                           mask != nullptr ? masked.data() : nullptr, width * rows);
            render.WriteRows(rendered.data(), rows);
            if (mask != nullptr) {
                mask->WriteRows(masked.data(), rows);
            }
        }
    } else {
        // The window's order: the hard mask, cleaned by the filter, softened, then composed.
        TBitmap32 coverage;
        BuildHardMask(picture, rule, coverage);
        if (options.Filter) {
            FilterMask(coverage);
        }
        SoftenMask(coverage, options.Feather);
        TBitmap32 result;
        ComposeSelection(picture, coverage, options.Grey, options.Strength, result);
        WriteWhole(result, render);
        if (mask != nullptr) {
            WriteWhole(coverage, *mask);
        }
    }
    render.Finish();
    if (mask != nullptr) {
        mask->Finish();
    }
}

} // namespace tintavo::cli
