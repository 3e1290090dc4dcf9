#include "engine/PictureReader.h"

#include "engine/EngineError.h"
#include "engine/JpegDecoding.h"
#include "engine/MemoryBudget.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace tintavo {

namespace {

using detail::CheckPixelCount;
using detail::JpegDecoder;
using detail::PictureHeaderSize;

// Checks that the picture's pixels, the reader's own buffers (`readerBytes`) and what the caller
// holds a pixel fit in the memory the system can give. The bitmap's present pixels are released
// before the new ones are taken, so they count as free.
void CheckMemory(const TBitmap32& bitmap, std::uint64_t pixels, std::uint64_t readerBytes,
                 const PictureReadOptions& options) {
    const std::uint64_t perPixel =
        detail::SaturatingPlus(sizeof(TColor32), options.HeldBytesPerPixel);
    const std::uint64_t needed =
        detail::SaturatingPlus(detail::SaturatingTimes(pixels, perPixel), readerBytes);
    const std::uint64_t held = bitmap.PixelCount() * sizeof(TColor32);
    RequireMemory(needed > held ? needed - held : 0);
}

// ---- JPEG ------------------------------------------------------------------------------

// Stored rows turned by orientations 5 to 8 are gathered this many at a time, so that each
// upright row receives them as one run of neighbouring pixels.
constexpr std::int32_t TurnBatchRows = 16;

// Where decoded rows go: the upright bitmap, and for orientations 5 to 8 a batch of stored rows.
struct JpegTarget {
    TBitmap32* upright;
    TColor32* batch;
    int orientation;
};

// Where stored row y is decoded: straight into its upright row for orientations 1 to 4 (mirrored
// afterwards for 2 and 3), else into row `slot` of the batch.
TColor32* JpegRowTarget(const JpegTarget* target, std::int32_t y, std::int32_t slot) {
    TBitmap32& upright = *target->upright;
    if (target->orientation >= 5) {
        // A stored row is as long as the upright picture is high.
        return target->batch + static_cast<std::size_t>(slot) * upright.Height();
    }
    const bool flip = target->orientation == 3 || target->orientation == 4;
    return upright.ScanLine(flip ? upright.Height() - 1 - y : y);
}

// Decodes every stored row into its upright place; `rowsDone` counts finished stored rows so
// that the caller knows what is left when the data stops early.
bool JpegDecodeRows(JpegDecoder* decoder, const JpegTarget* target, JDIMENSION* rowsDone) {
    if (setjmp(decoder->trap.jump) != 0) {
        return false;
    }
    jpeg_decompress_struct& info = decoder->info;
    const JSAMPARRAY scratch = detail::JpegStart(*decoder);
    const JDIMENSION width = info.output_width;
    const auto height = static_cast<std::int32_t>(info.output_height);
    const std::int32_t batch = target->orientation >= 5 ? TurnBatchRows : 1;
    bool more = true;
    while (more && static_cast<std::int32_t>(info.output_scanline) < height) {
        const auto first = static_cast<std::int32_t>(info.output_scanline);
        const std::int32_t wanted = std::min(batch, height - first);
        std::int32_t got = 0;
        for (; got < wanted; ++got) {
            TColor32* row = JpegRowTarget(target, first + got, got);
            if (!detail::JpegReadRow(*decoder, scratch, row)) {
                more = false;
                break;
            }
            if (target->orientation == 2 || target->orientation == 3) {
                std::reverse(row, row + width);
            }
        }
        if (target->orientation >= 5) {
            detail::PlaceStoredRows(*target->upright, target->orientation,
                                    static_cast<std::int32_t>(width), height, first, got,
                                    target->batch);
        }
        *rowsDone = static_cast<JDIMENSION>(first + got);
    }
    if (info.output_scanline == info.output_height) {
        jpeg_finish_decompress(&info);
    }
    return true;
}

// Refuses, before anything is allocated for it, a picture that cannot be what it claims or
// cannot fit.
void CheckJpegSize(JpegDecoder& decoder, const TBitmap32& bitmap, std::size_t fileBytes,
                   int orientation, const PictureReadOptions& options) {
    jpeg_decompress_struct& info = decoder.info;
    const std::uint64_t pixels = detail::CheckJpegClaims(info, fileBytes, options);
    const std::uint64_t batch = orientation >= 5 ? static_cast<std::uint64_t>(info.output_width) *
                                                       TurnBatchRows * sizeof(TColor32)
                                                 : 0;
    CheckMemory(bitmap, pixels, detail::JpegDecoderBytes(info) + batch, options);
}

// Rows the decoder never delivered stay as the blank picture they were drawn over: opaque white
// in the upright places of stored rows [done, height).
void FillUndecoded(TBitmap32& upright, int orientation, std::int32_t done) {
    if (orientation <= 4) {
        const std::int32_t rows = upright.Height() - done;
        const bool flip = orientation == 3 || orientation == 4;
        TColor32* from = upright.ScanLine(flip ? 0 : done);
        std::fill_n(from, static_cast<std::size_t>(rows) * upright.Width(), MaskKept);
        return;
    }
    const std::int32_t columns = upright.Width() - done;
    const bool fromLeft = orientation == 6 || orientation == 7;
    for (std::int32_t v = 0; v < upright.Height(); ++v) {
        TColor32* line = upright.ScanLine(v);
        std::fill_n(line + (fromLeft ? 0 : done), columns, MaskKept);
    }
}

void ReadJpeg(TBitmap32& bitmap, std::span<const std::uint8_t> bytes,
              const PictureReadOptions& options) {
    const std::unique_ptr<JpegDecoder> decoder = detail::MakeJpegDecoder();
    const detail::JpegDecoderGuard guard{decoder.get()};
    JpegMetadata metadata = detail::OpenJpeg(*decoder, bytes, options);
    const int orientation = options.AutoOrient ? metadata.Orientation : 1;
    metadata.TurnedUpright = orientation != 1;
    if (options.Metadata != nullptr) {
        *options.Metadata = std::move(metadata);
    }
    CheckJpegSize(*decoder, bitmap, bytes.size(), orientation, options);

    const auto width = static_cast<std::int32_t>(decoder->info.output_width);
    const auto height = static_cast<std::int32_t>(decoder->info.output_height);
    if (orientation >= 5) {
        bitmap.Resize(height, width);
    } else {
        bitmap.Resize(width, height);
    }
    std::vector<TColor32> batch(orientation >= 5 ? static_cast<std::size_t>(width) * TurnBatchRows
                                                 : 0);
    const JpegTarget target{&bitmap, batch.data(), orientation};
    JDIMENSION rowsDone = 0;
    if (!JpegDecodeRows(decoder.get(), &target, &rowsDone)) {
        throw EngineError(decoder->trap.message);
    }
    FillUndecoded(bitmap, orientation, static_cast<std::int32_t>(rowsDone));
}

// ---- Windows bitmap --------------------------------------------------------------------

std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// The `size` bytes at `offset`, which the header checks have found inside the file.
std::span<const std::uint8_t> Slice(std::span<const std::uint8_t> file, std::uint64_t offset,
                                    std::uint64_t size) {
    if (offset > file.size() || size > file.size() - offset) {
        throw EngineError("The bitmap ends before its pixels do");
    }
    return file.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(size));
}

