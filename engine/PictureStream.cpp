#include "engine/PictureStream.h"

#include "engine/EngineError.h"
#include "engine/JpegDecoding.h"
#include "engine/MaskFilter.h"
#include "engine/MemoryBudget.h"

#include <sys/mman.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

namespace tintavo {

namespace {

// Rows go through the pipeline in bands of this many; a few bands are in flight at once.
constexpr std::int32_t BandRows = 16;
constexpr std::size_t BandCount = 4;

// ---- The whole picture, read first ------------------------------------------------------

class WholeRowSource final : public RowSource {
public:
    WholeRowSource(std::span<const std::uint8_t> bytes, const PictureReadOptions& options) {
        PictureReadOptions mine = options;
        mine.Metadata = &metadata_;
        ReadPictureBytes(picture_, bytes, mine);
        if (options.Metadata != nullptr) {
            *options.Metadata = metadata_;
        }
        width_ = picture_.Width();
        height_ = picture_.Height();
    }

    void ReadRows(TColor32* rows, std::int32_t count) override {
        std::copy_n(picture_.ScanLine(next_), static_cast<std::size_t>(count) * width_, rows);
        next_ += count;
    }

private:
    TBitmap32 picture_;
    std::int32_t next_ = 0;
};

// ---- A JPEG decoded row by row ----------------------------------------------------------

// The reader's decoder, with where the stream stands in the picture.
struct StreamDecoder {
    std::unique_ptr<detail::JpegDecoder> jpeg;
    JSAMPARRAY scratch = nullptr;
    bool started = false;
    bool more = false;
};

// Calls into libjpeg; see JpegTrap.h for why it looks like this. Decodes `count` rows; `*done`
// counts the rows delivered, so that the caller knows which ones the data never reached (a
// file that ends early gives them as white).
bool JpegDecodeRows(StreamDecoder* decoder, TColor32* rows, JDIMENSION count, JDIMENSION* done) {
    if (setjmp(decoder->jpeg->trap.jump) != 0) {
        return false;
    }
    jpeg_decompress_struct& info = decoder->jpeg->info;
    if (!decoder->started) {
        decoder->scratch = detail::JpegStart(*decoder->jpeg);
        decoder->started = true;
        decoder->more = true;
    }
    const JDIMENSION width = info.output_width;
    for (JDIMENSION i = 0; i < count && decoder->more; ++i) {
        TColor32* row = rows + static_cast<std::size_t>(i) * width;
        if (!detail::JpegReadRow(*decoder->jpeg, decoder->scratch, row)) {
            decoder->more = false;
            break;
        }
        *done = i + 1;
    }
    if (decoder->more && info.output_scanline == info.output_height) {
        jpeg_finish_decompress(&info);
        decoder->more = false;
    }
    return true;
}

class JpegRowSource final : public RowSource {
public:
    // Takes the decoder with its header read and checked.
    JpegRowSource(std::vector<std::uint8_t> bytes, std::unique_ptr<detail::JpegDecoder> decoder,
                  JpegMetadata metadata)
        : bytes_(std::move(bytes)) {
        decoder_.jpeg = std::move(decoder);
        metadata_ = std::move(metadata);
        width_ = static_cast<std::int32_t>(decoder_.jpeg->info.output_width);
        height_ = static_cast<std::int32_t>(decoder_.jpeg->info.output_height);
    }
    ~JpegRowSource() override { jpeg_destroy_decompress(&decoder_.jpeg->info); }

