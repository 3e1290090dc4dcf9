#include "engine/MaskFilter.h"

#include "engine/EngineError.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tintavo {

namespace {

// Erosion and fill share one engine: a pixel of the colour the pass works on (`from`) turns
// into the other one when its count of white neighbours says so. Either rule is monotone:
// erosion only removes white, fill only adds it, so a pixel that qualifies keeps qualifying
// until it changes. The pass therefore ends in the same mask whatever the order of the
// changes, and only the pixels around a change need looking at again.
//
// One raster scan visits every interior pixel once, changing it at once when it qualifies.
// Neighbours of a change that the scan has not reached yet will be visited anyway; the ones it
// has already passed go on a stack and are checked again straight away. Every pixel changes at
// most once and each change pushes at most eight pixels, so the work is linear in the size of
// the mask.
//
// The mask is either 32-bit pixels (MaskKept and MaskGreyed) or one byte a pixel (255 and 0):
// in both, the lowest bit of a pixel is set exactly when it is white.
template <typename Value> class MaskPass {
public:
    MaskPass(Value* pixels, std::uint32_t width, std::uint32_t height, bool erode, Value white,
             Value black)
        : pixels_(pixels), width_(width), height_(height), erode_(erode),
          from_(erode ? white : black), to_(erode ? black : white) {}

    void Run() {
        for (std::uint32_t y = 1; y + 1 < height_; ++y) {
            std::uint32_t x = 1;
#if defined(__SSE2__)
            // Several pixels at a time; on most of a mask none of them qualifies.
            const Value* row = pixels_ + Index(0, y);
            for (; x + Lanes < width_; x += Lanes) {
                unsigned lanes = QualifyingLanes(row + x);
                while (lanes != 0) {
                    const auto lane = static_cast<std::uint32_t>(std::countr_zero(lanes));
                    // A pixel that qualified still does: nothing the change of an earlier one
                    // sets off reaches pixels the scan has not passed.
                    Change(x + lane, y);
                    lanes = QualifyingLanes(row + x) & ~((2u << lane) - 1u);
                }
            }
#endif
            for (; x + 1 < width_; ++x) {
                Visit(x, y);
            }
        }
    }

private:
    struct Pixel {
        std::uint32_t x;
        std::uint32_t y;
    };

    std::size_t Index(std::uint32_t x, std::uint32_t y) const {
        return static_cast<std::size_t>(y) * width_ + x;
    }

    unsigned WhiteNeighbours(std::size_t i) const {
        const Value* up = pixels_ + i - width_;
        const Value* row = pixels_ + i;
        const Value* down = pixels_ + i + width_;
        return (up[-1] & 1u) + (up[0] & 1u) + (up[1] & 1u) + (row[-1] & 1u) + (row[1] & 1u) +
               (down[-1] & 1u) + (down[0] & 1u) + (down[1] & 1u);
    }

    // Erosion: fewer than three white neighbours (S < 765). Fill: five or more (S > 1020).
    bool Qualifies(std::size_t i) const {
        const unsigned white = WhiteNeighbours(i);
        return erode_ ? white < 3 : white > 4;
    }

#if defined(__SSE2__)
    static constexpr std::uint32_t Lanes = sizeof(Value) == 1 ? 16 : 4;

    // One bit for each of the Lanes interior pixels from `at` that is of the pass's colour and
    // qualifies.
    unsigned QualifyingLanes(const Value* at) const {
        const auto load = [](const Value* p) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        };
        const Value* up = at - width_;
        const Value* down = at + width_;
        if constexpr (sizeof(Value) == 1) {
            const __m128i candidate =
                _mm_cmpeq_epi8(load(at), _mm_set1_epi8(static_cast<char>(from_)));
            if (_mm_movemask_epi8(candidate) == 0) {
                return 0;
            }
            const __m128i one = _mm_set1_epi8(1);
            const auto bit = [&](const Value* p) { return _mm_and_si128(load(p), one); };
            const __m128i white =
                _mm_add_epi8(_mm_add_epi8(_mm_add_epi8(bit(up - 1), bit(up)),
                                          _mm_add_epi8(bit(up + 1), bit(at - 1))),
                             _mm_add_epi8(_mm_add_epi8(bit(at + 1), bit(down - 1)),
                                          _mm_add_epi8(bit(down), bit(down + 1))));
            const __m128i qualifies = erode_ ? _mm_cmplt_epi8(white, _mm_set1_epi8(3))
                                             : _mm_cmpgt_epi8(white, _mm_set1_epi8(4));
            return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(candidate, qualifies)));
        } else {
            const __m128i candidate =
                _mm_cmpeq_epi32(load(at), _mm_set1_epi32(static_cast<int>(from_)));
            if (_mm_movemask_epi8(candidate) == 0) {
                return 0;
            }
            const __m128i one = _mm_set1_epi32(1);
            const auto bit = [&](const Value* p) { return _mm_and_si128(load(p), one); };
            const __m128i white =
                _mm_add_epi32(_mm_add_epi32(_mm_add_epi32(bit(up - 1), bit(up)),
                                            _mm_add_epi32(bit(up + 1), bit(at - 1))),
                              _mm_add_epi32(_mm_add_epi32(bit(at + 1), bit(down - 1)),
                                            _mm_add_epi32(bit(down), bit(down + 1))));
            const __m128i qualifies = erode_ ? _mm_cmplt_epi32(white, _mm_set1_epi32(3))
                                             : _mm_cmpgt_epi32(white, _mm_set1_epi32(4));
            return static_cast<unsigned>(
                _mm_movemask_ps(_mm_castsi128_ps(_mm_and_si128(candidate, qualifies))));
        }
    }
