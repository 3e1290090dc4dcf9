#include "engine/Selection.h"

#include "engine/BrushOverlay.h"
#include "engine/EngineError.h"
#include "engine/ParallelRows.h"
#include "engine/SoftEdge.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

namespace tintavo {

namespace {

void CheckRange(const char* what, std::int32_t value, std::int32_t low, std::int32_t high) {
    if (value < low || value > high) {
        throw EngineError(std::string(what) + " must be " + std::to_string(low) + " to " +
                          std::to_string(high) + ", not " + std::to_string(value));
    }
}

std::uint32_t ClampChannel(std::int32_t value) {
    return static_cast<std::uint32_t>(std::clamp(value, 0, 255));
}

// ---- Hue -------------------------------------------------------------------------------

constexpr std::int32_t HueTurn = 1536;

struct HueChroma {
    std::int32_t Hue = 0;
    std::int32_t Chroma = 0;
};

HueChroma HueChromaOf(std::int32_t r, std::int32_t g, std::int32_t b) {
    const std::int32_t high = std::max({r, g, b});
    const std::int32_t chroma = high - std::min({r, g, b});
    if (chroma == 0) {
        return {};
    }
    std::int32_t hue = 0;
    if (high == r) {
        hue = 256 * (g - b) / chroma;
        if (hue < 0) {
            hue += HueTurn;
        }
    } else if (high == g) {
        hue = 512 + 256 * (b - r) / chroma;
    } else {
        hue = 1024 + 256 * (r - g) / chroma;
    }
    return {hue, chroma};
}

// ---- Oklab -----------------------------------------------------------------------------

struct Lab {
    double L = 0;
    double A = 0;
    double B = 0;
};

const std::array<double, 256>& LinearTable() {
    static const std::array<double, 256> table = [] {
        std::array<double, 256> t{};
        for (int i = 0; i < 256; ++i) {
            const double v = i / 255.0;
            t[static_cast<std::size_t>(i)] =
                v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        }
        return t;
    }();
    return table;
}

// The cube roots of the cone responses (l', m', s'), each increasing in every channel.
std::array<double, 3> ConeRoots(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    const auto& lin = LinearTable();
    const double lr = lin[r];
    const double lg = lin[g];
    const double lb = lin[b];
    return {std::cbrt(0.4122214708 * lr + 0.5363325363 * lg + 0.0514459929 * lb),
            std::cbrt(0.2119034982 * lr + 0.6806995451 * lg + 0.1073969566 * lb),
            std::cbrt(0.0883024619 * lr + 0.2817188376 * lg + 0.6299787005 * lb)};
}

constexpr double LabMatrix[3][3] = {{0.2104542553, 0.7936177850, -0.0040720468},
                                    {1.9779984951, -2.4285922050, 0.4505937099},
                                    {0.0259040371, 0.7827717662, -0.8086757660}};

Lab LabOf(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    const auto c = ConeRoots(r, g, b);
    const auto row = [&c](int i) {
        return LabMatrix[i][0] * c[0] + LabMatrix[i][1] * c[1] + LabMatrix[i][2] * c[2];
    };
    return {row(0), row(1), row(2)};
}

double DistanceSquared(const Lab& p, const Lab& q) {
    const double dl = p.L - q.L;
    const double da = p.A - q.A;
    const double db = p.B - q.B;
    return dl * dl + da * da + db * db;
}

// The colour cube cut into 64^3 cells of 4 x 4 x 4 colours. For each cell, bounds of L, a and
// b over all its colours (the cone roots are increasing in every channel, so each lies
// between its values at the cell's lowest and highest corner, and the matrix is applied to
// those intervals), rounded outwards to float. Made once, used by every perceptual rule to
// settle most cells without looking at their colours one by one.
constexpr int CellBits = 2;
constexpr int CellsPerSide = 256 >> CellBits;
constexpr std::size_t CellCount = std::size_t{CellsPerSide} * CellsPerSide * CellsPerSide;

struct CellBounds {
    float Low[3];
    float High[3];
};

std::size_t CellOf(TColor32 col) {
    return std::size_t{RedOf(col) >> CellBits} << 12 | std::size_t{GreenOf(col) >> CellBits} << 6 |
           std::size_t{BlueOf(col) >> CellBits};
}

const std::vector<CellBounds>& LabCells() {
    static const std::vector<CellBounds> cells = [] {
        constexpr int side = CellsPerSide;
        constexpr std::uint32_t last = (1u << CellBits) - 1;
        // The cone roots at every cell's low and high corners.
        std::vector<std::array<double, 3>> low(CellCount);
        std::vector<std::array<double, 3>> high(CellCount);
        std::vector<CellBounds> out(CellCount);
        for (int r = 0; r < side; ++r) {
            for (int g = 0; g < side; ++g) {
                for (int b = 0; b < side; ++b) {
                    const auto index = static_cast<std::size_t>((r << 12) | (g << 6) | b);
                    const auto r0 = static_cast<std::uint32_t>(r) << CellBits;
                    const auto g0 = static_cast<std::uint32_t>(g) << CellBits;
                    const auto b0 = static_cast<std::uint32_t>(b) << CellBits;
                    const auto lo = ConeRoots(r0, g0, b0);
                    const auto hi = ConeRoots(r0 + last, g0 + last, b0 + last);
                    CellBounds& cell = out[index];
                    for (int i = 0; i < 3; ++i) {
                        double sumLow = 0;
                        double sumHigh = 0;
                        for (int k = 0; k < 3; ++k) {
                            const double m = LabMatrix[i][k];
                            sumLow += m * (m >= 0 ? lo[static_cast<std::size_t>(k)]
                                                  : hi[static_cast<std::size_t>(k)]);
                            sumHigh += m * (m >= 0 ? hi[static_cast<std::size_t>(k)]
                                                   : lo[static_cast<std::size_t>(k)]);
                        }
                        cell.Low[i] = std::nextafter(static_cast<float>(sumLow),
                                                     -std::numeric_limits<float>::infinity());
                        cell.High[i] = std::nextafter(static_cast<float>(sumHigh),
                                                      std::numeric_limits<float>::infinity());
                    }
                }
            }
        }
        return out;
    }();
    return cells;
}

// What a cell of the colour cube holds for a perceptual rule.
enum CellState : std::uint8_t { CellNone = 0, CellAll = 1, CellMixed = 2 };

// Per-channel box of one kept colour, as the render pass computes it: [Low, High] clipped to
// 0..255, empty when the threshold is negative or the box misses 0..255.
struct ChannelBox {
    std::uint32_t Low[3] = {1, 1, 1};
    std::uint32_t High[3] = {0, 0, 0};
};

ChannelBox BoxFor(const CentralColor& cc, const Thresholds& t) {
    ChannelBox box;
    const std::int32_t centres[3] = {cc.Red, cc.Green, cc.Blue};
    const std::int32_t limits[3] = {t.Red, t.Green, t.Blue};
    for (int i = 0; i < 3; ++i) {
        const std::int64_t low = std::max<std::int64_t>(std::int64_t{centres[i]} - limits[i], 0);
        const std::int64_t high = std::min<std::int64_t>(std::int64_t{centres[i]} + limits[i], 255);
        if (limits[i] < 0 || low > high) {
            return ChannelBox{};
        }
        box.Low[i] = static_cast<std::uint32_t>(low);
        box.High[i] = static_cast<std::uint32_t>(high);
    }
    return box;
}

} // namespace

void ValidateSelection(const SelectionOptions& options) {
    if (options.Colours.empty()) {
        throw EngineError("A selection needs at least one Central Color");
    }
    switch (options.Model) {
    case ColourModel::RgbBox:
        CheckRange("The red threshold", options.Box.Red, 0, 255);
        CheckRange("The green threshold", options.Box.Green, 0, 255);
        CheckRange("The blue threshold", options.Box.Blue, 0, 255);
        break;
    case ColourModel::Hue:
        CheckRange("The hue tolerance", options.HueTolerance, 0, MaxHueTolerance);
        CheckRange("The chroma floor", options.ChromaFloor, 0, MaxChromaFloor);
        break;
    case ColourModel::Perceptual:
        CheckRange("The perceptual radius", options.PerceptualRadius, 0, MaxPerceptualRadius);
        break;
    default:
        throw EngineError("Unknown colour model");
    }
    CheckRange("The soft edge", options.Feather, 0, MaxFeather);
    if (options.Grey != GreyModel::Average && options.Grey != GreyModel::Luminance) {
        throw EngineError("Unknown grey model");
    }
    CheckRange("The strength", options.Strength, 0, MaxStrength);
}

bool IsWrittenSelection(const SelectionOptions& options) {
    return options.Model == ColourModel::RgbBox && options.Colours.size() == 1 &&
           options.Feather == 0 && options.Grey == GreyModel::Average &&
           options.Strength == MaxStrength;
}

std::uint32_t GreyLevel(TColor32 col, GreyModel grey) {
    if (grey == GreyModel::Luminance) {
        return (13933u * RedOf(col) + 46871u * GreenOf(col) + 4732u * BlueOf(col) + 32768u) >> 16;
    }
    return (RedOf(col) + GreenOf(col) + BlueOf(col)) / 3u;
}

TColor32 BlendPixel(TColor32 col, std::uint32_t coverage, GreyModel grey, std::int32_t strength) {
    const std::uint32_t w = (255u - std::min(coverage, 255u)) *
                            static_cast<std::uint32_t>(std::clamp(strength, 0, MaxStrength));
    if (w == 0) {
        return col;
    }
    const std::uint32_t level = GreyLevel(col, grey);
    const auto mix = [w, level](std::uint32_t channel) {
        return (channel * (25500u - w) + level * w + 12750u) / 25500u;
    };
    return 0xFF000000u | mix(RedOf(col)) << 16 | mix(GreenOf(col)) << 8 | mix(BlueOf(col));
}

struct SelectionRule::Impl {
    SelectionOptions Options;
    std::vector<ChannelBox> Boxes;
    std::vector<std::int32_t> Hues;
    std::vector<Lab> Labs;
    double RadiusSquared = 0;
    std::vector<std::uint8_t> Cells; // CellState per cell of the colour cube
    bool PlainGrey = true;           // Average at full strength: Desaturate

