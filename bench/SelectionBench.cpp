// Benchmarks of the selection options on the generated 24-megapixel photograph: the render
// with each colour model against one decode of the same photograph, and the soft edge at
// its widest against a narrow one.

#include "BenchPhotograph.h"
#include "TimesReporter.h"

#include "engine/PictureReader.h"
#include "engine/Selection.h"
#include "engine/SoftEdge.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace tintavo {
namespace {

const std::filesystem::path& PhotographFile() {
    static const std::filesystem::path path = bench::PhotographFile(TINTAVO_BENCH_DIR);
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

// The main subject's colour, picked with each model's default tolerances.
SelectionOptions Subject(ColourModel model) {
    SelectionOptions options;
    options.Model = model;
    options.Colours = {CentralColor{200, 40, 30}};
    options.Box = Thresholds{40, 40, 40};
    return options;
}

void BM_Decode(benchmark::State& state) {
    Photograph(); // the photograph is made before the timing starts
    TBitmap32 picture;
    for (auto _ : state) {
        ReadPictureFile(picture, PhotographFile());
        benchmark::DoNotOptimize(picture.Bits());
    }
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Select(benchmark::State& state, const SelectionOptions& options) {
    const TBitmap32& photo = Photograph();
    TBitmap32 render;
    TBitmap32 mask;
    RenderSelection(photo, options, render, mask); // lookup tables made once, outside the timing
    for (auto _ : state) {
        RenderSelection(photo, options, render, mask);
        benchmark::DoNotOptimize(render.Bits());
        benchmark::DoNotOptimize(mask.Bits());
    }
}

SelectionOptions With(SelectionOptions options, const std::function<void(SelectionOptions&)>& f) {
    f(options);
    return options;
}

// Rows are shared among threads: elapsed times are compared.
#define SELECTION_BENCH(name, options)                                                             \
    BENCHMARK_CAPTURE(BM_Select, name, options)                                                    \
        ->Unit(benchmark::kMillisecond)                                                            \
        ->MinTime(2.0)                                                                             \
        ->MeasureProcessCPUTime()                                                                  \
        ->UseRealTime()

// With the rule kept from one render to the next (unchanged options).
void BM_SelectKept(benchmark::State& state, const SelectionOptions& options) {
    const TBitmap32& photo = Photograph();
    const SelectionRule rule(options);
    TBitmap32 render;
    TBitmap32 mask;
    RenderSelection(photo, rule, render, mask);
    for (auto _ : state) {
        RenderSelection(photo, rule, render, mask);
        benchmark::DoNotOptimize(render.Bits());
        benchmark::DoNotOptimize(mask.Bits());
    }
}
BENCHMARK_CAPTURE(BM_SelectKept, hue, Subject(ColourModel::Hue))
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_SelectKept, perceptual, Subject(ColourModel::Perceptual))
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

SELECTION_BENCH(rgb_written, Subject(ColourModel::RgbBox));
SELECTION_BENCH(rgb_luminance_half, With(Subject(ColourModel::RgbBox), [](SelectionOptions& o) {
                    o.Grey = GreyModel::Luminance;
                    o.Strength = 50;
                }));
SELECTION_BENCH(hue, Subject(ColourModel::Hue));
SELECTION_BENCH(perceptual, Subject(ColourModel::Perceptual));
SELECTION_BENCH(hue_three_colours, With(Subject(ColourModel::Hue), [](SelectionOptions& o) {
                    o.Colours.push_back({230, 200, 40});
                    o.Colours.push_back({60, 80, 200});
                }));
SELECTION_BENCH(perceptual_three_colours,
                With(Subject(ColourModel::Perceptual), [](SelectionOptions& o) {
                    o.Colours.push_back({230, 200, 40});
                    o.Colours.push_back({60, 80, 200});
                }));
SELECTION_BENCH(hue_feather_2,
                With(Subject(ColourModel::Hue), [](SelectionOptions& o) { o.Feather = 2; }));
SELECTION_BENCH(hue_feather_50,
                With(Subject(ColourModel::Hue), [](SelectionOptions& o) { o.Feather = 50; }));

// Making the rule for a changed tolerance (part of every render above).
void BM_Rule(benchmark::State& state, const SelectionOptions& options) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(SelectionRule(options));
    }
}
BENCHMARK_CAPTURE(BM_Rule, hue, Subject(ColourModel::Hue))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Rule, perceptual, Subject(ColourModel::Perceptual))
    ->Unit(benchmark::kMillisecond);

// The soft edge alone, on the photograph's hard mask.
void BM_SoftEdge(benchmark::State& state) {
    TBitmap32 hard;
    BuildHardMask(Photograph(), SelectionRule(Subject(ColourModel::Hue)), hard);
    TBitmap32 mask;
    const auto width = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        mask.CopyFrom(&hard);
        state.ResumeTiming();
        SoftenMask(mask, width);
        benchmark::DoNotOptimize(mask.Bits());
    }
}
BENCHMARK(BM_SoftEdge)
    ->Arg(2)
    ->Arg(50)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

class RatioReporter : public bench::TimesReporter {
public:
    void PrintRatios() const {
        const auto time = [this](const std::string& name) { return Elapsed(name); };
        const double decode = time("BM_Decode");
        if (decode <= 0) {
            return;
        }
        // On a machine shared with other work the elapsed times of threaded runs swing; the
        // processor time of all threads over the decode's (one thread) is shown beside them.
        const auto cpu = [this](const std::string& name) { return Cpu(name); };
        const double decodeCpu = cpu("BM_Decode");
        std::printf("\nTargets (elapsed time ratios; all threads' processor time / decode's):\n");
        for (const auto& [name, elapsed] : ElapsedTimes()) {
            if (name.rfind("BM_Select", 0) == 0 && name.find("feather") == std::string::npos) {
                std::printf("  %-36s / decode %.3f  (at most 0.30)  cpu %.3f\n", name.c_str(),
                            elapsed / decode, cpu(name) / decodeCpu);
            }
        }
        if (time("BM_Select/hue_feather_2") > 0 && cpu("BM_Select/hue_feather_2") > 0) {
            std::printf(
                "  render, soft edge 50 / soft edge 2          %.3f  (at most 1.5)  cpu %.3f\n",
                time("BM_Select/hue_feather_50") / time("BM_Select/hue_feather_2"),
                cpu("BM_Select/hue_feather_50") / cpu("BM_Select/hue_feather_2"));
        }
        if (time("BM_SoftEdge/2") > 0 && cpu("BM_SoftEdge/2") > 0) {
            std::printf(
                "  soft edge alone, 50 / 2                     %.3f  (at most 1.5)  cpu %.3f\n",
                time("BM_SoftEdge/50") / time("BM_SoftEdge/2"),
                cpu("BM_SoftEdge/50") / cpu("BM_SoftEdge/2"));
        }
    }
};

} // namespace
} // namespace tintavo

int main(int argc, char** argv) {
    if (!tintavo::bench::StartBenchmarks(&argc, argv)) {
        return 1;
    }
    {
        // The perceptual model's table of the colour cube is made once per process.
        const auto start = std::chrono::steady_clock::now();
        const tintavo::SelectionRule rule(tintavo::Subject(tintavo::ColourModel::Perceptual));
        const std::chrono::duration<double, std::milli> spent =
            std::chrono::steady_clock::now() - start;
        std::printf("Perceptual colour-cube table, made once: %.1f ms\n", spent.count());
    }
    return tintavo::bench::RunAndPrintRatios<tintavo::RatioReporter>();
}
