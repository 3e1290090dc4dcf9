#include "engine/ParallelRows.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

namespace tintavo {

namespace {

// Below this many pixels a second thread costs more to start than it saves.
constexpr std::size_t ThreadedPixelCount = 256 * 1024;
// Chunks of about this many pixels: small enough to share the picture evenly and move the
// progress often, large enough that claiming one costs nothing.
constexpr std::size_t ChunkPixelCount = 64 * 1024;

} // namespace

void ForEachRowChunk(std::int32_t width, std::int32_t height,
                     const std::function<void(std::int32_t first, std::int32_t last)>& work,
                     const std::function<void(std::int32_t row)>& onRow) {
    if (width <= 0 || height <= 0) {
        return;
    }
    const auto rowWidth = static_cast<std::size_t>(width);
    const auto chunkRows = static_cast<std::int32_t>(
        std::clamp<std::size_t>(ChunkPixelCount / rowWidth, 1, static_cast<std::size_t>(height)));
    const std::int32_t chunks = (height + chunkRows - 1) / chunkRows;
    std::atomic<std::int32_t> nextChunk{0};
    const auto runChunk = [&](std::int32_t chunk) {
        const std::int32_t first = chunk * chunkRows;
        work(first, std::min(first + chunkRows, height));
    };
    const auto worker = [&]() noexcept {
        for (std::int32_t chunk = nextChunk.fetch_add(1, std::memory_order_relaxed); chunk < chunks;
             chunk = nextChunk.fetch_add(1, std::memory_order_relaxed)) {
            runChunk(chunk);
        }
    };

    // Declared after everything the workers use, so that leaving by any path joins them first.
    std::vector<std::jthread> workers;
    const std::size_t pixels = rowWidth * static_cast<std::size_t>(height);
    const unsigned hardware = std::max(std::thread::hardware_concurrency(), 1u);
    const unsigned workerCount = pixels < ThreadedPixelCount
                                     ? 0u
                                     : std::min(hardware - 1, static_cast<unsigned>(chunks - 1));
    try {
        workers.reserve(workerCount);
        for (unsigned i = 0; i < workerCount; ++i) {
            workers.emplace_back(worker);
        }
    } catch (const std::exception&) {
        // No thread to spare: the threads already started and this one share the rows.
    }

    std::int32_t reported = 0;
    const auto reportUpTo = [&](std::int32_t end) {
        for (; reported < end; ++reported) {
            onRow(reported);
        }
    };
    try {
        for (std::int32_t chunk = nextChunk.fetch_add(1, std::memory_order_relaxed); chunk < chunks;
             chunk = nextChunk.fetch_add(1, std::memory_order_relaxed)) {
            if (onRow) {
                reportUpTo(std::min((chunk + 1) * chunkRows, height));
            }
            runChunk(chunk);
        }
        if (onRow) {
            reportUpTo(height);
        }
    } catch (...) {
        nextChunk.store(chunks, std::memory_order_relaxed);
        throw;
    }
}

} // namespace tintavo
