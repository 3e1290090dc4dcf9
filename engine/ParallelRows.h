#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace tintavo {

// Shares rows 0..height-1 of a picture `width` pixels wide between the calling thread and up to
// hardware_concurrency() - 1 worker threads, in chunks of rows claimed in increasing order; a
// small picture is done on the calling thread alone. `work(first, last)` handles rows
// first..last-1 and must not throw (it runs on workers too). `onRow(y)` is called on the
// calling thread only, once per row and in row order, as the chunks are taken up. If `onRow`
// throws, the workers stop at their next chunk and are joined before the exception leaves.
void ForEachRowChunk(std::int32_t width, std::int32_t height,
                     const std::function<void(std::int32_t first, std::int32_t last)>& work,
                     const std::function<void(std::int32_t row)>& onRow = {});

} // namespace tintavo