    bool KeepsBox(TColor32 col) const {
        const std::uint32_t c[3] = {RedOf(col), GreenOf(col), BlueOf(col)};
        for (const ChannelBox& box : Boxes) {
            if (c[0] >= box.Low[0] && c[0] <= box.High[0] && c[1] >= box.Low[1] &&
                c[1] <= box.High[1] && c[2] >= box.Low[2] && c[2] <= box.High[2]) {
                return true;
            }
        }
        return false;
    }

    bool KeepsHue(TColor32 col) const {
        const auto r = static_cast<std::int32_t>(RedOf(col));
        const auto g = static_cast<std::int32_t>(GreenOf(col));
        const auto b = static_cast<std::int32_t>(BlueOf(col));
        if (std::max({r, g, b}) - std::min({r, g, b}) <= Options.ChromaFloor) {
            return false;
        }
        const std::int32_t hue = HueChromaOf(r, g, b).Hue;
        for (const std::int32_t centre : Hues) {
            std::int32_t d = hue > centre ? hue - centre : centre - hue;
            d = std::min(d, HueTurn - d);
            // d / 1536 of a turn within the tolerance in degrees: 360 d <= 1536 t.
            if (d * 15 <= Options.HueTolerance * 64) {
                return true;
            }
        }
        return false;
    }

