#include "engine/Selection.h"

#include "engine/BrushOverlay.h"
#include "engine/EngineError.h"
#include "engine/ParallelRows.h"
#include "engine/SoftEdge.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The same values rounded to float, for the estimate below.
const std::array<float, 256>& LinearFloatTable() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        const auto& lin = LinearTable();
        for (std::size_t i = 0; i < t.size(); ++i) {
            t[i] = static_cast<float>(lin[i]);
        }
        return t;
    }();
    return table;
}

// The cube root to about 14 digits: a float estimate refined by one Newton step in double
// precision. The same on every machine that rounds IEEE doubles.
double CubeRoot(double v) {
    if (v <= 0) {
        return 0;
    }
    double y = static_cast<double>(std::cbrt(static_cast<float>(v)));
    y -= (y * y * y - v) / (3 * y * y);
    return y;
}

// The cube roots of the cone responses (l', m', s'), each increasing in every channel.
std::array<double, 3> ConeRoots(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    const auto& lin = LinearTable();
    const double lr = lin[r];
    const double lg = lin[g];
    const double lb = lin[b];
    return {CubeRoot(0.4122214708 * lr + 0.5363325363 * lg + 0.0514459929 * lb),
            CubeRoot(0.2119034982 * lr + 0.6806995451 * lg + 0.1073969566 * lb),
            CubeRoot(0.0883024619 * lr + 0.2817188376 * lg + 0.6299787005 * lb)};
}

#if defined(__SSE2__)
// The cube roots of four positive floats: an inverse cube root guessed from the bits and
// refined by Newton steps (each squares the relative error), then v * y^2. Zero is raised to
// a tiny value whose root is far below the estimate's margin.
__m128 CubeRootEstimate(__m128 v) {
    v = _mm_max_ps(v, _mm_set1_ps(1e-18f));
    const __m128i bits = _mm_castps_si128(v);
    const __m128i third =
        _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(bits), _mm_set1_ps(1.0f / 3.0f)));
    __m128 y = _mm_castsi128_ps(_mm_sub_epi32(_mm_set1_epi32(0x54A21D2A), third));
    const __m128 vThird = _mm_mul_ps(v, _mm_set1_ps(1.0f / 3.0f));
    const __m128 fourThirds = _mm_set1_ps(4.0f / 3.0f);
    for (int step = 0; step < 3; ++step) {
        const __m128 y2 = _mm_mul_ps(y, y);
        y = _mm_sub_ps(_mm_mul_ps(y, fourThirds), _mm_mul_ps(vThird, _mm_mul_ps(y2, y2)));
    }
    return _mm_mul_ps(v, _mm_mul_ps(y, y));
}

// Estimates in float of the cone roots of four colours sharing red and green (as linear
// values), with four blues: at most about 1e-6 from ConeRoots over all sRGB colours.
struct ConeVectors {
    __m128 Root[3];
};

ConeVectors ConeRootsEstimate(float lr, float lg, __m128 lb) {
    const auto root = [&](float kr, float kg, float kb) {
        return CubeRootEstimate(
            _mm_add_ps(_mm_set1_ps(kr * lr + kg * lg), _mm_mul_ps(_mm_set1_ps(kb), lb)));
    };
    return {{root(0.4122214708f, 0.5363325363f, 0.0514459929f),
             root(0.2119034982f, 0.6806995451f, 0.1073969566f),
             root(0.0883024619f, 0.2817188376f, 0.6299787005f)}};
}
#endif

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
// those intervals), widened a little and kept in float. Made once, used by every perceptual rule to
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
        constexpr int points = side + 1;
        // The cone roots on a grid of channel values 0, 4, ..., 252, 255: cell k's colours lie
        // between grid points k and k + 1, so those bound every cell. Two planes of red values
        // at a time: fresh memory is slow to come by.
        const auto value = [](int k) {
            return static_cast<std::uint32_t>(std::min(k << CellBits, 255));
        };
        using Plane = std::vector<std::array<double, 3>>;
        const auto at = [](int g, int b) {
            return static_cast<std::size_t>(g) * points + static_cast<std::size_t>(b);
        };
#if defined(__SSE2__)
        // Estimated four at a time; the bounds are widened by far more than the estimate's
        // error.
        constexpr double widen = 1e-4;
        const auto& lin = LinearFloatTable();
        const auto linear = [&lin, &value](int k) { return lin[value(std::min(k, points - 1))]; };
        const auto rootsAt = [&](int r, Plane& plane) {
            for (int g = 0; g < points; ++g) {
                for (int b = 0; b < points; b += 4) {
                    const ConeVectors c = ConeRootsEstimate(
                        linear(r), linear(g),
                        _mm_setr_ps(linear(b), linear(b + 1), linear(b + 2), linear(b + 3)));
                    alignas(16) float lanes[3][4];
                    for (std::size_t k = 0; k < 3; ++k) {
                        _mm_store_ps(lanes[k], c.Root[k]);
                    }
                    for (int lane = 0; lane < 4 && b + lane < points; ++lane) {
                        const auto n = static_cast<std::size_t>(lane);
                        plane[at(g, b + lane)] = {lanes[0][n], lanes[1][n], lanes[2][n]};
                    }
                }
            }
        };
