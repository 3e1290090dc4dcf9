#include "engine/SoftEdge.h"

#include "engine/EngineError.h"
#include "engine/ParallelRows.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstddef>
#include <new>
#include <string>
#include <vector>

namespace tintavo {

namespace {

constexpr std::int32_t MaxWidth = 50;
// Columns handled together by the vertical sweeps: each row of a strip is one short
// contiguous run, so the sweeps go through memory row by row.
constexpr std::int32_t StripColumns = 256;

// floor(a / b) for b > 0.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

// The lower envelope of the parabolas (x - u)^2 + f(u) over one row (Meijster's second
// phase), writing min_u into `out` for every x: linear in the row's length.
void RowDistances(const std::int64_t* f, std::int64_t* out, std::int32_t* s, std::int32_t* t,
                  std::int32_t width) {
    const auto at = [f](std::int64_t x, std::int32_t i) { return (x - i) * (x - i) + f[i]; };
    const auto sep = [f](std::int32_t i, std::int32_t u) {
        return FloorDiv(std::int64_t{u} * u - std::int64_t{i} * i + f[u] - f[i],
                        2 * (std::int64_t{u} - i));
    };
    std::int32_t q = 0;
    s[0] = 0;
    t[0] = 0;
    for (std::int32_t u = 1; u < width; ++u) {
        while (q >= 0 && at(t[q], s[q]) > at(t[q], u)) {
            --q;
        }
        if (q < 0) {
            q = 0;
            s[0] = u;
        } else {
            const std::int64_t w = 1 + sep(s[q], u);
            if (w < width) {
                ++q;
                s[q] = u;
                t[q] = static_cast<std::int32_t>(w);
            }
        }
    }
    for (std::int32_t u = width - 1; u >= 0; --u) {
        out[u] = at(u, s[q]);
        if (u == t[q]) {
            --q;
        }
    }
}

// Coverage of a kept pixel by squared distance, for distances up to `capSquared`; a greyed
// pixel gets 255 minus it.
std::vector<std::uint8_t> KeptCoverage(std::int32_t width, std::int64_t capSquared) {
    std::vector<std::uint8_t> keptCoverage(static_cast<std::size_t>(capSquared) + 1);
    for (std::int64_t d2 = 0; d2 <= capSquared; ++d2) {
        const double d = std::sqrt(static_cast<double>(d2));
        const double v = std::clamp(0.5 + (d - 0.5) / (2.0 * width), 0.0, 1.0);
        keptCoverage[static_cast<std::size_t>(d2)] =
            static_cast<std::uint8_t>(std::floor(255.0 * v + 0.5));
    }
    return keptCoverage;
}

// Distances of a mask's pixels, a byte each, row after row: first the capped vertical ones,
// then the coverage that replaces them.
class Distances {
public:
    explicit Distances(const TBitmap32& mask) : width_(mask.Width()) {
        try {
            bytes_.resize(mask.PixelCount());
        } catch (const std::bad_alloc&) {
            throw EngineError("Can't allocate the DIB handle");
        }
    }
    std::uint8_t* Row(std::int32_t y) {
        return bytes_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width_);
    }

private:
    std::int32_t width_;
    std::vector<std::uint8_t> bytes_;
};

// The sweep down columns [x0, x1): the distance to the nearest pixel of the other kind above,
// capped. Sets `foreign` when a pixel is neither kept nor greyed.
void SweepDown(const TBitmap32& mask, std::int32_t x0, std::int32_t x1, std::int32_t cap,
               Distances& vertical, std::atomic<bool>& foreign) {
    for (std::int32_t y = 0; y < mask.Height(); ++y) {
        const TColor32* m = mask.ScanLine(y);
        std::uint8_t* d = vertical.Row(y);
        for (std::int32_t x = x0; x < x1; ++x) {
            if (m[x] != MaskKept && m[x] != MaskGreyed) {
                foreign.store(true, std::memory_order_relaxed);
            }
            if (y == 0) {
                d[x] = static_cast<std::uint8_t>(cap);
            } else {
                const std::uint8_t above = vertical.Row(y - 1)[x];
                d[x] = m[x] != mask.ScanLine(y - 1)[x]
                           ? std::uint8_t{1}
                           : static_cast<std::uint8_t>(std::min<std::int32_t>(above + 1, cap));
            }
        }
    }
}

// The sweep up the same columns, keeping the nearer of the pixels above and below.
void SweepUp(const TBitmap32& mask, std::int32_t x0, std::int32_t x1, std::int32_t cap,
             Distances& vertical) {
    for (std::int32_t y = mask.Height() - 2; y >= 0; --y) {
        const TColor32* m = mask.ScanLine(y);
        const TColor32* below = mask.ScanLine(y + 1);
        std::uint8_t* d = vertical.Row(y);
        const std::uint8_t* dBelow = vertical.Row(y + 1);
        for (std::int32_t x = x0; x < x1; ++x) {
            const std::int32_t up =
                m[x] != below[x] ? 1 : std::min<std::int32_t>(dBelow[x] + 1, cap);
            d[x] = static_cast<std::uint8_t>(std::min<std::int32_t>(d[x], up));
        }
    }
}

bool Cancelled(const std::atomic<bool>* cancel) {
    return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

// Vertical distance from each pixel to the nearest pixel of the other kind in its column,
// capped: a sweep down and a sweep up, a strip of columns at a time.
void VerticalDistances(const TBitmap32& mask, std::int32_t cap, Distances& vertical,
                       const std::atomic<bool>* cancel) {
    const std::int32_t w = mask.Width();
    const std::int32_t h = mask.Height();
    std::atomic<bool> foreign{false};
    const std::int32_t strips = (w + StripColumns - 1) / StripColumns;
    const std::int32_t stripCost =
        static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{h} * StripColumns, INT_MAX));
    ForEachRowChunk(stripCost, strips, [&](std::int32_t firstStrip, std::int32_t lastStrip) {
        if (Cancelled(cancel)) {
            return;
        }
        const std::int32_t x0 = firstStrip * StripColumns;
        const std::int32_t x1 = std::min(lastStrip * StripColumns, w);
        SweepDown(mask, x0, x1, cap, vertical, foreign);
        SweepUp(mask, x0, x1, cap, vertical);
    });
    // A cancelled sweep may have missed a foreign value; its result is thrown away anyway.
    if (foreign.load() && !Cancelled(cancel)) {
        throw EngineError("The mask holds values other than black and white");
    }
}

