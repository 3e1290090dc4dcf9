#include "PngWriter.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <initializer_list>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tintavo::cli {

namespace {

// A band is deflated on its own (no dictionary carried over from the band before), which costs
// next to nothing at this size against the 32 KiB window.
constexpr std::size_t BandBytes = 1 << 20;
// Photographs: zlib's fastest level over rows less the row above ("Up") comes out about as
// small as the default level with adaptive filters, several times faster. (Paeth gains 1 to 2
// percent for a tenth more time; run-length matching alone loses half again in size.)
constexpr int DeflateLevel = 1;

constexpr std::uint8_t FilterNone = 0;
constexpr std::uint8_t FilterUp = 2;

struct Packed {
    std::vector<std::uint8_t> data;
    uLong adler = 0;
    std::size_t filteredSize = 0;
    std::vector<TColor32> pixels; // the band's, handed back for the next band to reuse
};

// Threads that run the bands' deflating, the results taken back in order through futures.
class Pool {
public:
    explicit Pool(unsigned threads) {
        for (unsigned i = 0; i < threads; ++i) {
            try {
                workers_.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                break; // fewer threads, or none: Submit then runs the task itself
            }
        }
    }
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;
    ~Pool() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_all();
        workers_.clear(); // joins
    }

    std::size_t Size() const { return workers_.size(); }

    std::future<Packed> Submit(std::function<Packed()> job) {
        std::packaged_task<Packed()> task(std::move(job));
        std::future<Packed> result = task.get_future();
        if (workers_.empty()) {
            task();
            return result;
        }
        {
            const std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        ready_.notify_one();
        return result;
    }

private:
    void Work() {
        while (true) {
            std::packaged_task<Packed()> task;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
                if (stopping_) {
                    return; // what is left is not wanted any more
                }
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::packaged_task<Packed()>> tasks_;
    bool stopping_ = false;
    std::vector<std::jthread> workers_;
};

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

// One row of pixels as the PNG stores it, before filtering.
void PackRow(const TColor32* pixels, std::int32_t width, PngLayout layout, std::uint8_t* out) {
    if (layout == PngLayout::Rgb) {
        for (std::int32_t x = 0; x < width; ++x) {
            const TColor32 col = pixels[x];
            out[3 * x] = static_cast<std::uint8_t>(RedOf(col));
            out[3 * x + 1] = static_cast<std::uint8_t>(GreenOf(col));
            out[3 * x + 2] = static_cast<std::uint8_t>(BlueOf(col));
        }
        return;
    }
    if (layout == PngLayout::Grey8) {
        for (std::int32_t x = 0; x < width; ++x) {
            out[x] = static_cast<std::uint8_t>(BlueOf(pixels[x]));
        }
        return;
    }
    const std::size_t bytes = (static_cast<std::size_t>(width) + 7) / 8;
    std::fill_n(out, bytes, 0);
    for (std::int32_t x = 0; x < width; ++x) {
        // The red channel's top bit: 1 for white, 0 for black.
        out[x / 8] |= static_cast<std::uint8_t>(((pixels[x] >> 23) & 1u) << (7 - x % 8));
    }
}

std::size_t RowBytes(PngLayout layout, std::int32_t width) {
    const auto pixels = static_cast<std::size_t>(width);
    return layout == PngLayout::Rgb     ? pixels * 3
           : layout == PngLayout::Grey8 ? pixels
                                        : (pixels + 7) / 8;
}

// Filters and deflates one band: `pixels` holds the band's rows, preceded by the row above it
// when `hasAbove`. Non-final bands end with a sync flush, so the next band's output follows
// on a byte boundary of the same stream.
// What a thread keeps from band to band: the zlib state and the buffers, so that no band pays
// for fresh memory.
struct Scratch {
    z_stream z{};
    int strategy = -1;
    std::vector<std::uint8_t> above;
    std::vector<std::uint8_t> current;
    std::vector<std::uint8_t> filtered;
    std::vector<std::uint8_t> out;

    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        if (strategy >= 0) {
            deflateEnd(&z);
        }
    }

    void Prepare(int wanted) {
        if (strategy == wanted) {
            deflateReset(&z);
            return;
        }
        if (strategy >= 0) {
            deflateEnd(&z);
            strategy = -1;
        }
        z = z_stream{};
        if (deflateInit2(&z, DeflateLevel, Z_DEFLATED, -15, 8, wanted) != Z_OK) {
            throw std::runtime_error("cannot start the PNG compression");
        }
        strategy = wanted;
    }
};

// `pixels`, and `spare` as the result's data, come back in the result, to be used again.
Packed PackBand(std::vector<TColor32> pixels, std::vector<std::uint8_t> spare, bool hasAbove,
                std::int32_t width, std::int32_t rows, PngLayout layout, bool last) {
    thread_local Scratch scratch;
    const std::size_t rowBytes = RowBytes(layout, width);
    std::vector<std::uint8_t>& above = scratch.above;
    std::vector<std::uint8_t>& current = scratch.current;
    above.assign(rowBytes, 0);
    current.resize(rowBytes);
    const TColor32* row = pixels.data();
    if (hasAbove) {
        PackRow(row, width, layout, above.data());
        row += width;
    }
    std::vector<std::uint8_t>& filtered = scratch.filtered;
    filtered.resize(static_cast<std::size_t>(rows) * (rowBytes + 1));
    for (std::int32_t y = 0; y < rows; ++y, row += width) {
        std::uint8_t* out = filtered.data() + static_cast<std::size_t>(y) * (rowBytes + 1);
        PackRow(row, width, layout, current.data());
        if (layout != PngLayout::Mask1Bit) {
            out[0] = FilterUp;
            for (std::size_t i = 0; i < rowBytes; ++i) {
                out[1 + i] = static_cast<std::uint8_t>(current[i] - above[i]);
            }
        } else {
            out[0] = FilterNone;
            std::copy(current.begin(), current.end(), out + 1);
        }
        std::swap(current, above);
    }

    Packed packed;
    packed.filteredSize = filtered.size();
    packed.adler = adler32_z(adler32_z(0, nullptr, 0), filtered.data(), filtered.size());
    scratch.Prepare(layout != PngLayout::Mask1Bit ? Z_DEFAULT_STRATEGY : Z_RLE);
    z_stream& z = scratch.z;
    scratch.out.resize(std::max<std::size_t>(
        scratch.out.size(), deflateBound(&z, static_cast<uLong>(filtered.size())) + 64));
    z.next_in = filtered.data();
    z.avail_in = static_cast<uInt>(filtered.size());
    z.next_out = scratch.out.data();
    z.avail_out = static_cast<uInt>(scratch.out.size());
    const int result = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    if ((last && result != Z_STREAM_END) || (!last && (result != Z_OK || z.avail_in != 0))) {
        throw std::runtime_error("cannot compress the PNG");
    }
    packed.data = std::move(spare);
    packed.data.assign(scratch.out.begin(),
                       scratch.out.begin() + static_cast<std::ptrdiff_t>(z.total_out));
    packed.pixels = std::move(pixels);
    return packed;
}

} // namespace

struct PngRowEncoder::State {
    std::FILE* file;
    PngLayout layout;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bandRows = 1;
    std::int32_t rowsSeen = 0;
    bool started = false;
    bool first = true;
    uLong adler = 1; // adler32 of nothing
    // The band being gathered: the row above it (when there is one), then its rows.
    std::vector<TColor32> band;
    bool bandHasAbove = false;
    std::int32_t bandCount = 0;
    std::deque<std::future<Packed>> pending;
    // Buffers of bands already written, for the next ones: fresh memory costs a page fault a
    // page, as much as the deflating of it.
    std::vector<std::vector<TColor32>> spareBands;
    std::vector<std::vector<std::uint8_t>> spareOutputs;
    Pool pool;