#endif

    void Visit(std::uint32_t x, std::uint32_t y) {
        const std::size_t i = Index(x, y);
        if (pixels_[i] == from_ && Qualifies(i)) {
            Change(x, y);
        }
    }

    // Changes the pixel under the scan and follows what that sets off among the pixels the
    // scan has passed.
    void Change(std::uint32_t x, std::uint32_t y) {
        const std::size_t i = Index(x, y);
        pixels_[i] = to_;
        Reserve();
        // The scan has passed four of the neighbours.
        Push(x - 1, y, i, x > 1);
        Push(x - 1, y - 1, i, x > 1 && y > 1);
        Push(x, y - 1, i, y > 1);
        Push(x + 1, y - 1, i, x + 2 < width_ && y > 1);
        Drain(i);
    }

    void Reserve() {
        if (stack_.size() < top_ + 8) {
            stack_.resize(stack_.size() * 2 + 64);
        }
    }

    // Queues an interior neighbour of the pass's colour that the scan at `cursor` has passed.
    // An unconditional write with a conditional count: on a noisy mask every such test is a
    // coin toss for the branch predictor. Every neighbour of an interior pixel lies in the
    // array, so the read is safe even for the outermost pixels that `inside` leaves out.
    void Push(std::uint32_t x, std::uint32_t y, std::size_t cursor, bool inside) {
        const std::size_t n = Index(x, y);
        const bool push = inside & (n < cursor) & (pixels_[n] == from_);
        stack_[top_] = {x, y};
        top_ += push ? 1 : 0;
    }

    void Drain(std::size_t cursor) {
        while (top_ != 0) {
            const Pixel p = stack_[--top_];
            const std::size_t i = Index(p.x, p.y);
            if (pixels_[i] != from_ || !Qualifies(i)) {
                continue;
            }
            pixels_[i] = to_;
            Reserve();
            const bool left = p.x > 1;
            const bool right = p.x + 2 < width_;
            const bool up = p.y > 1;
            const bool down = p.y + 2 < height_;
            Push(p.x - 1, p.y, cursor, left);
            Push(p.x - 1, p.y - 1, cursor, left && up);
            Push(p.x, p.y - 1, cursor, up);
            Push(p.x + 1, p.y - 1, cursor, right && up);
            Push(p.x + 1, p.y, cursor, right);
            Push(p.x + 1, p.y + 1, cursor, right && down);
            Push(p.x, p.y + 1, cursor, down);
            Push(p.x - 1, p.y + 1, cursor, left && down);
        }
    }

    Value* pixels_;
    std::uint32_t width_;
    std::uint32_t height_;
    bool erode_;
    Value from_;
    Value to_;
    std::vector<Pixel> stack_;
    std::size_t top_ = 0;
};