#else
        // Rounded outwards to float.
        constexpr double widen = 1e-6;
        const auto rootsAt = [&](int r, Plane& plane) {
            for (int g = 0; g < points; ++g) {
                for (int b = 0; b < points; ++b) {
                    plane[at(g, b)] = ConeRoots(value(r), value(g), value(b));
                }
            }
        };
#endif
        Plane low(static_cast<std::size_t>(points) * points);
        Plane high(low.size());
        rootsAt(0, low);
        std::vector<CellBounds> out(CellCount);
        for (int r = 0; r < side; ++r) {
            rootsAt(r + 1, high);
            for (int g = 0; g < side; ++g) {
                for (int b = 0; b < side; ++b) {
                    const auto& lo = low[at(g, b)];
                    const auto& hi = high[at(g + 1, b + 1)];
                    CellBounds& cell = out[static_cast<std::size_t>((r << 12) | (g << 6) | b)];
                    for (int i = 0; i < 3; ++i) {
                        double sumLow = 0;
                        double sumHigh = 0;
                        for (std::size_t k = 0; k < 3; ++k) {
                            const double m = LabMatrix[i][k];
                            sumLow += m * (m >= 0 ? lo[k] : hi[k]);
                            sumHigh += m * (m >= 0 ? hi[k] : lo[k]);
                        }
                        cell.Low[i] = static_cast<float>(sumLow - widen);
                        cell.High[i] = static_cast<float>(sumHigh + widen);
                    }
                }
            }
            std::swap(low, high);
        }
        return out;
    }();
    return cells;
}

// The same bounds for blocks of 4 x 4 x 4 cells (16^3 of them), so that a perceptual rule
// settles the far parts of the cube a block at a time.
constexpr int BlockBits = 2;
constexpr int BlocksPerSide = CellsPerSide >> BlockBits;
constexpr std::size_t BlockCount = std::size_t{BlocksPerSide} * BlocksPerSide * BlocksPerSide;

std::size_t CellIndex(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return std::size_t{r} << 12 | std::size_t{g} << 6 | std::size_t{b};
}