    bool KeepsPerceptual(TColor32 col) const {
        const std::uint8_t state = Cells[CellOf(col)];
        if (state != CellMixed) {
            return state == CellAll;
        }
        const Lab lab = LabOf(RedOf(col), GreenOf(col), BlueOf(col));
        return std::any_of(Labs.begin(), Labs.end(), [&](const Lab& centre) {
            return DistanceSquared(lab, centre) <= RadiusSquared;
        });
    }

    bool Keeps(TColor32 col) const {
        switch (Options.Model) {
        case ColourModel::Hue:
            return KeepsHue(col);
        case ColourModel::Perceptual:
            return KeepsPerceptual(col);
        default:
            return KeepsBox(col);
        }
    }

    TColor32 Greyed(TColor32 col) const {
        return PlainGrey ? Desaturate(col) : BlendPixel(col, 0, Options.Grey, Options.Strength);
    }

    template <typename Rule>
    void Row(const Rule& keeps, const TColor32* in, TColor32* out, TColor32* mask,
             std::size_t count) const {
        for (std::size_t x = 0; x < count; ++x) {
            const TColor32 col = in[x];
            const bool kept = keeps(col);
            if (out != nullptr) {
                out[x] = kept ? col : Greyed(col);
            }
            if (mask != nullptr) {
                mask[x] = kept ? MaskKept : MaskGreyed;
            }
        }
    }