    State(std::FILE* out, PngLayout kind)
        : file(out), layout(kind),
          pool(std::min(std::max(std::thread::hardware_concurrency(), 1u), 8u)) {}

    void Write(const std::uint8_t* bytes, std::size_t size) {
        if (size != 0 && std::fwrite(bytes, 1, size, file) != size) {
            throw std::runtime_error("cannot write the file");
        }
    }
    void Write(const std::vector<std::uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }

    // One chunk whose data is the pieces one after the other.
    void WriteChunk(const char* type,
                    std::initializer_list<std::pair<const std::uint8_t*, std::size_t>> pieces) {
        std::size_t size = 0;
        for (const auto& piece : pieces) {
            size += piece.second;
        }
        std::vector<std::uint8_t> head;
        PutU32(head, static_cast<std::uint32_t>(size));
        head.insert(head.end(), type, type + 4);
        uLong crc = crc32_z(0, nullptr, 0);
        crc = crc32_z(crc, head.data() + 4, 4);
        Write(head);
        for (const auto& [bytes, length] : pieces) {
            if (length != 0) { // zlib takes a null block for "start again"
                crc = crc32_z(crc, bytes, length);
                Write(bytes, length);
            }
        }
        std::vector<std::uint8_t> tail;
        PutU32(tail, static_cast<std::uint32_t>(crc));
        Write(tail);
    }
    void WriteChunk(const char* type, const std::vector<std::uint8_t>& data) {
        WriteChunk(type, {{data.data(), data.size()}});
    }

