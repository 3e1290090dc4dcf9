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

// Raises PickError for the first point outside a picture of this size.
void CheckPicks(const std::vector<PickPoint>& picks, std::int32_t width, std::int32_t height) {
    for (const PickPoint& pick : picks) {
        if (pick.X >= width || pick.Y >= height) {
            throw PickError("--pick " + std::to_string(pick.X) + "," + std::to_string(pick.Y) +
                            " lies outside the picture (" + std::to_string(width) + " x " +
                            std::to_string(height) + ")");
        }
    }
}

// The colours at the points, from a picture whose rows reach the lowest of them, `at(x, y)`
// giving its pixels.
template <typename PixelAt>
std::vector<CentralColor> PickedColours(const std::vector<PickPoint>& picks, const PixelAt& at) {
    std::vector<CentralColor> colours;
    for (const PickPoint& pick : picks) {
        const TColor32 col = at(pick.X, pick.Y);
        colours.push_back({static_cast<std::int32_t>(RedOf(col)),
                           static_cast<std::int32_t>(GreenOf(col)),
                           static_cast<std::int32_t>(BlueOf(col))});
    }
    return colours;
}

// The first rows of a picture, read ahead so that the colours picked there are known before
// the stream starts; then the rest of the picture, as the source gives it.
class ReadAhead final : public RowSource {
public:
    ReadAhead(RowSource& source, std::int32_t rows) : source_(source) {
        width_ = source.Width();
        height_ = source.Height();
        metadata_ = source.Metadata();
        held_.resize(static_cast<std::size_t>(width_) * static_cast<std::size_t>(rows));
        if (rows > 0) {
            source.ReadRows(held_.data(), rows);
        }
    }

    TColor32 PixelAt(std::int32_t x, std::int32_t y) const {
        return held_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                     static_cast<std::size_t>(x)];
    }

    void ReadRows(TColor32* rows, std::int32_t count) override {
        const std::size_t wanted =
            static_cast<std::size_t>(count) * static_cast<std::size_t>(width_);
        const std::size_t served = std::min(wanted, held_.size() - next_);
        std::copy_n(held_.data() + next_, served, rows);
        next_ += served;
        if (next_ == held_.size() && !held_.empty()) {
            held_ = {}; // all given: the memory goes back
            next_ = 0;
        }
        const auto left =
            static_cast<std::int32_t>((wanted - served) / static_cast<std::size_t>(width_));
        if (left > 0) {
            source_.ReadRows(rows + served, left);
        }
    }

private:
    RowSource& source_;
    std::vector<TColor32> held_;
    std::size_t next_ = 0;
};

} // namespace

std::uint64_t SelectionHeldBytesPerPixel(const CliOptions& options) {
    if (NeedsWholeMask(options)) {
        // The picture and its mask, and a byte a pixel for the soft edge's or the filter's
        // work; the result is composed a band at a time.
        return 2 * sizeof(TColor32) + 1;
    }
    return options.Picks.empty() ? 0 : sizeof(TColor32); // at most the whole picture read ahead
}

bool HasSoftMask(const CliOptions& options) {
    return options.Feather > 0;
}

namespace {

// A hard edge needs no row but its own: the render pass's stream, with this rule, once the
// rows down to the lowest picked point are read.
void KeepStreamed(RowSource& source, const CliOptions& options, RowSink& render, RowSink* mask) {
    std::int32_t ahead = 0;
    for (const PickPoint& pick : options.Picks) {
        ahead = std::max(ahead, pick.Y + 1);
    }
    ReadAhead rows(source, ahead);
    const SelectionRule rule(
        SelectionOf(options, PickedColours(options.Picks, [&rows](std::int32_t x, std::int32_t y) {
                        return rows.PixelAt(x, y);
                    })));
    KeepSettings settings;
    settings.Rule = &rule;
    KeepColours(rows, settings, render, mask);
}

// Composed band by band as the rows go out (BlendPixel, as ComposeSelection does): no third
// picture's memory.
void WriteComposed(const TBitmap32& picture, const TBitmap32& coverage, const CliOptions& options,
                   RowSink& render, RowSink* mask) {
    const auto width = static_cast<std::size_t>(picture.Width());
    const bool plain = options.Grey == GreyModel::Average && options.Strength == MaxStrength;
    std::vector<TColor32> band(width * BandRows);
    for (std::int32_t y = 0; y < picture.Height(); y += BandRows) {
        const std::int32_t rows = std::min(BandRows, picture.Height() - y);
        const TColor32* in = picture.ScanLine(y);
        const TColor32* keep = coverage.ScanLine(y);
        for (std::size_t i = 0; i < width * static_cast<std::size_t>(rows); ++i) {
            const std::uint32_t c = BlueOf(keep[i]);
            band[i] = c == 255u            ? in[i]
                      : (c == 0u && plain) ? Desaturate(in[i])
                                           : BlendPixel(in[i], c, options.Grey, options.Strength);
        }
        render.WriteRows(band.data(), rows);
        if (mask != nullptr) {
            mask->WriteRows(keep, rows);
        }
    }
}

} // namespace

void KeepSelected(RowSource& source, const CliOptions& options, RowSink& render, RowSink* mask) {
    CheckPicks(options.Picks, source.Width(), source.Height());
    if (!NeedsWholeMask(options)) {
        KeepStreamed(source, options, render, mask);
        return;
    }
    // Decoded once and held: the whole mask comes from it.
    TBitmap32 picture;
    picture.Resize(source.Width(), source.Height());
    for (std::int32_t y = 0; y < picture.Height(); y += BandRows) {
        source.ReadRows(picture.ScanLine(y), std::min(BandRows, picture.Height() - y));
    }
    const SelectionRule rule(SelectionOf(
        options, PickedColours(options.Picks, [&picture](std::int32_t x, std::int32_t y) {
            return picture.PixelAt(x, y);
        })));
    render.Start(picture.Width(), picture.Height());
    if (mask != nullptr) {
        mask->Start(picture.Width(), picture.Height());
    }
    // The window's order: the hard mask, cleaned by the filter, softened, then composed.
    TBitmap32 coverage;
    BuildHardMask(picture, rule, coverage);
    if (options.Filter) {
        FilterMask(coverage);
    }
    SoftenMask(coverage, options.Feather);
    WriteComposed(picture, coverage, options, render, mask);
    render.Finish();
    if (mask != nullptr) {
        mask->Finish();
    }
}

} // namespace tintavo::cli