    void Run(const TColor32* in, TColor32* out, TColor32* mask, std::size_t count) const {
        switch (Options.Model) {
        case ColourModel::Hue:
            Row([this](TColor32 col) { return KeepsHue(col); }, in, out, mask, count);
            break;
        case ColourModel::Perceptual:
            Row([this](TColor32 col) { return KeepsPerceptual(col); }, in, out, mask, count);
            break;
        default:
            Row([this](TColor32 col) { return KeepsBox(col); }, in, out, mask, count);
            break;
        }
    }

    void PreparePerceptual() {
        for (const CentralColor& cc : Options.Colours) {
            Labs.push_back(
                LabOf(ClampChannel(cc.Red), ClampChannel(cc.Green), ClampChannel(cc.Blue)));
        }
        const double radius = Options.PerceptualRadius / 100.0;
        RadiusSquared = radius * radius;
        // A cell is settled when every colour in it is surely inside or surely outside; the
        // margin covers the rounding of the exact test, so a settled cell never disagrees
        // with it. The rest are tested colour by colour.
        constexpr double margin = 1e-9;
        const std::vector<CellBounds>& cells = LabCells();
        Cells.assign(CellCount, CellNone);
        for (std::size_t i = 0; i < CellCount; ++i) {
            const CellBounds& cell = cells[i];
            std::uint8_t state = CellNone;
            for (const Lab& centre : Labs) {
                const double c[3] = {centre.L, centre.A, centre.B};
                double nearest = 0;
                double farthest = 0;
                for (int k = 0; k < 3; ++k) {
                    const double low = c[k] - cell.Low[k];
                    const double high = cell.High[k] - c[k];
                    const double outside = std::max({-low, -high, 0.0});
                    const double far = std::max(std::abs(low), std::abs(high));
                    nearest += outside * outside;
                    farthest += far * far;
                }
                if (farthest < RadiusSquared - margin) {
                    state = CellAll;
                    break;
                }
                if (nearest <= RadiusSquared + margin) {
                    state = CellMixed;
                }
            }
            Cells[i] = state;
        }
    }
};

SelectionRule::SelectionRule(const SelectionOptions& options) : impl_(std::make_unique<Impl>()) {
    ValidateSelection(options);
    Impl& impl = *impl_;
    impl.Options = options;
    impl.PlainGrey = options.Grey == GreyModel::Average && options.Strength == MaxStrength;
    switch (options.Model) {
    case ColourModel::Hue:
        for (const CentralColor& cc : options.Colours) {
            const HueChroma hc = HueChromaOf(static_cast<std::int32_t>(ClampChannel(cc.Red)),
                                             static_cast<std::int32_t>(ClampChannel(cc.Green)),
                                             static_cast<std::int32_t>(ClampChannel(cc.Blue)));
            if (hc.Chroma > 0) {
                impl.Hues.push_back(hc.Hue);
            }
        }
        break;
    case ColourModel::Perceptual:
        impl.PreparePerceptual();
        break;
    default:
        for (const CentralColor& cc : options.Colours) {
            impl.Boxes.push_back(BoxFor(cc, options.Box));
        }
        break;
    }
}

SelectionRule::~SelectionRule() = default;
SelectionRule::SelectionRule(SelectionRule&&) noexcept = default;
SelectionRule& SelectionRule::operator=(SelectionRule&&) noexcept = default;

const SelectionOptions& SelectionRule::Options() const {
    return impl_->Options;
}

bool SelectionRule::Keeps(TColor32 col) const {
    return impl_->Keeps(col);
}

TColor32 SelectionRule::RenderPixel(TColor32 col) const {
    return impl_->Keeps(col) ? col : impl_->Greyed(col);
}

void SelectionRule::RenderRow(const TColor32* in, TColor32* out, TColor32* mask,
                              std::size_t count) const {
    impl_->Run(in, out, mask, count);
}

void SelectionRule::MaskRow(const TColor32* in, TColor32* mask, std::size_t count) const {
    impl_->Run(in, nullptr, mask, count);
}

void BuildHardMask(const TBitmap32& source, const SelectionRule& rule, TBitmap32& mask,
                   const std::function<void(std::int32_t row)>& onRow) {
    mask.Resize(source.Width(), source.Height());
    const auto width = static_cast<std::size_t>(source.Width());
    ForEachRowChunk(
        source.Width(), source.Height(),
        [&](std::int32_t first, std::int32_t last) {
            for (std::int32_t y = first; y < last; ++y) {
                rule.MaskRow(source.ScanLine(y), mask.ScanLine(y), width);
            }
        },
        onRow);
}

void ComposeSelection(const TBitmap32& source, const TBitmap32& coverage, GreyModel grey,
                      std::int32_t strength, TBitmap32& render) {
    if (source.Width() != coverage.Width() || source.Height() != coverage.Height()) {
        throw EngineError("The picture and the mask differ in size");
    }
    CheckRange("The strength", strength, 0, MaxStrength);
    render.Resize(coverage.Width(), coverage.Height());
    const auto width = static_cast<std::size_t>(coverage.Width());
    const bool plain = grey == GreyModel::Average && strength == MaxStrength;
    ForEachRowChunk(
        coverage.Width(), coverage.Height(), [&](std::int32_t first, std::int32_t last) {
            for (std::int32_t y = first; y < last; ++y) {
                const TColor32* in = source.ScanLine(y);
                const TColor32* keep = coverage.ScanLine(y);
                TColor32* out = render.ScanLine(y);
                for (std::size_t x = 0; x < width; ++x) {
                    const std::uint32_t c = BlueOf(keep[x]);
                    out[x] = c == 255u            ? in[x]
                             : (c == 0u && plain) ? Desaturate(in[x])
                                                  : BlendPixel(in[x], c, grey, strength);
                }
            }
        });
}

void FinishSelection(const TBitmap32& source, const TBitmap32& hardMask,
                     const SelectionOptions& options, const BrushOverlay* brush, TBitmap32& render,
                     TBitmap32& mask) {
    ValidateSelection(options);
    if (source.Width() != hardMask.Width() || source.Height() != hardMask.Height()) {
        throw EngineError("The picture and the mask differ in size");
    }
    const bool painted = brush != nullptr && !brush->IsEmpty();
    if (painted && (brush->Width() != source.Width() || brush->Height() != source.Height())) {
        throw EngineError("The brush strokes and the picture differ in size");
    }
    mask.CopyFrom(&hardMask);
    SoftenMask(mask, options.Feather);
    if (painted) {
        brush->ApplyTo(mask);
    }
    ComposeSelection(source, mask, options.Grey, options.Strength, render);
}

void RenderSelection(const TBitmap32& source, const SelectionOptions& options, TBitmap32& render,
                     TBitmap32& mask, const BrushOverlay* brush,
                     const std::function<void(std::int32_t row)>& onRow) {
    ValidateSelection(options);
    const bool painted = brush != nullptr && !brush->IsEmpty();
    if (painted && (brush->Width() != source.Width() || brush->Height() != source.Height())) {
        throw EngineError("The brush strokes and the picture differ in size");
    }
    if (IsWrittenSelection(options) && !painted) {
        RenderPixels(source, options.Colours.front(), options.Box, render, mask, onRow);
        return;
    }
    const SelectionRule rule(options);
    if (options.Feather == 0 && !painted) {
        mask.Resize(source.Width(), source.Height());
        render.Resize(source.Width(), source.Height());
        const auto width = static_cast<std::size_t>(source.Width());
        ForEachRowChunk(
            source.Width(), source.Height(),
            [&](std::int32_t first, std::int32_t last) {
                for (std::int32_t y = first; y < last; ++y) {
                    rule.RenderRow(source.ScanLine(y), render.ScanLine(y), mask.ScanLine(y), width);
                }
            },
            onRow);
        return;
    }
    BuildHardMask(source, rule, mask, onRow);
    SoftenMask(mask, options.Feather);
    if (painted) {
        brush->ApplyTo(mask);
    }
    ComposeSelection(source, mask, options.Grey, options.Strength, render);
}

} // namespace tintavo