    // Writes the oldest band once it is packed.
    void WriteOldest() {
        Packed packed = pending.front().get();
        pending.pop_front();
        adler = adler32_combine(adler, packed.adler, static_cast<z_off_t>(packed.filteredSize));
        // The zlib header before the first band: deflate, 32 KiB window, fastest level; the
        // check value after the last.
        static constexpr std::uint8_t header[] = {0x78, 0x01};
        std::vector<std::uint8_t> check;
        if (pending.empty() && rowsSeen == height) {
            PutU32(check, static_cast<std::uint32_t>(adler));
        }
        WriteChunk("IDAT", {{header, first ? sizeof header : 0},
                            {packed.data.data(), packed.data.size()},
                            {check.data(), check.size()}});
        first = false;
        spareBands.push_back(std::move(packed.pixels));
        spareOutputs.push_back(std::move(packed.data));
    }

    void SubmitBand() {
        std::vector<TColor32> next;
        if (!spareBands.empty()) {
            next = std::move(spareBands.back());
            spareBands.pop_back();
        } else {
            next.reserve(band.capacity());
        }
        next.assign(band.end() - width, band.end()); // the next band's row above
        std::vector<std::uint8_t> out;
        if (!spareOutputs.empty()) {
            out = std::move(spareOutputs.back());
            spareOutputs.pop_back();
        }
        std::vector<TColor32> pixels = std::exchange(band, std::move(next));
        const bool hasAbove = std::exchange(bandHasAbove, true);
        const std::int32_t rows = bandCount;
        const bool last = rowsSeen == height;
        const std::int32_t w = width;
        const PngLayout kind = layout;
        pending.push_back(pool.Submit([pixels = std::move(pixels), out = std::move(out), hasAbove,
                                       w, rows, kind, last]() mutable {
            return PackBand(std::move(pixels), std::move(out), hasAbove, w, rows, kind, last);
        }));
        bandCount = 0;
        // Enough bands in flight to keep every thread busy, and no more held in memory.
        while (pending.size() > pool.Size() + 1) {
            WriteOldest();
        }
    }
};

PngRowEncoder::PngRowEncoder(std::FILE* file, PngLayout layout)
    : state_(std::make_unique<State>(file, layout)) {}

PngRowEncoder::~PngRowEncoder() = default;

void PngRowEncoder::Start(std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) {
        throw std::runtime_error("cannot write an empty picture as PNG");
    }
    State& s = *state_;
    s.width = width;
    s.height = height;
    s.started = true;
    const std::size_t rowBytes = RowBytes(s.layout, width);
    s.bandRows = static_cast<std::int32_t>(
        std::clamp<std::size_t>(BandBytes / (rowBytes + 1), 1, static_cast<std::size_t>(height)));
    s.band.reserve(static_cast<std::size_t>(s.bandRows + 1) * width);
    s.Write({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
    std::vector<std::uint8_t> header;
    PutU32(header, static_cast<std::uint32_t>(width));
    PutU32(header, static_cast<std::uint32_t>(height));
    header.push_back(s.layout == PngLayout::Mask1Bit ? 1 : 8); // bit depth
    header.push_back(s.layout == PngLayout::Rgb ? 2 : 0);      // colour type: RGB, or grey
    header.push_back(0);                                       // deflate
    header.push_back(0);                                       // adaptive filtering
    header.push_back(0);                                       // not interlaced
    s.WriteChunk("IHDR", header);
}

void PngRowEncoder::WriteRows(const TColor32* rows, std::int32_t count) {
    State& s = *state_;
    if (!s.started || count > s.height - s.rowsSeen) {
        throw std::runtime_error("the PNG encoder cannot take these rows");
    }
    for (std::int32_t i = 0; i < count; ++i) {
        const TColor32* row = rows + static_cast<std::size_t>(i) * s.width;
        s.band.insert(s.band.end(), row, row + s.width);
        ++s.bandCount;
        ++s.rowsSeen;
        if (s.bandCount == s.bandRows || s.rowsSeen == s.height) {
            s.SubmitBand();
        }
    }
}

void PngRowEncoder::Finish() {
    State& s = *state_;
    if (!s.started || s.rowsSeen != s.height) {
        throw std::runtime_error("the PNG encoder has not had all its rows");
    }
    while (!s.pending.empty()) {
        s.WriteOldest();
    }
    s.WriteChunk("IEND", {});
}

} // namespace tintavo::cli
