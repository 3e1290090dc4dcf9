#include "BenchPhotograph.h"

#include "engine/JpegWriter.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <vector>

namespace tintavo::bench {

namespace {

class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<std::uint32_t>(state_ >> 16);
    }

private:
    std::uint64_t state_;
};

// Smooth random relief: hashed lattice values blended between grid points.
double Lattice(std::int32_t x, std::int32_t y) {
    std::uint32_t h =
        static_cast<std::uint32_t>(x) * 0x8DA6B343u ^ static_cast<std::uint32_t>(y) * 0xD8163841u;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return static_cast<double>(h & 0xFFFF) / 65535.0;
}

double ValueNoise(double x, double y) {
    const auto x0 = static_cast<std::int32_t>(std::floor(x));
    const auto y0 = static_cast<std::int32_t>(std::floor(y));
    const double fx = x - x0;
    const double fy = y - y0;
    const double sx = fx * fx * (3 - 2 * fx);
    const double sy = fy * fy * (3 - 2 * fy);
    const double top = Lattice(x0, y0) * (1 - sx) + Lattice(x0 + 1, y0) * sx;
    const double bottom = Lattice(x0, y0 + 1) * (1 - sx) + Lattice(x0 + 1, y0 + 1) * sx;
    return top * (1 - sy) + bottom * sy;
}

// Foliage-like detail at several scales, centred on 0.
double Detail(std::int32_t x, std::int32_t y) {
    double sum = 0;
    double amplitude = 1;
    double scale = 1.0 / 64;
    for (int octave = 0; octave < 6; ++octave) {
        sum += amplitude * (ValueNoise(x * scale, y * scale) - 0.5);
        amplitude *= 0.75;
        scale *= 2.0;
    }
    return sum;
}

} // namespace

// Sky and ground gradients, detail at many scales, soft-edged subjects of saturated colour
// and sensor noise: the JPEG comes out at about the size (bits per pixel) of a camera's
// photograph at this quality, so it costs what one costs to decode.
TBitmap32 MakePhotograph() {
    TBitmap32 photo;
    photo.Resize(PhotoWidth, PhotoHeight);
    Random random(42);
    struct Subject {
        double cx, cy, rx, ry;
        double r, g, b;
    };
    const Subject subjects[] = {
        {3000, 2200, 900, 600, 200, 40, 30}, {1200, 1000, 500, 700, 230, 200, 40},
        {4800, 900, 400, 300, 60, 80, 200},  {700, 3300, 600, 400, 200, 40, 30},
        {5200, 3100, 700, 500, 40, 160, 60},
    };
    for (std::int32_t y = 0; y < PhotoHeight; ++y) {
        TColor32* row = photo.ScanLine(y);
        const double fy = static_cast<double>(y) / PhotoHeight;
        for (std::int32_t x = 0; x < PhotoWidth; ++x) {
            const double fx = static_cast<double>(x) / PhotoWidth;
            const double texture =
                10 * std::sin(x * 0.05 + std::sin(y * 0.021) * 3) * std::sin(y * 0.037 + fx * 9) +
                90 * Detail(x, y);
            const double tint = 40 * Detail(x + 7919, y + 104729);
            double r = 110 + 70 * fy + texture + tint;
            double g = 150 + 40 * fx - 50 * fy + texture;
            double b = 210 - 140 * fy + texture * 0.5 - tint;
            for (const Subject& s : subjects) {
                const double dx = (x - s.cx) / s.rx;
                const double dy = (y - s.cy) / s.ry;
                const double d = dx * dx + dy * dy;
                if (d < 1.0) {
                    const double w = std::min(1.0, (1.0 - d) * 6.0);
                    const double shade = 0.85 + 0.15 * std::sin(x * 0.013 + y * 0.008);
                    r = r * (1 - w) + s.r * shade * w;
                    g = g * (1 - w) + s.g * shade * w;
                    b = b * (1 - w) + s.b * shade * w;
                }
            }
            const auto channel = [&random](double v) {
                const int noise = static_cast<int>(random.Next() % 13) - 6;
                return static_cast<std::uint32_t>(std::clamp(static_cast<int>(v) + noise, 0, 255));
            };
            row[x] = 0xFF000000u | channel(r) << 16 | channel(g) << 8 | channel(b);
        }
    }
    return photo;
}

std::filesystem::path PhotographFile(const std::filesystem::path& folder) {
    const std::filesystem::path file = folder / "photo-24mp.jpg";
    if (!std::filesystem::exists(file)) {
        const std::vector<std::uint8_t> stream = EncodeJpeg(MakePhotograph());
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(stream.data()),
                   static_cast<std::streamsize>(stream.size()));
    }
    return file;
}

} // namespace tintavo::bench