void CheckMask(const TBitmap32& mask) {
    const TColor32* pixels = mask.Bits();
    const std::size_t count = mask.PixelCount();
    std::size_t i = 0;
    bool valid = true;
#if defined(__SSE2__)
    __m128i all = _mm_set1_epi32(-1);
    const __m128i kept = _mm_set1_epi32(static_cast<int>(MaskKept));
    const __m128i greyed = _mm_set1_epi32(static_cast<int>(MaskGreyed));
    for (; i + 4 <= count; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + i));
        all =
            _mm_and_si128(all, _mm_or_si128(_mm_cmpeq_epi32(v, kept), _mm_cmpeq_epi32(v, greyed)));
    }
    valid = _mm_movemask_epi8(all) == 0xFFFF;
#endif
    for (; i < count; ++i) {
        valid &= pixels[i] == MaskKept || pixels[i] == MaskGreyed;
    }
    if (!valid) {
        throw EngineError("The mask holds a pixel that is neither opaque black nor opaque white");
    }
}

void RunPass(TBitmap32& mask, bool erode) {
    if (mask.Width() < 3 || mask.Height() < 3) {
        return;
    }
    MaskPass<TColor32>(mask.Bits(), static_cast<std::uint32_t>(mask.Width()),
                       static_cast<std::uint32_t>(mask.Height()), erode, MaskKept, MaskGreyed)
        .Run();
}

} // namespace

void FilterMask(TBitmap32& mask) {
    CheckMask(mask);
    RunPass(mask, true);
    RunPass(mask, false);
}

void FilterMaskBytes(std::uint8_t* mask, std::int32_t width, std::int32_t height) {
    if (width < 3 || height < 3) {
        return;
    }
    for (const bool erode : {true, false}) {
        MaskPass<std::uint8_t>(mask, static_cast<std::uint32_t>(width),
                               static_cast<std::uint32_t>(height), erode, 255, 0)
            .Run();
    }
}

void RecomposeRow(const TColor32* in, const std::uint8_t* keep, TColor32* out, std::size_t count) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // The render pass's grey, four pixels at a time: (r + g + b) / 3 as (sum * 0xAAAB) >> 17.
    const __m128i byteMask = _mm_set1_epi32(0xFF);
    const __m128i redBlue = _mm_set1_epi32(0x00FF00FF);
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i third = _mm_set1_epi32(0xAAAB);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i repeat = _mm_set1_epi32(0x0101);
    for (; i + 4 <= count; i += 4) {
        const __m128i col = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i sum = _mm_add_epi32(_mm_madd_epi16(_mm_and_si128(col, redBlue), ones),
                                          _mm_and_si128(_mm_srli_epi32(col, 8), byteMask));
        const __m128i level = _mm_srli_epi32(_mm_mulhi_epu16(sum, third), 1);
        const __m128i grey = _mm_or_si128(_mm_or_si128(opaque, _mm_mullo_epi16(level, repeat)),
                                          _mm_slli_epi32(level, 16));
        std::uint32_t four = 0;
        std::memcpy(&four, keep + i, sizeof four);
        __m128i lanes = _mm_cvtsi32_si128(static_cast<int>(four));
        lanes = _mm_unpacklo_epi8(lanes, lanes);
        lanes = _mm_unpacklo_epi16(lanes, lanes); // each byte of `keep` across its pixel's lane
        const __m128i greyed = _mm_cmpeq_epi32(lanes, _mm_setzero_si128());
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_or_si128(_mm_andnot_si128(greyed, col), _mm_and_si128(greyed, grey)));
    }
#endif
    for (; i < count; ++i) {
        const TColor32 col = in[i];
        out[i] = keep[i] == 0 ? Desaturate(col) : col;
    }
}

void RecomposePicture(const TBitmap32& source, const TBitmap32& mask, TBitmap32& render) {
    if (source.Width() != mask.Width() || source.Height() != mask.Height()) {
        throw EngineError("The picture and the mask differ in size");
    }
    render.Resize(mask.Width(), mask.Height());
    const TColor32* in = source.Bits();
    const TColor32* keep = mask.Bits();
    TColor32* out = render.Bits();
    const std::size_t count = mask.PixelCount();
    for (std::size_t i = 0; i < count; ++i) {
        const TColor32 col = in[i];
        out[i] = keep[i] == MaskGreyed ? Desaturate(col) : col;
    }
}

} // namespace tintavo
