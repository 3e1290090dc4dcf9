#include "engine/RenderPass.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tintavo {

namespace {

// The values of one channel that lie within the threshold of the Central Color, as an
// interval clipped to 0..255: [Low, Low + Span] when Span is not negative. Computed in 64 bits
// since the Central Color may be any 32-bit integer.
struct ChannelRange {
    std::uint32_t Low = 0;
    std::uint32_t Span = 0;
    bool Empty = true;
};

ChannelRange RangeFor(std::int32_t centre, std::int32_t threshold) {
    const std::int64_t low = std::max<std::int64_t>(std::int64_t{centre} - threshold, 0);
    const std::int64_t high = std::min<std::int64_t>(std::int64_t{centre} + threshold, 255);
    if (threshold < 0 || low > high) {
        return {};
    }
    return {static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(high - low), false};
}

// The pixel rule over one row. Kept means Low <= channel <= High for red, green and blue, with
// the bounds clipped to 0..255 (an empty range keeps nothing).
class RowKernel {
public:
    RowKernel(const CentralColor& cc, const Thresholds& thresholds) {
        const ChannelRange red = RangeFor(cc.Red, thresholds.Red);
        const ChannelRange green = RangeFor(cc.Green, thresholds.Green);
        const ChannelRange blue = RangeFor(cc.Blue, thresholds.Blue);
        anyKept_ = !red.Empty && !green.Empty && !blue.Empty;
        if (anyKept_) {
            // Bounds laid out as a pixel is: any alpha lies within 0..255.
            low_ = red.Low << 16 | green.Low << 8 | blue.Low;
            high_ = 0xFF000000u | (red.Low + red.Span) << 16 | (green.Low + green.Span) << 8 |
                    (blue.Low + blue.Span);
        } else {
            // An alpha range no value lies in: nothing is kept.
            low_ = 0xFF000000u;
            high_ = 0;
        }
    }

    void Run(const TColor32* in, TColor32* out, TColor32* keep, std::size_t count) const {
        std::size_t x = 0;
#if defined(__SSE2__)
        // Scalar up to a 16-byte boundary, then four pixels at a time written past the caches
        // (the results are far larger than any cache), then the rest.
        const bool aligned =
            ((reinterpret_cast<std::uintptr_t>(out) ^ reinterpret_cast<std::uintptr_t>(keep)) &
             15u) == 0;
        if (aligned) {
            while (x < count && (reinterpret_cast<std::uintptr_t>(out + x) & 15u) != 0) {
                Pixel(in[x], out[x], keep[x]);
                ++x;
            }
            x = RunVector(in, out, keep, x, count);
        }
#endif
        for (; x < count; ++x) {
            Pixel(in[x], out[x], keep[x]);
        }
    }

    void Finish() const {
#if defined(__SSE2__)
        _mm_sfence();
#endif
    }

private:
    static bool Within(std::uint32_t value, std::uint32_t low, std::uint32_t high) {
        return value >= low && value <= high;
    }

    void Pixel(TColor32 col, TColor32& out, TColor32& keep) const {
        const bool kept = anyKept_ && Within(RedOf(col), RedOf(low_), RedOf(high_)) &&
                          Within(GreenOf(col), GreenOf(low_), GreenOf(high_)) &&
                          Within(BlueOf(col), BlueOf(low_), BlueOf(high_));
        out = kept ? col : Desaturate(col);
        keep = kept ? MaskKept : MaskGreyed;
    }

#if defined(__SSE2__)
    std::size_t RunVector(const TColor32* in, TColor32* out, TColor32* keep, std::size_t x,
                          std::size_t count) const {
        const __m128i low = _mm_set1_epi32(static_cast<int>(low_));
        const __m128i high = _mm_set1_epi32(static_cast<int>(high_));
        const __m128i byteMask = _mm_set1_epi32(0xFF);
        const __m128i redBlue = _mm_set1_epi32(0x00FF00FF);
        const __m128i ones = _mm_set1_epi16(1);
        const __m128i third = _mm_set1_epi32(0xAAAB); // (sum * 0xAAAB) >> 17 == sum / 3, sum <= 765
        const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
        const __m128i repeat = _mm_set1_epi32(0x0101); // level * 0x0101 copies it to green
        const auto four = [&](std::size_t at) {
            const __m128i col = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at));
            // A byte outside its bound leaves a non-zero saturated difference.
            const __m128i outside = _mm_or_si128(_mm_subs_epu8(low, col), _mm_subs_epu8(col, high));
            const __m128i kept = _mm_cmpeq_epi32(outside, _mm_setzero_si128());
            // Red + blue from their two 16-bit halves in one multiply-add, then green.
            const __m128i sum = _mm_add_epi32(_mm_madd_epi16(_mm_and_si128(col, redBlue), ones),
                                              _mm_and_si128(_mm_srli_epi32(col, 8), byteMask));
            // The high half of every 32-bit lane of `sum` is zero, so a 16-bit multiply-high
            // gives (sum * 0xAAAB) >> 16 per pixel.
            const __m128i level = _mm_srli_epi32(_mm_mulhi_epu16(sum, third), 1);
            const __m128i grey = _mm_or_si128(_mm_or_si128(opaque, _mm_mullo_epi16(level, repeat)),
                                              _mm_slli_epi32(level, 16));
            const __m128i result =
                _mm_or_si128(_mm_and_si128(kept, col), _mm_andnot_si128(kept, grey));
            _mm_stream_si128(reinterpret_cast<__m128i*>(out + at), result);
            _mm_stream_si128(reinterpret_cast<__m128i*>(keep + at), _mm_or_si128(opaque, kept));
        };
        for (; x + 8 <= count; x += 8) {
            four(x);
            four(x + 4);
        }
        for (; x + 4 <= count; x += 4) {
            four(x);
        }
        return x;
    }