    void ReadRows(TColor32* rows, std::int32_t count) override {
        JDIMENSION done = 0;
        if (decoder_.more || !decoder_.started) {
            if (!JpegDecodeRows(&decoder_, rows, static_cast<JDIMENSION>(count), &done)) {
                throw EngineError(decoder_.jpeg->trap.message);
            }
        }
        // Rows the decoder never delivered stay as the blank picture they were drawn over.
        std::fill(rows + static_cast<std::size_t>(done) * width_,
                  rows + static_cast<std::size_t>(count) * width_, MaskKept);
    }

private:
    std::vector<std::uint8_t> bytes_; // the source libjpeg reads from
    StreamDecoder decoder_;
};

std::unique_ptr<RowSource> OpenJpegRows(std::vector<std::uint8_t>& bytes,
                                        const PictureReadOptions& options) {
    std::unique_ptr<detail::JpegDecoder> decoder = detail::MakeJpegDecoder();
    detail::JpegDecoderGuard guard{decoder.get()};
    JpegMetadata metadata = detail::OpenJpeg(*decoder, bytes, options);
    if (options.AutoOrient && metadata.Orientation != 1) {
        // Turned by a quarter, rows cannot be streamed: the reader turns the whole picture.
        return nullptr;
    }
    jpeg_decompress_struct& info = decoder->info;
    const std::uint64_t pixels = detail::CheckJpegClaims(info, bytes.size(), options);
    const std::uint64_t bands = static_cast<std::uint64_t>(info.output_width) * BandRows *
                                (BandCount + 1) * 2 * sizeof(TColor32);
    RequireMemory(detail::SaturatingTimes(pixels, options.HeldBytesPerPixel) +
                  detail::JpegDecoderBytes(info) + bands);
    if (options.Metadata != nullptr) {
        *options.Metadata = metadata;
    }
    guard.decoder = nullptr;
    return std::make_unique<JpegRowSource>(std::move(bytes), std::move(decoder),
                                           std::move(metadata));
}

} // namespace

std::unique_ptr<RowSource> OpenPictureRows(std::vector<std::uint8_t> bytes,
                                           const PictureReadOptions& options) {
    if (bytes.size() >= detail::PictureHeaderSize && !(bytes[0] == 'B' && bytes[1] == 'M')) {
        if (auto rows = OpenJpegRows(bytes, options)) {
            return rows;
        }
    }
    // The reader gives the error for anything too short, and reads bitmaps and turned JPEGs.
    return std::make_unique<WholeRowSource>(bytes, options);
}

std::unique_ptr<RowSource> OpenPictureRows(const std::filesystem::path& path,
                                           const PictureReadOptions& options) {
    return OpenPictureRows(detail::ReadWholeFile(path), options);
}

// ---- The pipeline -----------------------------------------------------------------------

namespace {

struct Band {
    std::vector<TColor32> render;
    std::vector<TColor32> mask;
    std::int32_t rows = 0;
    // `render` holds the rows as read: the pixel rule is still to be applied. Decoding costs
    // more than encoding, so the rule runs on the encoding side.
    bool asRead = false;
    // The rows as read, for a selection rule, whose outputs may not be its input.
    std::vector<TColor32> input;
};

// Where the decoding side gets empty bands and hands full ones.
class BandPort {
public:
    virtual ~BandPort() = default;
    // nullptr once the writing side has given up.
    virtual Band* TakeFree() = 0;
    virtual void Push(Band* band) = 0;
};

void WriteBand(Band& band, const KeepSettings& settings, RowSink& render, RowSink* mask) {
    if (band.asRead) {
        const std::size_t count = band.render.size() / BandRows * band.rows;
        if (settings.Rule != nullptr) {
            band.input.resize(band.render.size());
            std::copy_n(band.render.data(), count, band.input.data());
            settings.Rule->RenderRow(band.input.data(), band.render.data(),
                                     mask != nullptr ? band.mask.data() : nullptr, count);
        } else {
            RenderRow(band.render.data(), settings.Cc, settings.Limits, band.render.data(),
                      band.mask.data(), count);
        }
    }
    render.WriteRows(band.render.data(), band.rows);
    if (mask != nullptr) {
        mask->WriteRows(band.mask.data(), band.rows);
    }
}

// Without a second thread: each band is written as soon as it is full.
class DirectPort final : public BandPort {
public:
    DirectPort(std::size_t pixelsPerBand, const KeepSettings& settings, RowSink& render,
               RowSink* mask)
        : settings_(settings), render_(render), mask_(mask) {
        band_.render.resize(pixelsPerBand);
        band_.mask.resize(pixelsPerBand);
    }
    Band* TakeFree() override { return &band_; }
    void Push(Band* band) override { WriteBand(*band, settings_, render_, mask_); }

private:
    Band band_;
    const KeepSettings& settings_;
    RowSink& render_;
    RowSink* mask_;
};

// Bands handed from the decoding thread to the encoding one, and back when written.
class BandQueue final : public BandPort {
public:
    explicit BandQueue(std::size_t pixelsPerBand) : bands_(BandCount) {
        for (Band& band : bands_) {
            band.render.resize(pixelsPerBand);
            band.mask.resize(pixelsPerBand);
            free_.push_back(&band);
        }
    }