enum : std::uint32_t { BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3 };

// What the file and info headers say, both forms of info header read into one.
struct BitmapHeader {
    std::uint32_t pixelOffset;
    std::uint32_t infoSize;
    bool core; // the oldest form: 12 bytes, 16-bit sizes, palette entries of three bytes
    std::int64_t width;
    std::int64_t storedHeight; // negative: the first stored row is the top row
    std::int64_t height;
    unsigned planes;
    unsigned bits;
    std::uint32_t compression;
    std::uint32_t coloursUsed;
    bool runLength;
    std::uint64_t stride;        // bytes a stored row, padded to 4
    std::uint64_t paletteOffset; // where the palette starts, after the masks when there are any
};

BitmapHeader ParseBitmapHeader(const std::uint8_t* header) {
    BitmapHeader h{};
    h.pixelOffset = U32(header + 10);
    h.infoSize = U32(header + 14);
    h.core = h.infoSize == 12;
    if (!h.core && h.infoSize < 40) {
        throw EngineError("Unsupported bitmap format");
    }
    h.width = h.core ? U16(header + 18)
                     : static_cast<std::int64_t>(static_cast<std::int32_t>(U32(header + 18)));
    h.storedHeight = h.core
                         ? U16(header + 20)
                         : static_cast<std::int64_t>(static_cast<std::int32_t>(U32(header + 22)));
    h.height = h.storedHeight < 0 ? -h.storedHeight : h.storedHeight;
    h.planes = h.core ? U16(header + 22) : U16(header + 26);
    h.bits = h.core ? U16(header + 24) : U16(header + 28);
    h.compression = h.core ? BiRgb : U32(header + 30);
    h.coloursUsed = h.core ? 0 : U32(header + 46);
    h.runLength = h.compression == BiRle8 || h.compression == BiRle4;
    h.stride =
        ((static_cast<std::uint64_t>(std::max<std::int64_t>(h.width, 0)) * h.bits + 31) / 32) * 4;
    // The three masks follow a 40-byte header; larger headers hold them at the same place.
    const std::uint64_t masksSize = h.compression == BiBitfields && h.infoSize == 40 ? 12 : 0;
    h.paletteOffset = 14 + static_cast<std::uint64_t>(h.infoSize) + masksSize;
    return h;
}