#endif

    bool anyKept_ = false;
    TColor32 low_ = 0;
    TColor32 high_ = 0;
};

} // namespace

bool IsKept(TColor32 col, const CentralColor& cc, const Thresholds& thresholds) {
    const auto within = [](std::uint32_t value, std::int32_t centre, std::int32_t threshold) {
        const std::int64_t distance = std::int64_t{value} - centre;
        return (distance < 0 ? -distance : distance) <= threshold;
    };
    return within(RedOf(col), cc.Red, thresholds.Red) &&
           within(GreenOf(col), cc.Green, thresholds.Green) &&
           within(BlueOf(col), cc.Blue, thresholds.Blue);
}

namespace {

// Below this many pixels a second thread costs more to start than it saves.
constexpr std::size_t ThreadedPixelCount = 256 * 1024;
// Rows are handed out in chunks of about this many pixels: small enough to share the picture
// evenly and move the progress often, large enough that claiming a chunk costs nothing.
constexpr std::size_t ChunkPixelCount = 64 * 1024;

unsigned WorkerCountFor(std::size_t pixels, std::int32_t chunks) {
    if (pixels < ThreadedPixelCount) {
        return 0;
    }
    const unsigned hardware = std::max(std::thread::hardware_concurrency(), 1u);
    return std::min(hardware - 1, static_cast<unsigned>(chunks - 1));
}

} // namespace

void RenderRow(const TColor32* in, const CentralColor& cc, const Thresholds& thresholds,
               TColor32* render, TColor32* mask, std::size_t count) {
    const RowKernel kernel(cc, thresholds);
    kernel.Run(in, render, mask, count);
    kernel.Finish();
}

namespace {

// One render over rows split in chunks, claimed in increasing order by the calling thread and
// the workers alike.
class ChunkedRender {
public:
    ChunkedRender(const TBitmap32& source, const RowKernel& kernel, TBitmap32& render,
                  TBitmap32& mask)
        : source_(source), kernel_(kernel), render_(render), mask_(mask), height_(source.Height()),
          rowWidth_(static_cast<std::size_t>(source.Width())),
          chunkRows_(static_cast<std::int32_t>(std::clamp<std::size_t>(
              ChunkPixelCount / rowWidth_, 1, static_cast<std::size_t>(height_)))),
          chunks_((height_ + chunkRows_ - 1) / chunkRows_) {}

    std::int32_t Chunks() const { return chunks_; }
    std::int32_t Claim() { return next_.fetch_add(1, std::memory_order_relaxed); }
    std::int32_t EndOf(std::int32_t chunk) const {
        return std::min((chunk + 1) * chunkRows_, height_);
    }
    void StopClaims() { next_.store(chunks_, std::memory_order_relaxed); }

    void Run(std::int32_t chunk) const {
        for (std::int32_t y = chunk * chunkRows_; y < EndOf(chunk); ++y) {
            kernel_.Run(source_.ScanLine(y), render_.ScanLine(y), mask_.ScanLine(y), rowWidth_);
        }
    }

    // A worker's whole share. Nothing it runs can throw: the kernel only reads and writes
    // buffers already sized.
    void Work() noexcept {
        for (std::int32_t chunk = Claim(); chunk < chunks_; chunk = Claim()) {
            Run(chunk);
        }
        kernel_.Finish();
    }

private:
    const TBitmap32& source_;
    const RowKernel& kernel_;
    TBitmap32& render_;
    TBitmap32& mask_;
    std::int32_t height_;
    std::size_t rowWidth_;
    std::int32_t chunkRows_;
    std::int32_t chunks_;
    std::atomic<std::int32_t> next_{0};
};

// Starts as many workers as there are to spare; none when no thread can be had, and the
// calling thread then does the rows alone.
void StartWorkers(std::vector<std::jthread>& workers, unsigned count, ChunkedRender& render) {
    try {
        workers.reserve(count);
        for (unsigned i = 0; i < count; ++i) {
            workers.emplace_back([&render] { render.Work(); });
        }
    } catch (const std::exception&) {
        // The threads already started and this one share the rows.
    }
}

} // namespace

void RenderPixels(const TBitmap32& source, const CentralColor& cc, const Thresholds& thresholds,
                  TBitmap32& render, TBitmap32& mask,
                  const std::function<void(std::int32_t row)>& onRow) {
    mask.Resize(source.Width(), source.Height());
    render.Resize(source.Width(), source.Height());
    if (source.IsEmpty()) {
        return;
    }
    const RowKernel kernel(cc, thresholds);
    ChunkedRender chunks(source, kernel, render, mask);
    // Declared after everything the workers use, so that leaving this function by any path
    // joins them before those go away.
    std::vector<std::jthread> workers;
    StartWorkers(workers, WorkerCountFor(source.PixelCount(), chunks.Chunks()), chunks);

    // The calling thread takes its own chunks and reports every row up to the end of the chunk
    // it has just claimed: all rows before it belong to chunks already claimed. A progress
    // callback that throws stops the workers at their next chunk.
    std::int32_t reported = 0;
    const auto reportUpTo = [&](std::int32_t end) {
        for (; onRow && reported < end; ++reported) {
            onRow(reported);
        }
    };
    try {
        for (std::int32_t chunk = chunks.Claim(); chunk < chunks.Chunks(); chunk = chunks.Claim()) {
            reportUpTo(chunks.EndOf(chunk));
            chunks.Run(chunk);
        }
        kernel.Finish();
        reportUpTo(source.Height());
    } catch (...) {
        chunks.StopClaims();
        throw;
    }
}

} // namespace tintavo
