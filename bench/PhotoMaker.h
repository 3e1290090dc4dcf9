#pragma once

// The photograph-like picture the benchmarks work on, generated so that no sample file is needed.

#include "engine/TBitmap32.h"

#include <cstdint>

namespace tintavo::bench {

// A small, fast, seeded random generator (xorshift).
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

// Sky and ground gradients, detail at many scales, soft-edged subjects of saturated colour
// and sensor noise, the same for the same size.
TBitmap32 MakePhotograph(std::int32_t width, std::int32_t height);

} // namespace tintavo::bench