void CheckBitmapHeader(const BitmapHeader& h, std::uint64_t fileSize) {
    const unsigned bits = h.bits;
    const bool supported =
        h.planes == 1 &&
        ((h.compression == BiRgb &&
          (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32)) ||
         (h.compression == BiRle8 && bits == 8) || (h.compression == BiRle4 && bits == 4) ||
         (h.compression == BiBitfields && (bits == 16 || bits == 32)));
    if (!supported) {
        throw EngineError("Unsupported bitmap format (" + std::to_string(bits) +
                          " bits per pixel, compression " + std::to_string(h.compression) + ")");
    }
    if (h.width <= 0 || h.height <= 0 || (h.runLength && h.storedHeight < 0)) {
        throw EngineError("The bitmap's header gives no valid size");
    }
    const std::uint64_t pixelBytes =
        h.runLength ? 0 : h.stride * static_cast<std::uint64_t>(h.height);
    if (h.pixelOffset < h.paletteOffset || h.pixelOffset > fileSize ||
        pixelBytes > fileSize - h.pixelOffset) {
        throw EngineError("The bitmap's header does not match the file's size");
    }
}

using Palette = std::array<TColor32, 256>;

Palette ReadPalette(const BitmapHeader& h, std::span<const std::uint8_t> file) {
    Palette palette{};
    palette.fill(0xFF000000u);
    if (h.bits > 8) {
        return palette;
    }
    const std::uint64_t entrySize = h.core ? 3 : 4;
    const std::uint32_t maxColours = 1u << h.bits;
    std::uint32_t colours = h.coloursUsed == 0 ? maxColours : std::min(h.coloursUsed, maxColours);
    colours = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(colours, (h.pixelOffset - h.paletteOffset) / entrySize));
    const std::span<const std::uint8_t> entries = Slice(file, h.paletteOffset, colours * entrySize);
    for (std::uint32_t i = 0; i < colours; ++i) {
        const std::uint8_t* entry = &entries[i * entrySize];
        palette[i] = 0xFF000000u | static_cast<TColor32>(entry[2]) << 16 |
                     static_cast<TColor32>(entry[1]) << 8 | entry[0];
    }
    return palette;
}