    Band* TakeFree() override {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return stopped_ || !free_.empty(); });
        if (stopped_) {
            return nullptr;
        }
        Band* band = free_.front();
        free_.pop_front();
        return band;
    }
    void Push(Band* band) override {
        const std::lock_guard lock(mutex_);
        full_.push_back(band);
        changed_.notify_all();
    }
    void Close(std::exception_ptr error) {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        error_ = std::move(error);
        changed_.notify_all();
    }

    // The encoding side. nullptr when no band will come any more.
    Band* TakeFull() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return closed_ || !full_.empty(); });
        if (full_.empty()) {
            return nullptr;
        }
        Band* band = full_.front();
        full_.pop_front();
        return band;
    }
    void GiveBack(Band* band) {
        const std::lock_guard lock(mutex_);
        free_.push_back(band);
        changed_.notify_all();
    }
    void Stop() {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }
    std::exception_ptr Error() {
        const std::lock_guard lock(mutex_);
        return error_;
    }

private:
    std::vector<Band> bands_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Band*> free_;
    std::deque<Band*> full_;
    bool closed_ = false;
    bool stopped_ = false;
    std::exception_ptr error_;
};

// Memory for the whole picture, refused as a bitmap's would be. Mapped in large pages where the
// system has them: a picture's worth of small pages costs more in faults than the filter's work.
template <typename T> class LargeBlock {
public:
    explicit LargeBlock(std::size_t count) {
        constexpr std::size_t LargePage = 2 << 20;
        size_ = (count * sizeof(T) + 2 * LargePage - 1) / LargePage * LargePage;
        mapping_ = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping_ == MAP_FAILED) {
            throw EngineError("Can't allocate the DIB handle");
        }
        const auto start =
            (reinterpret_cast<std::uintptr_t>(mapping_) + LargePage - 1) / LargePage * LargePage;
        data_ = reinterpret_cast<T*>(start);
        madvise(data_, size_ - LargePage, MADV_HUGEPAGE);
    }
    LargeBlock(const LargeBlock&) = delete;
    LargeBlock& operator=(const LargeBlock&) = delete;
    ~LargeBlock() { munmap(mapping_, size_); }

    T* get() const { return data_; }
    T& operator[](std::size_t i) const { return data_[i]; }

    // Takes the pages now, without writing to them: a second thread can get them ready while
    // the first fills them. Where the system cannot, they are taken as they are first written.
    void Populate() const {
#if defined(MADV_POPULATE_WRITE)
        madvise(data_, size_ - (2 << 20), MADV_POPULATE_WRITE);
#endif
    }

private:
    void* mapping_ = nullptr;
    std::size_t size_ = 0;
    T* data_ = nullptr;
};

void ProduceStreaming(RowSource& source, BandPort& queue) {
    const std::int32_t height = source.Height();
    for (std::int32_t y = 0; y < height; y += BandRows) {
        const std::int32_t count = std::min(BandRows, height - y);
        Band* band = queue.TakeFree();
        if (band == nullptr) {
            return;
        }
        source.ReadRows(band->render.data(), count);
        band->rows = count;
        band->asRead = true;
        queue.Push(band);
    }
}

// Reads the whole picture into `picture` on a thread of its own while the caller runs
// `whileDecoding()`, then takes the rows as they come: `onRows(first, count)` for each band, in
// order.
template <typename WhileDecoding, typename OnRows>
void ReadWhole(RowSource& source, TColor32* picture, const WhileDecoding& whileDecoding,
               const OnRows& onRows) {
    const std::int32_t width = source.Width();
    const std::int32_t height = source.Height();
    std::mutex mutex;
    std::condition_variable changed;
    std::int32_t decoded = 0;
    bool failed = false;
    bool stop = false;
    std::exception_ptr error;
    const auto decode = [&]() noexcept {
        try {
            for (std::int32_t y = 0; y < height; y += BandRows) {
                const std::int32_t count = std::min(BandRows, height - y);
                source.ReadRows(picture + static_cast<std::size_t>(y) * width, count);
                const std::lock_guard lock(mutex);
                decoded = y + count;
                changed.notify_all();
                if (stop) {
                    return;
                }
            }
        } catch (...) {
            const std::lock_guard lock(mutex);
            error = std::current_exception();
            failed = true;
            changed.notify_all();
        }
    };
    std::jthread decoder;
    try {
        decoder = std::jthread(decode);
    } catch (const std::system_error&) {
        decode(); // no thread to spare: decode first, then take the rows
    }
    struct StopDecoder {
        std::mutex& mutex;
        bool& stop;
        ~StopDecoder() {
            const std::lock_guard lock(mutex);
            stop = true;
        }
    } stopOnExit{mutex, stop}; // declared after the thread: set before it is joined
    if (decoder.joinable()) {
        whileDecoding();
    }
    for (std::int32_t y = 0; y < height; y += BandRows) {
        const std::int32_t count = std::min(BandRows, height - y);
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return failed || decoded >= y + count; });
            if (decoded < y + count) {
                std::rethrow_exception(error);
            }
        }
        onRows(y, count);
    }
}