const std::vector<CellBounds>& LabBlocks() {
    static const std::vector<CellBounds> blocks = [] {
        const std::vector<CellBounds>& cells = LabCells();
        std::vector<CellBounds> out(BlockCount);
        constexpr std::uint32_t side = 1u << BlockBits;
        for (std::size_t i = 0; i < BlockCount; ++i) {
            CellBounds block{};
            std::fill_n(block.Low, 3, std::numeric_limits<float>::infinity());
            std::fill_n(block.High, 3, -std::numeric_limits<float>::infinity());
            const auto r0 = static_cast<std::uint32_t>(i >> 8) * side;
            const auto g0 = static_cast<std::uint32_t>((i >> 4) & 15u) * side;
            const auto b0 = static_cast<std::uint32_t>(i & 15u) * side;
            for (std::uint32_t k = 0; k < side * side * side; ++k) {
                const CellBounds& cell =
                    cells[CellIndex(r0 + k / (side * side), g0 + k / side % side, b0 + k % side)];
                for (std::size_t c = 0; c < 3; ++c) {
                    block.Low[c] = std::min(block.Low[c], cell.Low[c]);
                    block.High[c] = std::max(block.High[c], cell.High[c]);
                }
            }
            out[i] = block;
        }
        return out;
    }();
    return blocks;
}

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
    std::vector<ChannelBox> Boxes; // non-empty boxes only
    std::vector<std::int32_t> Hues;
    // Hue, eight pixels at a time: within the sector of the largest channel (red, green, blue)
    // the hue is its base plus q = 256 * num / chroma truncated, -256..256, and the values of
    // q kept fall in runs worked out once from the rule itself. A run's ends are tested
    // without a division, truncation toward zero included, each as
    // x * num + y * chroma > limit, the coefficients laid out as the (num, chroma) lanes they
    // multiply.
    struct alignas(16) HueEnd {
        std::int32_t Coef[4];
        std::int16_t Limit[8]; // -1 or 0
    };
    struct HueRun {
        HueEnd Ends[2];
        std::size_t EndCount = 0;
        std::size_t Sector = 0; // red, green, blue, or 3 for every pixel
    };
    std::vector<HueRun> HueRuns;
    // One bit for each sector with a run end to test, whose pixels need their numerator, and
    // one for each sector with any run.
    int HueNumerators = 0;
    int HueSectors = 0;
    std::vector<Lab> Labs;
    double RadiusSquared = 0;
    // Perceptual: one bit per colour of each cell of the colour cube (bit
    // (r & 3) << 4 | (g & 3) << 2 | (b & 3)), set when the colour is kept, so that a pixel
    // costs one load. A cell that its bounds do not settle holds CellPending until a pixel
    // first needs it, and is then worked out colour by colour. Filled while the rule is used,
    // from any thread: a cell worked out twice at once comes out the same, and a word is
    // written whole. A worked-out cell whose bits happen to equal CellPending is marked in
    // CellWorkedOut (one bit a cell), which is read only when a word holds that value.
    static constexpr std::uint64_t CellPending = 0xA5A55A5AA5A55A5Aull;
    std::unique_ptr<std::atomic<std::uint64_t>[]> CellKept;
    std::unique_ptr<std::atomic<std::uint64_t>[]> CellWorkedOut;
    // For each kept colour, the box of channel values of the cells it may keep colours of:
    // a pixel outside every box is not kept, whatever its cell.
    // Low and high corners as pixels, repeated for the four lanes.
    struct alignas(16) LaneBox {
        std::uint32_t Low[4];
        std::uint32_t High[4];
    };
    std::vector<LaneBox> Reach;
    // The kept colours in float, and the squared radius narrowed and widened by the most the
    // float estimate of a distance can be off, with room to spare.
    std::vector<std::array<float, 3>> FloatLabs;
    float SurelyInSquared = -1;
    float SurelyOutSquared = 0;
    bool PlainGrey = true; // Average at full strength: Desaturate

    static std::uint32_t BitOf(TColor32 col) {
        return (RedOf(col) & 3u) << 4 | (GreenOf(col) & 3u) << 2 | (BlueOf(col) & 3u);
    }

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
        const HueChroma hc = HueChromaOf(r, g, b);
        return hc.Chroma > Options.ChromaFloor && KeepsHueValue(hc.Hue);
    }

    bool KeepsHueValue(std::int32_t hue) const {
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

    bool KeepsExactly(std::uint32_t r, std::uint32_t g, std::uint32_t b) const {
        const Lab lab = LabOf(r, g, b);
        return std::any_of(Labs.begin(), Labs.end(), [&](const Lab& centre) {
            return DistanceSquared(lab, centre) <= RadiusSquared;
        });
    }

    std::uint64_t WorkOutCell(std::size_t cell) const {
        const auto r0 = static_cast<std::uint32_t>(cell >> 12) << CellBits;
        const auto g0 = static_cast<std::uint32_t>((cell >> 6) & 63u) << CellBits;
        const auto b0 = static_cast<std::uint32_t>(cell & 63u) << CellBits;
        std::uint64_t bits = 0;
        std::uint64_t unsure = ~std::uint64_t{0};
#if defined(__SSE2__)
        EstimateCell(r0, g0, b0, bits, unsure);
#endif
        // Only the colours the estimate leaves open are computed exactly.
        for (; unsure != 0; unsure &= unsure - 1) {
            const auto k = static_cast<std::uint32_t>(std::countr_zero(unsure));
            const bool kept = KeepsExactly(r0 + (k >> 4), g0 + ((k >> 2) & 3u), b0 + (k & 3u));
            bits |= std::uint64_t{kept} << k;
        }
        return bits;
    }

    std::uint64_t SettleCell(std::size_t cell) const {
        const std::uint64_t flag = std::uint64_t{1} << (cell & 63u);
        if ((CellWorkedOut[cell >> 6].load(std::memory_order_acquire) & flag) != 0) {
            return CellKept[cell].load(std::memory_order_relaxed);
        }
        const std::uint64_t bits = WorkOutCell(cell);
        CellKept[cell].store(bits, std::memory_order_relaxed);
        if (bits == CellPending) {
            CellWorkedOut[cell >> 6].fetch_or(flag, std::memory_order_release);
        }
        return bits;
    }

    bool KeepsPerceptual(TColor32 col) const {
        const std::size_t cell = CellOf(col);
        std::uint64_t bits = CellKept[cell].load(std::memory_order_relaxed);
        if (bits == CellPending) [[unlikely]] {
            bits = SettleCell(cell);
        }
        return ((bits >> BitOf(col)) & 1u) != 0;
    }

#if defined(__SSE2__)
    // The 64 colours of a cell in float, four blues at a time: `kept` gets the colours surely
    // within the radius of a kept colour, `unsure` those too near its edge for the estimate.
    void EstimateCell(std::uint32_t r0, std::uint32_t g0, std::uint32_t b0, std::uint64_t& kept,
                      std::uint64_t& unsure) const {
        const auto& lin = LinearFloatTable();
        const __m128 lb = _mm_loadu_ps(&lin[b0]);
        const auto mul = [](float m, __m128 v) { return _mm_mul_ps(_mm_set1_ps(m), v); };
        const auto add = [](__m128 a, __m128 b) { return _mm_add_ps(a, b); };
        const __m128 inSq = _mm_set1_ps(SurelyInSquared);
        const __m128 outSq = _mm_set1_ps(SurelyOutSquared);
        kept = 0;
        unsure = 0;
        for (std::uint32_t rg = 0; rg < 16; ++rg) {
            const ConeVectors c = ConeRootsEstimate(lin[r0 + (rg >> 2)], lin[g0 + (rg & 3u)], lb);
            const auto row = [&](int i) {
                return add(add(mul(static_cast<float>(LabMatrix[i][0]), c.Root[0]),
                               mul(static_cast<float>(LabMatrix[i][1]), c.Root[1])),
                           mul(static_cast<float>(LabMatrix[i][2]), c.Root[2]));
            };
            const __m128 lab[3] = {row(0), row(1), row(2)};
            __m128 in = _mm_setzero_ps();
            __m128 near = _mm_setzero_ps();
            for (const auto& centre : FloatLabs) {
                __m128 d2 = _mm_setzero_ps();
                for (int i = 0; i < 3; ++i) {
                    const __m128 d =
                        _mm_sub_ps(lab[i], _mm_set1_ps(centre[static_cast<std::size_t>(i)]));
                    d2 = add(d2, _mm_mul_ps(d, d));
                }
                in = _mm_or_ps(in, _mm_cmple_ps(d2, inSq));
                near = _mm_or_ps(near, _mm_cmplt_ps(d2, outSq));
            }
            const auto shift = rg << 2;
            kept |= std::uint64_t(static_cast<std::uint32_t>(_mm_movemask_ps(in))) << shift;
            unsure |=
                std::uint64_t(static_cast<std::uint32_t>(_mm_movemask_ps(_mm_andnot_ps(in, near))))
                << shift;
        }
    }
#endif

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

    void ScalarRow(const TColor32* in, TColor32* out, TColor32* mask, std::size_t x,
                   std::size_t end) const {
        for (; x < end; ++x) {
            const TColor32 col = in[x];
            const bool kept = Keeps(col);
            if (out != nullptr) {
                out[x] = kept ? col : Greyed(col);
            }
            if (mask != nullptr) {
                mask[x] = kept ? MaskKept : MaskGreyed;
            }
        }
    }

#if defined(__SSE2__)
    // Eight pixels at a time: the model's decision as lane masks, then the output. Each step
    // gives exactly what the scalar rule gives, in integers throughout.
    static __m128i InBoxes(const std::vector<ChannelBox>& boxes, __m128i col) {
        __m128i kept = _mm_setzero_si128();
        for (const ChannelBox& box : boxes) {
            const __m128i low =
                _mm_set1_epi32(static_cast<int>(box.Low[0] << 16 | box.Low[1] << 8 | box.Low[2]));
            const __m128i high = _mm_set1_epi32(
                static_cast<int>(0xFF000000u | box.High[0] << 16 | box.High[1] << 8 | box.High[2]));
            const __m128i outside = _mm_or_si128(_mm_subs_epu8(low, col), _mm_subs_epu8(col, high));
            kept = _mm_or_si128(kept, _mm_cmpeq_epi32(outside, _mm_setzero_si128()));
        }
        return kept;
    }

    // Eight pixels in 16-bit lanes, without a division: each run of kept values of the
    // sector's part of the hue, 256 * num / chroma truncated, is tested at its ends as
    // 256 * num - a * chroma against 0 or -1, in 32 bits.
    void KeptHue(__m128i c0, __m128i c1, __m128i& k0, __m128i& k1) const {
        const __m128i byteMask = _mm_set1_epi32(0xFF);
        const auto channel = [&](int shift) {
            return _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(c0, shift), byteMask),
                                   _mm_and_si128(_mm_srli_epi32(c1, shift), byteMask));
        };
        const __m128i r = channel(16);
        const __m128i g = channel(8);
        const __m128i b = _mm_packs_epi32(_mm_and_si128(c0, byteMask), _mm_and_si128(c1, byteMask));
        const __m128i high = _mm_max_epi16(_mm_max_epi16(r, g), b);
        const __m128i chroma = _mm_sub_epi16(high, _mm_min_epi16(_mm_min_epi16(r, g), b));
        const __m128i coloured =
            _mm_cmpgt_epi16(chroma, _mm_set1_epi16(static_cast<short>(Options.ChromaFloor)));
        const __m128i zero = _mm_setzero_si128();
        const __m128i all = _mm_set1_epi16(-1);
        const __m128i isRed = _mm_cmpeq_epi16(high, r);
        const __m128i isGreen = _mm_andnot_si128(isRed, _mm_cmpeq_epi16(high, g));
        const __m128i sectors[4] = {isRed, isGreen,
                                    _mm_andnot_si128(_mm_or_si128(isRed, isGreen), all), all};
        // Eight pixels none of which has enough chroma in a sector with a run are settled.
        __m128i candidates = coloured;
        if (HueSectors != 0 && HueSectors != 7) {
            __m128i relevant = zero;
            for (std::size_t sector = 0; sector < 3; ++sector) {
                if ((HueSectors >> sector & 1) != 0) {
                    relevant = _mm_or_si128(relevant, sectors[sector]);
                }
            }
            candidates = _mm_and_si128(candidates, relevant);
        }
        if (HueSectors == 0 || _mm_movemask_epi8(candidates) == 0) {
            k0 = zero;
            k1 = zero;
            return;
        }
        const auto pick = [](__m128i m, __m128i a, __m128i other) {
            return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, other));
        };
        // Only the lanes of sectors with a bounded run need their numerator.
        __m128i num;
        switch (HueNumerators) {
        case 0:
            num = zero;
            break;
        case 1:
            num = _mm_sub_epi16(g, b);
            break;
        case 2:
            num = _mm_sub_epi16(b, r);
            break;
        case 4:
            num = _mm_sub_epi16(r, g);
            break;
        default:
            num = pick(isRed, _mm_sub_epi16(g, b),
                       pick(isGreen, _mm_sub_epi16(b, r), _mm_sub_epi16(r, g)));
            break;
        }
        // Numerator and chroma side by side, for a multiply-add with (256, -a).
        const __m128i nc0 = _mm_unpacklo_epi16(num, chroma);
        const __m128i nc1 = _mm_unpackhi_epi16(num, chroma);
        const auto load = [](const void* v) {
            return _mm_load_si128(reinterpret_cast<const __m128i*>(v));
        };
        __m128i kept = zero;
        for (const HueRun& run : HueRuns) {
            __m128i in = sectors[run.Sector];
            for (std::size_t e = 0; e < run.EndCount; ++e) {
                const __m128i coef = load(run.Ends[e].Coef);
                const __m128i limit = load(run.Ends[e].Limit);
                // Narrowing with saturation keeps the sign and zero, all the test looks at.
                in = _mm_and_si128(in, _mm_cmpgt_epi16(_mm_packs_epi32(_mm_madd_epi16(nc0, coef),
                                                                       _mm_madd_epi16(nc1, coef)),
                                                       limit));
            }
            kept = _mm_or_si128(kept, in);
        }
        kept = _mm_and_si128(kept, candidates);
        k0 = _mm_unpacklo_epi16(kept, kept);
        k1 = _mm_unpackhi_epi16(kept, kept);
    }

    // True when any of eight pixels lies within some reach box.
    bool AnyInReach(__m128i c0, __m128i c1) const {
        const __m128i zero = _mm_setzero_si128();
        __m128i in = zero;
        for (const LaneBox& box : Reach) {
            const __m128i low = _mm_load_si128(reinterpret_cast<const __m128i*>(box.Low));
            const __m128i high = _mm_load_si128(reinterpret_cast<const __m128i*>(box.High));
            const __m128i out0 = _mm_or_si128(_mm_subs_epu8(low, c0), _mm_subs_epu8(c0, high));
            const __m128i out1 = _mm_or_si128(_mm_subs_epu8(low, c1), _mm_subs_epu8(c1, high));
            in = _mm_or_si128(
                in, _mm_or_si128(_mm_cmpeq_epi32(out0, zero), _mm_cmpeq_epi32(out1, zero)));
        }
        return _mm_movemask_epi8(in) != 0;
    }

    // The word and bit of each of four pixels in the table as one index, cell << 6 | bit.
    static __m128i TableIndex(__m128i col) {
        const auto part = [col](int shift, int mask) {
            return _mm_and_si128(_mm_srli_epi32(col, shift), _mm_set1_epi32(mask));
        };
        const __m128i blue = _mm_slli_epi32(_mm_and_si128(col, _mm_set1_epi32(0xFC)), 4);
        const __m128i green = _mm_slli_epi32(_mm_and_si128(col, _mm_set1_epi32(0xFC00)), 2);
        const __m128i red = _mm_and_si128(col, _mm_set1_epi32(0xFC0000));
        return _mm_or_si128(
            _mm_or_si128(_mm_or_si128(blue, part(0, 3)), _mm_or_si128(green, part(6, 0xC))),
            _mm_or_si128(red, part(12, 0x30)));
    }

    // The greyed pixel: (channel * (100 - s) + level * s + 50) / 100 with alpha 255, which is
    // BlendPixel at coverage 0; the average grey at full strength is Desaturate. In 16-bit
    // lanes: every sum is at most 25550, and below 43699 x / 100 is (x * 5243) >> 19.
    __m128i GreyedVector(__m128i col) const {
        const __m128i zero = _mm_setzero_si128();
        const __m128i byteMask = _mm_set1_epi32(0xFF);
        const __m128i redBlue = _mm_set1_epi32(0x00FF00FF);
        const __m128i green = _mm_and_si128(_mm_srli_epi32(col, 8), byteMask);
        __m128i level;
        if (Options.Grey == GreyModel::Luminance) {
            // Blue and red in one multiply-add; green's weight is over 32767, so green is
            // doubled into both halves of its lane and weighed 23436 + 23435.
            const __m128i blueRed =
                _mm_madd_epi16(_mm_and_si128(col, redBlue), _mm_set1_epi32(13933 << 16 | 4732));
            const __m128i greens = _mm_madd_epi16(_mm_or_si128(green, _mm_slli_epi32(green, 16)),
                                                  _mm_set1_epi32(23435 << 16 | 23436));
            level = _mm_srli_epi32(
                _mm_add_epi32(_mm_add_epi32(blueRed, greens), _mm_set1_epi32(32768)), 16);
        } else {
            const __m128i sum = _mm_add_epi32(
                _mm_madd_epi16(_mm_and_si128(col, redBlue), _mm_set1_epi16(1)), green);
            level = _mm_srli_epi32(_mm_mulhi_epu16(sum, _mm_set1_epi32(0xAAAB)), 1);
        }
        const auto s = static_cast<short>(Options.Strength);
        // level * s + 50 in the low half of each lane, then in all four channels' lanes.
        __m128i grey = _mm_add_epi32(_mm_mullo_epi16(level, _mm_set1_epi32(s)), _mm_set1_epi32(50));
        grey = _mm_or_si128(grey, _mm_slli_epi32(grey, 16));
        const __m128i keep = _mm_set1_epi16(static_cast<short>(100 - s));
        const __m128i hundredth = _mm_set1_epi16(5243);
        const auto mix = [&](__m128i channels, __m128i levels) {
            const __m128i x = _mm_add_epi16(_mm_mullo_epi16(channels, keep), levels);
            return _mm_srli_epi16(_mm_mulhi_epu16(x, hundredth), 3);
        };
        const __m128i low = mix(_mm_unpacklo_epi8(col, zero), _mm_unpacklo_epi32(grey, grey));
        const __m128i high = mix(_mm_unpackhi_epi8(col, zero), _mm_unpackhi_epi32(grey, grey));
        return _mm_or_si128(_mm_packus_epi16(low, high),
                            _mm_set1_epi32(static_cast<int>(0xFF000000u)));
    }

    static __m128i PlainGreyVector(__m128i col) {
        const __m128i byteMask = _mm_set1_epi32(0xFF);
        const __m128i redBlue = _mm_set1_epi32(0x00FF00FF);
        const __m128i ones = _mm_set1_epi16(1);
        const __m128i third = _mm_set1_epi32(0xAAAB); // (sum * 0xAAAB) >> 17 == sum / 3
        const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
        const __m128i repeat = _mm_set1_epi32(0x0101);
        const __m128i sum = _mm_add_epi32(_mm_madd_epi16(_mm_and_si128(col, redBlue), ones),
                                          _mm_and_si128(_mm_srli_epi32(col, 8), byteMask));
        const __m128i level = _mm_srli_epi32(_mm_mulhi_epu16(sum, third), 1);
        return _mm_or_si128(_mm_or_si128(opaque, _mm_mullo_epi16(level, repeat)),
                            _mm_slli_epi32(level, 16));
    }

    template <int Model, bool Stream>
    std::size_t VectorRow(const TColor32* in, TColor32* out, TColor32* mask, std::size_t x,
                          std::size_t count) const {
        const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
        const bool unchanged = Options.Strength == 0;
        const auto store = [](TColor32* to, __m128i v) {
            if constexpr (Stream) {
                // Written past the caches: the results are far larger than any cache.
                _mm_stream_si128(reinterpret_cast<__m128i*>(to), v);
            } else {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(to), v);
            }
        };
        const auto finish = [&](std::size_t at, __m128i col, __m128i kept) {
            if (out != nullptr) {
                __m128i result = col;
                if (!unchanged) {
                    const __m128i grey = PlainGrey ? PlainGreyVector(col) : GreyedVector(col);
                    result = _mm_or_si128(_mm_and_si128(kept, col), _mm_andnot_si128(kept, grey));
                }
                store(out + at, result);
            }
            if (mask != nullptr) {
                store(mask + at, _mm_or_si128(opaque, kept));
            }
        };
        for (; x + 8 <= count; x += 8) {
            const __m128i c0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
            const __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x + 4));
            __m128i k0;
            __m128i k1;
            if constexpr (Model == 1) {
                KeptHue(c0, c1, k0, k1);
            } else if constexpr (Model == 2) {
                // Pixels outside every reach box are not kept: eight of them together are
                // settled without a look at the table.
                if (!AnyInReach(c0, c1)) {
                    k0 = _mm_setzero_si128();
                    k1 = k0;
                } else {
                    alignas(16) std::uint32_t at[8];
                    alignas(16) std::int32_t kept[8];
                    _mm_store_si128(reinterpret_cast<__m128i*>(at), TableIndex(c0));
                    _mm_store_si128(reinterpret_cast<__m128i*>(at + 4), TableIndex(c1));
                    const std::atomic<std::uint64_t>* const table = CellKept.get();
                    for (std::size_t k = 0; k < 8; ++k) {
                        const std::size_t cell = at[k] >> 6;
                        std::uint64_t bits = table[cell].load(std::memory_order_relaxed);
                        if (bits == CellPending) [[unlikely]] {
                            bits = SettleCell(cell);
                        }
                        // The pixel's bit moved to the top, then spread over the lane.
                        kept[k] = static_cast<std::int32_t>(
                            static_cast<std::int64_t>(bits << (~at[k] & 63u)) >> 63);
                    }
                    k0 = _mm_load_si128(reinterpret_cast<const __m128i*>(kept));
                    k1 = _mm_load_si128(reinterpret_cast<const __m128i*>(kept + 4));
                }
            } else {
                k0 = InBoxes(Boxes, c0);
                k1 = InBoxes(Boxes, c1);
            }
            finish(x, c0, k0);
            finish(x + 4, c1, k1);
        }
        if constexpr (Stream) {
            _mm_sfence();
        }
        return x;
    }

    template <int Model>
    std::size_t VectorRow(const TColor32* in, TColor32* out, TColor32* mask,
                          std::size_t count) const {
        // Scalar up to a 16-byte boundary of the outputs when they share one, then streamed.
        const auto offset = [](const TColor32* p) {
            return p == nullptr ? std::uintptr_t{0} : reinterpret_cast<std::uintptr_t>(p) & 15u;
        };
        TColor32* lead = out != nullptr ? out : mask;
        const bool together = out == nullptr || mask == nullptr || offset(out) == offset(mask);
        if (lead == nullptr || !together || (offset(lead) & 3u) != 0) {
            return VectorRow<Model, false>(in, out, mask, 0, count);
        }
        const std::size_t head = std::min<std::size_t>((16u - offset(lead)) % 16u / 4u, count);
        ScalarRow(in, out, mask, 0, head);
        return VectorRow<Model, true>(in, out, mask, head, count);
    }