// One channel of a pixel stored under a bit mask, widened to 8 bits by repeating its bits
// (so 5-bit 31 becomes 255 and 0 stays 0).
class ChannelMask {
public:
    explicit ChannelMask(std::uint32_t mask) : mask_(mask) {
        if (mask != 0) {
            shift_ = static_cast<unsigned>(std::countr_zero(mask));
            width_ = static_cast<unsigned>(std::popcount(mask));
        }
    }
    TColor32 Of(std::uint32_t pixel) const {
        if (width_ == 0) {
            return 0;
        }
        const std::uint32_t value = (pixel & mask_) >> shift_;
        if (width_ >= 8) {
            return (value >> (width_ - 8)) & 0xFFu;
        }
        std::uint32_t wide = value << (8 - width_);
        for (unsigned step = width_; step < 8; step *= 2) {
            wide |= wide >> step;
        }
        return wide & 0xFFu;
    }

private:
    std::uint32_t mask_;
    unsigned shift_ = 0;
    unsigned width_ = 0;
};

using ChannelMasks = std::array<ChannelMask, 3>;

ChannelMasks ReadMasks(const BitmapHeader& h, std::span<const std::uint8_t> file) {
    if (h.compression != BiBitfields) {
        // Without masks, 16-bit pixels hold 5 bits each of red, green and blue.
        return {ChannelMask(0x7C00), ChannelMask(0x03E0), ChannelMask(0x001F)};
    }
    const std::uint8_t* stored = Slice(file, PictureHeaderSize, 12).data();
    return {ChannelMask(U32(stored)), ChannelMask(U32(stored + 4)), ChannelMask(U32(stored + 8))};
}

// Run-length coded palette pictures (8 or 4 bits per pixel), always stored bottom-up. Pixels the
// codes skip or never reach stay at palette entry 0; codes that run past the picture or the data
// end the decoding.
void DecodeRunLength(std::span<const std::uint8_t> data, unsigned bits, const Palette& palette,
                     TBitmap32& bitmap) {
    const std::int64_t width = bitmap.Width();
    const std::int64_t height = bitmap.Height();
    std::fill_n(bitmap.Bits(), bitmap.PixelCount(), palette[0]);
    std::int64_t x = 0;
    std::int64_t y = 0; // counted from the bottom row
    const auto put = [&](unsigned index) {
        if (x < width && y < height) {
            bitmap.Bits()[static_cast<std::size_t>((height - 1 - y) * width + x)] = palette[index];
        }
        ++x;
    };
    std::size_t i = 0;
    while (i + 1 < data.size() && y < height) {
        const unsigned count = data[i];
        const unsigned code = data[i + 1];
        i += 2;
        if (count > 0) {
            for (unsigned n = 0; n < count && x < width; ++n) {
                put(bits == 8 ? code : (n % 2 == 0 ? code >> 4 : code & 15u));
            }
        } else if (code == 0) { // end of line
            x = 0;
            ++y;
        } else if (code == 1) { // end of picture
            break;
        } else if (code == 2) { // move right and up
            if (i + 1 >= data.size()) {
                break;
            }
            x += data[i];
            y += data[i + 1];
            i += 2;
        } else { // `code` pixels stored one by one, the run padded to a 16-bit boundary
            const std::size_t bytes = bits == 8 ? code : (code + 1) / 2;
            if (i + bytes > data.size()) {
                break;
            }
            for (unsigned n = 0; n < code; ++n) {
                const unsigned byte = data[i + (bits == 8 ? n : n / 2)];
                put(bits == 8 ? byte : (n % 2 == 0 ? byte >> 4 : byte & 15u));
            }
            i += bytes + bytes % 2;
        }
    }
}