// One row's working space for RowDistances.
struct RowScratch {
    std::vector<std::int64_t> f;
    std::vector<std::int64_t> out;
    std::vector<std::int32_t> s;
    std::vector<std::int32_t> t;
};

// Along row `m`, the exact distance to the nearest pixel of the other kind, once for the kept
// pixels and once for the greyed ones; the coverage replaces the vertical distances in `d`.
void CoverRow(const TColor32* m, std::uint8_t* d, std::int32_t w, std::int32_t cap,
              std::int64_t capSquared, const std::vector<std::uint8_t>& keptCoverage,
              RowScratch& scratch) {
    // A row of one kind whose columns are all out of reach changes nowhere.
    bool near = false;
    for (std::int32_t x = 0; x < w && !near; ++x) {
        near = d[x] < cap || m[x] != m[0];
    }
    if (!near) {
        std::fill(d, d + w, m[0] == MaskKept ? std::uint8_t{255} : std::uint8_t{0});
        return;
    }
    // Kept pixels first, then greyed ones: each kind reads the distances of its own pixels
    // only, so the coverage of the first kind may replace them at once.
    for (const TColor32 kind : {MaskKept, MaskGreyed}) {
        for (std::int32_t x = 0; x < w; ++x) {
            const std::int64_t g = m[x] == kind ? d[x] : 0;
            scratch.f[static_cast<std::size_t>(x)] = g * g;
        }
        RowDistances(scratch.f.data(), scratch.out.data(), scratch.s.data(), scratch.t.data(), w);
        for (std::int32_t x = 0; x < w; ++x) {
            if (m[x] == kind) {
                const std::uint8_t c = keptCoverage[static_cast<std::size_t>(
                    std::min(scratch.out[static_cast<std::size_t>(x)], capSquared))];
                d[x] = kind == MaskKept ? c : static_cast<std::uint8_t>(255 - c);
            }
        }
    }
}

// Every row's coverage, computed from the vertical distances in place.
void CoverRows(const TBitmap32& mask, std::int32_t width, Distances& vertical,
               const std::atomic<bool>* cancel) {
    const std::int32_t w = mask.Width();
    const std::int32_t cap = width + 1;
    const std::int64_t capSquared = std::int64_t{cap} * cap;
    const std::vector<std::uint8_t> keptCoverage = KeptCoverage(width, capSquared);
    std::atomic<bool> outOfMemory{false};
    ForEachRowChunk(w, mask.Height(), [&](std::int32_t first, std::int32_t last) {
        if (Cancelled(cancel)) {
            return;
        }
        RowScratch scratch;
        try {
            const auto n = static_cast<std::size_t>(w);
            scratch.f.resize(n);
            scratch.out.resize(n);
            scratch.s.resize(n);
            scratch.t.resize(n);
        } catch (const std::bad_alloc&) {
            outOfMemory.store(true);
            return;
        }
        for (std::int32_t y = first; y < last; ++y) {
            CoverRow(mask.ScanLine(y), vertical.Row(y), w, cap, capSquared, keptCoverage, scratch);
        }
    });
    if (outOfMemory.load()) {
        throw EngineError("Can't allocate the DIB handle");
    }
}

} // namespace

void SoftenMask(TBitmap32& mask, std::int32_t width, const std::atomic<bool>* cancel) {
    if (width < 0 || width > MaxWidth) {
        throw EngineError("The soft edge must be 0 to " + std::to_string(MaxWidth) +
                          " pixels, not " + std::to_string(width));
    }
    if (width == 0 || mask.IsEmpty() || Cancelled(cancel)) {
        return;
    }
    // Distances beyond the edge's reach need not be told apart: capping the vertical ones at
    // width + 1 leaves every squared distance below (width + 1)^2 exact and the others at or
    // above it, where the coverage no longer changes.
    Distances distances(mask);
    VerticalDistances(mask, width + 1, distances, cancel);
    CoverRows(mask, width, distances, cancel);
    if (Cancelled(cancel)) {
        return;
    }
    const std::int32_t w = mask.Width();
    ForEachRowChunk(w, mask.Height(), [&](std::int32_t first, std::int32_t last) {
        for (std::int32_t y = first; y < last; ++y) {
            TColor32* m = mask.ScanLine(y);
            const std::uint8_t* d = distances.Row(y);
            for (std::int32_t x = 0; x < w; ++x) {
                m[x] = GreyPixel(d[x], 255);
            }
        }
    });
}

} // namespace tintavo