#endif

    void Run(const TColor32* in, TColor32* out, TColor32* mask, std::size_t count) const {
        std::size_t x = 0;
#if defined(__SSE2__)
        switch (Options.Model) {
        case ColourModel::Hue:
            x = VectorRow<1>(in, out, mask, count);
            break;
        case ColourModel::Perceptual:
            x = VectorRow<2>(in, out, mask, count);
            break;
        default:
            x = VectorRow<0>(in, out, mask, count);
            break;
        }
#endif
        ScalarRow(in, out, mask, x, count);
    }

    void PrepareHue() {
        constexpr std::int32_t span = 256;
        const auto end = [](HueRun& run, std::int32_t x, std::int32_t y, std::int32_t limit) {
            HueEnd& e = run.Ends[run.EndCount++];
            std::fill_n(
                e.Coef, 4,
                static_cast<std::int32_t>(std::uint32_t{static_cast<std::uint16_t>(x)} |
                                          std::uint32_t{static_cast<std::uint16_t>(y)} << 16));
            std::fill_n(e.Limit, 8, static_cast<std::int16_t>(limit));
        };
        std::size_t whole = 0;
        for (std::size_t sector = 0; sector < 3; ++sector) {
            const auto base = static_cast<std::int32_t>(sector) * 512;
            const auto keeps = [&](std::int32_t q) {
                const std::int32_t hue = base + q;
                return KeepsHueValue(hue < 0 ? hue + HueTurn : hue);
            };
            for (std::int32_t first = -span; first <= span; ++first) {
                if (!keeps(first) || (first > -span && keeps(first - 1))) {
                    continue;
                }
                std::int32_t last = first;
                while (last < span && keeps(last + 1)) {
                    ++last;
                }
                HueRun run{};
                run.Sector = sector;
                if (first > -span) {
                    // q >= a: 256 num >= a chroma for a > 0, else 256 num > (a - 1) chroma.
                    if (first > 0) {
                        end(run, 256, -first, -1);
                    } else {
                        end(run, 256, 1 - first, 0);
                    }
                }
                if (last < span) {
                    // q <= b: 256 num < (b + 1) chroma for b >= 0, else 256 num <= b chroma.
                    if (last >= 0) {
                        end(run, -256, last + 1, 0);
                    } else {
                        end(run, -256, last, -1);
                    }
                }
                if (run.EndCount != 0) {
                    HueNumerators |= 1 << sector;
                } else {
                    ++whole;
                }
                HueSectors |= 1 << sector;
                HueRuns.push_back(run);
            }
        }
        if (whole == 3) {
            // Every hue is kept: only the chroma decides.
            HueRuns.assign(1, HueRun{});
            HueRuns.front().Sector = 3;
        }
    }

    void PreparePerceptual() {
        for (const CentralColor& cc : Options.Colours) {
            Labs.push_back(
                LabOf(ClampChannel(cc.Red), ClampChannel(cc.Green), ClampChannel(cc.Blue)));
            const Lab& lab = Labs.back();
            FloatLabs.push_back(
                {static_cast<float>(lab.L), static_cast<float>(lab.A), static_cast<float>(lab.B)});
        }
        const double radius = Options.PerceptualRadius / 100.0;
        RadiusSquared = radius * radius;
        // The float estimate of a colour's Oklab differs from the exact one by at most 1.5e-6
        // in each of L, a and b over all 16.7 million colours, so its distance to a kept
        // colour is off by less than 3e-6; the margin is thirty times that.
        constexpr double estimateMargin = 1e-4;
        if (radius > estimateMargin) {
            SurelyInSquared =
                static_cast<float>((radius - estimateMargin) * (radius - estimateMargin));
        }
        SurelyOutSquared =
            static_cast<float>((radius + estimateMargin) * (radius + estimateMargin));
        // A cell is settled when every colour in it is surely inside or surely outside; the
        // margin covers the rounding of the exact test, so a settled cell never disagrees
        // with it. The colours of the other cells are tested one by one.
        constexpr double margin = 1e-9;
        enum class Reached { None, Part, All };
        const auto reached = [this, margin](const CellBounds& bounds, const Lab& centre) {
            const double c[3] = {centre.L, centre.A, centre.B};
            double nearest = 0;
            double farthest = 0;
            for (int k = 0; k < 3; ++k) {
                const double low = c[k] - bounds.Low[k];
                const double high = bounds.High[k] - c[k];
                const double outside = std::max({-low, -high, 0.0});
                const double far = std::max(std::abs(low), std::abs(high));
                nearest += outside * outside;
                farthest += far * far;
            }
            return nearest > RadiusSquared + margin    ? Reached::None
                   : farthest < RadiusSquared - margin ? Reached::All
                                                       : Reached::Part;
        };
        // The box of channel values each kept colour reaches, from cells `side` values wide.
        std::vector<std::array<std::uint32_t, 6>> reach(Labs.size(), {255, 255, 255, 0, 0, 0});
        const auto extend = [&reach](std::size_t j, const std::uint32_t(&corner)[3],
                                     std::uint32_t side) {
            auto& box = reach[j];
            for (std::size_t k = 0; k < 3; ++k) {
                box[k] = std::min(box[k], corner[k]);
                box[k + 3] = std::max(box[k + 3], corner[k] + side - 1);
            }
        };
        const std::vector<CellBounds>& cells = LabCells();
        const std::vector<CellBounds>& blocks = LabBlocks();
        CellKept = std::make_unique<std::atomic<std::uint64_t>[]>(CellCount); // all not kept
        CellWorkedOut = std::make_unique<std::atomic<std::uint64_t>[]>(CellCount / 64);
        constexpr std::uint32_t blockSide = 1u << BlockBits;
        constexpr std::uint32_t cellSide = 1u << CellBits;
        for (std::size_t i = 0; i < BlockCount; ++i) {
            const std::uint32_t first[3] = {static_cast<std::uint32_t>(i >> 8) * blockSide,
                                            static_cast<std::uint32_t>((i >> 4) & 15u) * blockSide,
                                            static_cast<std::uint32_t>(i & 15u) * blockSide};
            bool near = false;
            bool all = false;
            for (std::size_t j = 0; j < Labs.size() && !all; ++j) {
                const Reached r = reached(blocks[i], Labs[j]);
                near = near || r != Reached::None;
                if (r == Reached::All) {
                    all = true;
                    const std::uint32_t corner[3] = {first[0] * cellSide, first[1] * cellSide,
                                                     first[2] * cellSide};
                    extend(j, corner, blockSide * cellSide);
                }
            }
            if (!near) {
                continue;
            }
            for (std::uint32_t k = 0; k < blockSide * blockSide * blockSide; ++k) {
                const std::uint32_t at[3] = {first[0] + k / (blockSide * blockSide),
                                             first[1] + k / blockSide % blockSide,
                                             first[2] + k % blockSide};
                const std::size_t cell = CellIndex(at[0], at[1], at[2]);
                std::uint64_t bits = all ? ~std::uint64_t{0} : 0;
                for (std::size_t j = 0; j < Labs.size() && !all; ++j) {
                    const Reached r = reached(cells[cell], Labs[j]);
                    if (r == Reached::None) {
                        continue;
                    }
                    const std::uint32_t corner[3] = {at[0] * cellSide, at[1] * cellSide,
                                                     at[2] * cellSide};
                    extend(j, corner, cellSide);
                    if (r == Reached::All) {
                        bits = ~std::uint64_t{0};
                        break;
                    }
                    bits = CellPending;
                }
                CellKept[cell].store(bits, std::memory_order_relaxed);
            }
        }
        for (const auto& box : reach) {
            if (box[0] <= box[3]) {
                LaneBox lanes{};
                std::fill_n(lanes.Low, 4, box[0] << 16 | box[1] << 8 | box[2]);
                std::fill_n(lanes.High, 4, 0xFF000000u | box[3] << 16 | box[4] << 8 | box[5]);
                Reach.push_back(lanes);
            }
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
        impl.PrepareHue();
        break;
    case ColourModel::Perceptual:
        impl.PreparePerceptual();
        break;
    default:
        for (const CentralColor& cc : options.Colours) {
            const ChannelBox box = BoxFor(cc, options.Box);
            if (box.Low[0] <= box.High[0]) {
                impl.Boxes.push_back(box);
            }
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
                   const std::function<void(std::int32_t row)>& onRow,
                   const std::atomic<bool>* cancel) {
    mask.Resize(source.Width(), source.Height());
    const auto width = static_cast<std::size_t>(source.Width());
    ForEachRowChunk(
        source.Width(), source.Height(),
        [&](std::int32_t first, std::int32_t last) {
            if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
                return;
            }
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
    if (IsWrittenSelection(options) && !painted) {
        RenderPixels(source, options.Colours.front(), options.Box, render, mask, onRow);
        return;
    }
    RenderSelection(source, SelectionRule(options), render, mask, brush, onRow);
}

void RenderSelection(const TBitmap32& source, const SelectionRule& rule, TBitmap32& render,
                     TBitmap32& mask, const BrushOverlay* brush,
                     const std::function<void(std::int32_t row)>& onRow) {
    const SelectionOptions& options = rule.Options();
    const bool painted = brush != nullptr && !brush->IsEmpty();
    if (painted && (brush->Width() != source.Width() || brush->Height() != source.Height())) {
        throw EngineError("The brush strokes and the picture differ in size");
    }
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

void SampleSelection(const TBitmap32& source, const SelectionRule& rule, const TBitmap32* coverage,
                     const BrushOverlay* brush, bool showMask, const ViewSampling& sampling,
                     TBitmap32& out) {
    const bool painted = brush != nullptr && !brush->IsEmpty();
    const auto fits = [&source](std::int32_t width, std::int32_t height) {
        return width == source.Width() && height == source.Height();
    };
    if ((coverage != nullptr && !fits(coverage->Width(), coverage->Height())) ||
        (painted && !fits(brush->Width(), brush->Height()))) {
        out.Resize(0, 0);
        return;
    }
    TBitmap32 sampled;
    SamplePicture(source, sampling, sampled);
    out.Resize(sampled.Width(), sampled.Height());
    const auto width = static_cast<std::size_t>(sampled.Width());
    const SelectionOptions& options = rule.Options();
    for (std::int32_t j = 0; j < sampled.Height(); ++j) {
        const TColor32* in = sampled.ScanLine(j);
        TColor32* row = out.ScanLine(j);
        if (coverage == nullptr && !painted) {
            if (showMask) {
                rule.MaskRow(in, row, width);
            } else {
                rule.RenderRow(in, row, nullptr, width);
            }
            continue;
        }
        const std::int32_t y = sampling.Rows[static_cast<std::size_t>(j)];
        const TColor32* held = coverage != nullptr ? coverage->ScanLine(y) : nullptr;
        for (std::size_t i = 0; i < width; ++i) {
            const std::int32_t x = sampling.Columns[i];
            std::uint32_t c = held != nullptr ? BlueOf(held[x]) : (rule.Keeps(in[i]) ? 255u : 0u);
            if (painted) {
                c = brush->Over(x, y, c);
            }
            row[i] = showMask ? GreyPixel(c, 255u)
                              : BlendPixel(in[i], c, options.Grey, options.Strength);
        }
    }
    out.Changed();
}

} // namespace tintavo
