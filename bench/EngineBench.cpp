// Benchmarks of the engine's hot paths on a generated 24-megapixel photograph-like picture:
// decoding, the render pass, the mask filter on a photograph's mask and on hostile patterns,
// encoding, and the whole pipeline against decoding and encoding alone.

#include "engine/JpegWriter.h"
#include "engine/MaskFilter.h"
#include "engine/PictureReader.h"
#include "engine/RenderPass.h"

#include "PhotoMaker.h"
#include "TimesReporter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace tintavo {
using bench::MakePhotograph;
using bench::Random;

namespace {

constexpr std::int32_t PhotoWidth = 6000;
constexpr std::int32_t PhotoHeight = 4000;

// The Central Color the photograph's mask is made with: the colour of its main subject.
constexpr CentralColor SubjectColour{200, 40, 30};
constexpr Thresholds SubjectThresholds{40, 40, 40};

// The JPEG file every benchmark reads, made once per build folder.
const std::filesystem::path& PhotographFile() {
    static const std::filesystem::path path = [] {
        const std::filesystem::path file =
            std::filesystem::path(TINTAVO_BENCH_DIR) / "photo-24mp.jpg";
        if (!std::filesystem::exists(file)) {
            const std::vector<std::uint8_t> stream =
                EncodeJpeg(MakePhotograph(PhotoWidth, PhotoHeight));
            std::ofstream(file, std::ios::binary)
                .write(reinterpret_cast<const char*>(stream.data()),
                       static_cast<std::streamsize>(stream.size()));
        }
        return file;
    }();
    return path;
}

const TBitmap32& Photograph() {
    static const TBitmap32 photo = [] {
        TBitmap32 picture;
        ReadPictureFile(picture, PhotographFile());
        return picture;
    }();
    return photo;
}

void BM_Decode(benchmark::State& state) {
    const auto& path = PhotographFile();
    TBitmap32 picture;
    for (auto _ : state) {
        ReadPictureFile(picture, path);
        benchmark::DoNotOptimize(picture.Bits());
    }
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Render(benchmark::State& state) {
    const TBitmap32& photo = Photograph();
    TBitmap32 render;
    TBitmap32 mask;
    std::int32_t rows = 0;
    for (auto _ : state) {
        RenderPixels(photo, SubjectColour, SubjectThresholds, render, mask,
                     [&rows](std::int32_t) { ++rows; });
        benchmark::DoNotOptimize(render.Bits());
        benchmark::DoNotOptimize(mask.Bits());
    }
}
// The render shares the rows among threads: its CPU column counts every thread, and the
// ratios below compare elapsed times.
BENCHMARK(BM_Render)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void BM_Encode(benchmark::State& state) {
    const TBitmap32& photo = Photograph();
    for (auto _ : state) {
        benchmark::DoNotOptimize(EncodeJpeg(photo));
    }
}
BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_DecodeEncode(benchmark::State& state) {
    const auto& path = PhotographFile();
    TBitmap32 picture;
    for (auto _ : state) {
        ReadPictureFile(picture, path);
        benchmark::DoNotOptimize(EncodeJpeg(picture));
    }
}
BENCHMARK(BM_DecodeEncode)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_DecodeRenderEncode(benchmark::State& state) {
    const auto& path = PhotographFile();
    TBitmap32 picture;
    TBitmap32 render;
    TBitmap32 mask;
    for (auto _ : state) {
        ReadPictureFile(picture, path);
        RenderPixels(picture, SubjectColour, SubjectThresholds, render, mask);
        benchmark::DoNotOptimize(EncodeJpeg(render));
    }
}
BENCHMARK(BM_DecodeRenderEncode)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// ---- Mask filter -----------------------------------------------------------------------

using MaskRule = std::function<bool(std::int32_t x, std::int32_t y)>;

TBitmap32 MaskOf(const MaskRule& white) {
    TBitmap32 mask;
    mask.Resize(PhotoWidth, PhotoHeight);
    for (std::int32_t y = 0; y < PhotoHeight; ++y) {
        TColor32* row = mask.ScanLine(y);
        for (std::int32_t x = 0; x < PhotoWidth; ++x) {
            row[x] = white(x, y) ? MaskKept : MaskGreyed;
        }
    }
    return mask;
}

TBitmap32 PhotographMask() {
    TBitmap32 render;
    TBitmap32 mask;
    RenderPixels(Photograph(), SubjectColour, SubjectThresholds, render, mask);
    return mask;
}

TBitmap32 NoiseMask(std::uint32_t percentWhite) {
    Random random(percentWhite);
    return MaskOf([&random, percentWhite](std::int32_t, std::int32_t) {
        return random.Next() % 100 < percentWhite;
    });
}

// Diagonal two-pixel bands that the erosion unravels one pixel at a time from their lower
// end, against the scan direction: the worst case for sweeps repeated until stable.
bool RisingBands(std::int32_t x, std::int32_t y) {
    const std::int32_t d = (x + y) % 16;
    return d == 0 || d == 1 || ((x + y) % 16 == 2 && x % 2 == 0);
}

// A spiral corridor of black one pixel wide in white: the fill closes it from its open end.
bool Spiral(std::int32_t x, std::int32_t y) {
    const std::int32_t ring = std::min({x, y, PhotoWidth - 1 - x, PhotoHeight - 1 - y});
    return ring % 4 != 2 || (x == ring && y % 2 == 0);
}

void BM_Filter(benchmark::State& state, const std::function<TBitmap32()>& make) {
    const TBitmap32 pattern = make();
    TBitmap32 mask;
    for (auto _ : state) {
        state.PauseTiming();
        mask.CopyFrom(&pattern);
        state.ResumeTiming();
        FilterMask(mask);
        benchmark::DoNotOptimize(mask.Bits());
    }
}

BENCHMARK_CAPTURE(BM_Filter, photograph, PhotographMask)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Filter, noise_50, [] { return NoiseMask(50); })->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Filter, noise_70, [] { return NoiseMask(70); })->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Filter, all_white, [] {
    return MaskOf([](auto, auto) { return true; });
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Filter, all_black, [] {
    return MaskOf([](auto, auto) { return false; });
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Filter, checkerboard, [] {
    return MaskOf([](std::int32_t x, std::int32_t y) { return (x + y) % 2 == 0; });
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Filter, vertical_lines, [] {
    return MaskOf([](std::int32_t x, std::int32_t) { return x % 2 == 0; });
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Filter, rising_bands, [] {
    return MaskOf(RisingBands);
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Filter, spiral, [] { return MaskOf(Spiral); })->Unit(benchmark::kMillisecond);

// Prints the benchmark table as usual, then the targets as ratios of CPU time.
class RatioReporter : public bench::TimesReporter {
public:
    void PrintRatios() const {
        const auto time = [this](const std::string& name) { return Elapsed(name); };
        const double decode = time("BM_Decode");
        if (decode <= 0) {
            return;
        }
        std::printf("\nTargets (elapsed time ratios):\n");
        std::printf("  render / decode                          %.3f  (at most 0.15)\n",
                    time("BM_Render") / decode);
        const double photoFilter = time("BM_Filter/photograph");
        std::printf("  filter on the photograph's mask / decode %.3f  (at most 0.50)\n",
                    photoFilter / decode);
        double worst = 0;
        std::string worstName;
        for (const auto& [name, elapsed] : ElapsedTimes()) {
            if (name.rfind("BM_Filter/", 0) == 0 && elapsed > worst) {
                worst = elapsed;
                worstName = name;
            }
        }
        if (photoFilter > 0) {
            std::printf("  worst mask pattern (%s) / photograph's mask %.2f  (at most 10)\n",
                        worstName.c_str(), worst / photoFilter);
        }
        if (time("BM_DecodeEncode") > 0) {
            std::printf("  decode+render+encode / decode+encode     %.3f  (at most 1.15)\n",
                        time("BM_DecodeRenderEncode") / time("BM_DecodeEncode"));
        }
    }
};

} // namespace
} // namespace tintavo

int main(int argc, char** argv) {
    if (!tintavo::bench::StartBenchmarks(&argc, argv)) {
        return 1;
    }
    return tintavo::bench::RunAndPrintRatios<tintavo::RatioReporter>();
}