// With the filter: the whole picture and a byte of mask a pixel, the mask cleaned, then the
// picture rebuilt from them band by band.
void ProduceFiltered(RowSource& source, const KeepSettings& settings, bool wantMask,
                     BandPort& queue) {
    const std::int32_t width = source.Width();
    const std::int32_t height = source.Height();
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    const LargeBlock<TColor32> picture(pixels);
    const LargeBlock<std::uint8_t> keep(pixels);
    const std::size_t bandPixels = static_cast<std::size_t>(width) * BandRows;
    std::vector<TColor32> render(bandPixels);
    std::vector<TColor32> mask(bandPixels);
    // Clearing the memory a system gives costs about what decoding does: done beside it.
    const auto populate = [&] {
        picture.Populate();
        keep.Populate();
    };
    ReadWhole(source, picture.get(), populate, [&](std::int32_t y, std::int32_t count) {
        const std::size_t first = static_cast<std::size_t>(y) * width;
        const std::size_t n = static_cast<std::size_t>(count) * width;
        RenderRow(picture.get() + first, settings.Cc, settings.Limits, render.data(), mask.data(),
                  n);
        std::uint8_t* out = keep.get() + first;
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = static_cast<std::uint8_t>(mask[i]); // MaskKept's low byte is 255
        }
    });
    FilterMaskBytes(keep.get(), width, height);
    for (std::int32_t y = 0; y < height; y += BandRows) {
        const std::int32_t count = std::min(BandRows, height - y);
        const std::size_t first = static_cast<std::size_t>(y) * width;
        const std::size_t n = static_cast<std::size_t>(count) * width;
        Band* band = queue.TakeFree();
        if (band == nullptr) {
            return;
        }
        RecomposeRow(picture.get() + first, keep.get() + first, band->render.data(), n);
        if (wantMask) {
            for (std::size_t i = 0; i < n; ++i) {
                band->mask[i] = keep[first + i] != 0 ? MaskKept : MaskGreyed;
            }
        }
        band->rows = count;
        queue.Push(band);
    }
}

} // namespace

std::uint64_t KeepHeldBytesPerPixel(const KeepSettings& settings) {
    return settings.Filter ? sizeof(TColor32) + 1 : 0;
}

void KeepColours(RowSource& source, const KeepSettings& settings, RowSink& render, RowSink* mask) {
    const std::int32_t width = source.Width();
    const std::int32_t height = source.Height();
    if (settings.Filter && settings.Rule != nullptr) {
        throw EngineError("The filter takes the render pass's own rule");
    }
    render.Start(width, height);
    if (mask != nullptr) {
        mask->Start(width, height);
    }
    const std::size_t bandPixels = static_cast<std::size_t>(width) * BandRows;
    const auto produce = [&](BandPort& port) {
        if (settings.Filter) {
            ProduceFiltered(source, settings, mask != nullptr, port);
        } else {
            ProduceStreaming(source, port);
        }
    };
    BandQueue queue(bandPixels);
    std::jthread producer;
    try {
        producer = std::jthread([&]() noexcept {
            try {
                produce(queue);
                queue.Close(nullptr);
            } catch (...) {
                queue.Close(std::current_exception());
            }
        });
    } catch (const std::system_error&) {
        // No thread to spare: decode and write in turn on this one.
        DirectPort direct(bandPixels, settings, render, mask);
        produce(direct);
    }
    if (producer.joinable()) {
        try {
            while (Band* band = queue.TakeFull()) {
                WriteBand(*band, settings, render, mask);
                queue.GiveBack(band);
            }
        } catch (...) {
            queue.Stop();
            throw; // the producer is joined on the way out
        }
        producer.join();
        if (const std::exception_ptr error = queue.Error()) {
            std::rethrow_exception(error);
        }
    }
    render.Finish();
    if (mask != nullptr) {
        mask->Finish();
    }
}

} // namespace tintavo