TColor32 DecodePixel(const BitmapHeader& h, const std::uint8_t* in, std::int64_t x,
                     const Palette& palette, const ChannelMasks& masks) {
    switch (h.bits) {
    case 32:
    case 16: {
        const std::uint32_t v = h.bits == 32 ? U32(in + 4 * x) : U16(in + 2 * x);
        return 0xFF000000u | masks[0].Of(v) << 16 | masks[1].Of(v) << 8 | masks[2].Of(v);
    }
    case 24:
        return 0xFF000000u | static_cast<TColor32>(in[3 * x + 2]) << 16 |
               static_cast<TColor32>(in[3 * x + 1]) << 8 | in[3 * x];
    default: {
        const std::uint64_t bit = static_cast<std::uint64_t>(x) * h.bits;
        const unsigned byte = in[bit / 8];
        return palette[(byte >> (8 - h.bits - bit % 8)) & ((1u << h.bits) - 1)];
    }
    }
}

void DecodeRows(const BitmapHeader& h, std::span<const std::uint8_t> file, const Palette& palette,
                const ChannelMasks& masks, TBitmap32& bitmap) {
    for (std::int64_t stored = 0; stored < h.height; ++stored) {
        const auto y =
            static_cast<std::int32_t>(h.storedHeight > 0 ? h.height - 1 - stored : stored);
        const std::uint8_t* in =
            Slice(file, h.pixelOffset + static_cast<std::uint64_t>(stored) * h.stride, h.stride)
                .data();
        TColor32* out = bitmap.ScanLine(y);
        if (h.bits == 32 && h.compression == BiRgb) {
            // Copied as stored, alpha byte included.
            std::memcpy(out, in, static_cast<std::size_t>(h.stride));
            continue;
        }
        for (std::int64_t x = 0; x < h.width; ++x) {
            out[x] = DecodePixel(h, in, x, palette, masks);
        }
    }
}

void ReadBitmap(TBitmap32& bitmap, std::span<const std::uint8_t> file,
                const PictureReadOptions& options) {
    const BitmapHeader h = ParseBitmapHeader(file.data());
    CheckBitmapHeader(h, file.size());
    CheckPixelCount(h.width, h.height, options);
    CheckMemory(bitmap, static_cast<std::uint64_t>(h.width * h.height), 0, options);
    const Palette palette = ReadPalette(h, file);
    const ChannelMasks masks = ReadMasks(h, file);

    bitmap.Resize(static_cast<std::int32_t>(h.width), static_cast<std::int32_t>(h.height));
    if (h.runLength) {
        DecodeRunLength(file.subspan(h.pixelOffset), h.bits, palette, bitmap);
    } else {
        DecodeRows(h, file, palette, masks, bitmap);
    }
}

void ReadPicture(TBitmap32& bitmap, std::span<const std::uint8_t> bytes,
                 const PictureReadOptions& options) {
    if (bytes.size() < PictureHeaderSize) {
        throw EngineError("The file is too short to be a picture (" + std::to_string(bytes.size()) +
                          " bytes)");
    }
    if (bytes[0] == 'B' && bytes[1] == 'M') {
        ReadBitmap(bitmap, bytes, options);
    } else {
        ReadJpeg(bitmap, bytes, options);
    }
}

// The bitmap announces its new content once the read ends, whichever way it ends; the metadata
// asked for starts empty.
struct ReadScope {
    ReadScope(TBitmap32& target, const PictureReadOptions& options) : bitmap(target) {
        if (options.Metadata != nullptr) {
            *options.Metadata = JpegMetadata{};
        }
    }
    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;
    ~ReadScope() { bitmap.Changed(); }
    TBitmap32& bitmap;
};

} // namespace

void ReadPictureFile(TBitmap32& bitmap, const std::filesystem::path& path,
                     const PictureReadOptions& options) {
    const ReadScope scope(bitmap, options);
    const std::vector<std::uint8_t> bytes = detail::ReadWholeFile(path);
    ReadPicture(bitmap, bytes, options);
}

void ReadPictureBytes(TBitmap32& bitmap, std::span<const std::uint8_t> bytes,
                      const PictureReadOptions& options) {
    const ReadScope scope(bitmap, options);
    ReadPicture(bitmap, bytes, options);
}

} // namespace tintavo
