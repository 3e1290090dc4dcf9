#include "engine/PictureReader.h"

#include "engine/EngineError.h"
#include "engine/JpegTrap.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace tintavo {

namespace {

constexpr std::size_t HeaderSize = 54;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string SystemReason() {
    return std::strerror(errno);
}

void CheckPixelCount(std::int64_t width, std::int64_t height, const PictureReadOptions& options) {
    if (width * height > options.MaxPixels) {
        throw EngineError("Can't allocate the DIB handle");
    }
}

// ---- JPEG ------------------------------------------------------------------------------

enum class JpegLayout { Colour, Grey, Cmyk };

struct JpegDecoder {
    jpeg_decompress_struct info;
    detail::JpegTrap trap;
    JpegLayout layout;
};

// The functions that call into libjpeg; see JpegTrap.h for why they look like this.

bool JpegReadHeader(JpegDecoder* decoder, std::FILE* file) {
    if (setjmp(decoder->trap.jump) != 0) {
        return false;
    }
    jpeg_decompress_struct& info = decoder->info;
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    switch (info.out_color_space) {
    case JCS_RGB:
        // The same decoded values as plain RGB, packed as the buffer stores its pixels
        // (blue, green, red, alpha 255).
        info.out_color_space = JCS_EXT_BGRA;
        decoder->layout = JpegLayout::Colour;
        break;
    case JCS_GRAYSCALE:
        info.quantize_colors = TRUE;
        info.desired_number_of_colors = 236;
        decoder->layout = JpegLayout::Grey;
        break;
    case JCS_CMYK:
        decoder->layout = JpegLayout::Cmyk;
        break;
    default:
        std::snprintf(decoder->trap.message, sizeof decoder->trap.message,
                      "Unsupported JPEG colour space (%d components)", info.num_components);
        return false;
    }
    jpeg_calc_output_dimensions(&info);
    return true;
}

// Decodes into `pixels` (output_width x output_height); `rowsDone` counts finished rows so
// that the caller knows what is left when the data stops early.
bool JpegDecodeRows(JpegDecoder* decoder, TColor32* pixels, JDIMENSION* rowsDone) {
    if (setjmp(decoder->trap.jump) != 0) {
        return false;
    }
    jpeg_decompress_struct& info = decoder->info;
    jpeg_start_decompress(&info);
    const JDIMENSION width = info.output_width;
    JSAMPARRAY scratch = nullptr;
    if (decoder->layout != JpegLayout::Colour) {
        scratch = (*info.mem->alloc_sarray)(
            reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
            width * static_cast<JDIMENSION>(info.out_color_components), 1);
    }
    while (info.output_scanline < info.output_height) {
        TColor32* row = pixels + static_cast<std::size_t>(info.output_scanline) * width;
        JSAMPROW target =
            decoder->layout == JpegLayout::Colour ? reinterpret_cast<JSAMPROW>(row) : scratch[0];
        if (jpeg_read_scanlines(&info, &target, 1) != 1) {
            break;
        }
        const JSAMPLE* in = scratch != nullptr ? scratch[0] : nullptr;
        if (decoder->layout == JpegLayout::Grey) {
            const JSAMPLE* levels = info.colormap[0];
            for (JDIMENSION x = 0; x < width; ++x) {
                row[x] = GreyPixel(levels[in[x]], 255u);
            }
        } else if (decoder->layout == JpegLayout::Cmyk) {
            // Adobe's CMYK JPEGs store inverted inks: 255 is no ink.
            for (JDIMENSION x = 0; x < width; ++x) {
                const unsigned k = in[4 * x + 3];
                row[x] = 0xFF000000u | (in[4 * x] * k / 255u) << 16 |
                         (in[4 * x + 1] * k / 255u) << 8 | (in[4 * x + 2] * k / 255u);
            }
        }
        *rowsDone = info.output_scanline;
    }
    if (info.output_scanline == info.output_height) {
        jpeg_finish_decompress(&info);
    }
    return true;
}

struct JpegDecoderGuard {
    JpegDecoder* decoder;
    ~JpegDecoderGuard() { jpeg_destroy_decompress(&decoder->info); }
};

void ReadJpeg(TBitmap32& bitmap, std::FILE* file, const PictureReadOptions& options) {
    auto decoder = std::make_unique<JpegDecoder>();
    std::memset(decoder.get(), 0, sizeof(JpegDecoder));
    decoder->info.err = detail::ArmJpegTrap(decoder->trap);
    const JpegDecoderGuard guard{decoder.get()};
    if (!JpegReadHeader(decoder.get(), file)) {
        throw EngineError(decoder->trap.message);
    }
    const auto width = static_cast<std::int32_t>(decoder->info.output_width);
    const auto height = static_cast<std::int32_t>(decoder->info.output_height);
    CheckPixelCount(width, height, options);
    bitmap.Resize(width, height);
    JDIMENSION rowsDone = 0;
    if (!JpegDecodeRows(decoder.get(), bitmap.Bits(), &rowsDone)) {
        throw EngineError(decoder->trap.message);
    }
    // Rows the decoder never delivered stay as the blank picture they were drawn over.
    const std::size_t done = static_cast<std::size_t>(rowsDone) * static_cast<std::size_t>(width);
    std::fill(bitmap.Bits() + done, bitmap.Bits() + bitmap.PixelCount(), MaskKept);
}

// ---- Windows bitmap --------------------------------------------------------------------

std::uint32_t U32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t U16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void ReadExactly(std::FILE* file, void* target, std::size_t size) {
    if (std::fread(target, 1, size, file) != size) {
        throw EngineError("The bitmap ends before its pixels do");
    }
}

void Seek(std::FILE* file, std::uint64_t offset) {
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) {
        throw EngineError("Cannot read the bitmap: " + SystemReason());
    }
}

enum : std::uint32_t { BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3 };

// One channel of a pixel stored under a bit mask, widened to 8 bits by repeating its bits
// (so 5-bit 31 becomes 255 and 0 stays 0).
class ChannelMask {
public:
    explicit ChannelMask(std::uint32_t mask) : mask_(mask) {
        if (mask != 0) {
            shift_ = static_cast<unsigned>(__builtin_ctz(mask));
            width_ = static_cast<unsigned>(__builtin_popcount(mask));
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

// Run-length coded palette pictures (8 or 4 bits per pixel), always stored bottom-up. Pixels the
// codes skip or never reach stay at palette index 0; codes that run past the picture or the data
// end the decoding.
std::vector<unsigned char> DecodeRunLength(const std::vector<unsigned char>& data, unsigned bits,
                                           std::int64_t width, std::int64_t height) {
    std::vector<unsigned char> indices(static_cast<std::size_t>(width * height), 0);
    std::int64_t x = 0;
    std::int64_t y = 0; // counted from the bottom row
    const auto put = [&](unsigned index) {
        if (x < width && y < height) {
            indices[static_cast<std::size_t>((height - 1 - y) * width + x)] =
                static_cast<unsigned char>(index);
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
            continue;
        }
        if (code == 0) { // end of line
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
    return indices;
}

void ReadBitmap(TBitmap32& bitmap, std::FILE* file, const unsigned char* header,
                std::uint64_t fileSize, const PictureReadOptions& options) {
    const std::uint32_t pixelOffset = U32(header + 10);
    const std::uint32_t infoSize = U32(header + 14);
    // The oldest bitmaps carry a 12-byte header with 16-bit sizes and 3-byte palette entries.
    const bool core = infoSize == 12;
    if (!core && infoSize < 40) {
        throw EngineError("Unsupported bitmap format");
    }
    const std::int64_t width =
        core ? U16(header + 18)
             : static_cast<std::int64_t>(static_cast<std::int32_t>(U32(header + 18)));
    const std::int64_t storedHeight =
        core ? U16(header + 20)
             : static_cast<std::int64_t>(static_cast<std::int32_t>(U32(header + 22)));
    const unsigned planes = core ? U16(header + 22) : U16(header + 26);
    const unsigned bits = core ? U16(header + 24) : U16(header + 28);
    const std::uint32_t compression = core ? BiRgb : U32(header + 30);
    const std::uint32_t coloursUsed = core ? 0 : U32(header + 46);

    const bool supported =
        planes == 1 &&
        ((compression == BiRgb &&
          (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32)) ||
         (compression == BiRle8 && bits == 8) || (compression == BiRle4 && bits == 4) ||
         (compression == BiBitfields && (bits == 16 || bits == 32)));
    if (!supported) {
        throw EngineError("Unsupported bitmap format (" + std::to_string(bits) +
                          " bits per pixel, compression " + std::to_string(compression) + ")");
    }
    const bool runLength = compression == BiRle8 || compression == BiRle4;
    const std::int64_t height = storedHeight < 0 ? -storedHeight : storedHeight;
    if (width <= 0 || height <= 0 || (runLength && storedHeight < 0)) {
        throw EngineError("The bitmap's header gives no valid size");
    }
    const std::uint64_t stride = ((static_cast<std::uint64_t>(width) * bits + 31) / 32) * 4;
    // The three masks follow a 40-byte header; larger headers hold them at the same place.
    const std::uint64_t masksSize = compression == BiBitfields && infoSize == 40 ? 12 : 0;
    const std::uint64_t paletteOffset = 14 + static_cast<std::uint64_t>(infoSize) + masksSize;
    const std::uint64_t pixelBytes = runLength ? 0 : stride * static_cast<std::uint64_t>(height);
    if (pixelOffset < paletteOffset || pixelOffset > fileSize ||
        pixelBytes > fileSize - pixelOffset) {
        throw EngineError("The bitmap's header does not match the file's size");
    }
    CheckPixelCount(width, height, options);

    std::array<TColor32, 256> palette{};
    palette.fill(0xFF000000u);
    if (bits <= 8) {
        const std::uint64_t entrySize = core ? 3 : 4;
        const std::uint32_t maxColours = 1u << bits;
        std::uint32_t colours = coloursUsed == 0 ? maxColours : std::min(coloursUsed, maxColours);
        colours = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(colours, (pixelOffset - paletteOffset) / entrySize));
        std::vector<unsigned char> entries(static_cast<std::size_t>(colours * entrySize));
        Seek(file, paletteOffset);
        ReadExactly(file, entries.data(), entries.size());
        for (std::uint32_t i = 0; i < colours; ++i) {
            const unsigned char* entry = &entries[i * entrySize];
            palette[i] = 0xFF000000u | static_cast<TColor32>(entry[2]) << 16 |
                         static_cast<TColor32>(entry[1]) << 8 | entry[0];
        }
    }
    // Without masks, 16-bit pixels hold 5 bits each of red, green and blue.
    std::array<ChannelMask, 3> masks{ChannelMask(0x7C00), ChannelMask(0x03E0), ChannelMask(0x001F)};
    if (compression == BiBitfields) {
        unsigned char stored[12];
        Seek(file, HeaderSize);
        ReadExactly(file, stored, sizeof stored);
        masks = {ChannelMask(U32(stored)), ChannelMask(U32(stored + 4)),
                 ChannelMask(U32(stored + 8))};
    }

    bitmap.Resize(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
    Seek(file, pixelOffset);
    if (runLength) {
        std::vector<unsigned char> data(static_cast<std::size_t>(fileSize - pixelOffset));
        ReadExactly(file, data.data(), data.size());
        const std::vector<unsigned char> indices = DecodeRunLength(data, bits, width, height);
        TColor32* out = bitmap.Bits();
        for (std::size_t i = 0; i < indices.size(); ++i) {
            out[i] = palette[indices[i]];
        }
        return;
    }
    std::vector<unsigned char> row(static_cast<std::size_t>(stride));
    for (std::int64_t stored = 0; stored < height; ++stored) {
        const auto y = static_cast<std::int32_t>(storedHeight > 0 ? height - 1 - stored : stored);
        TColor32* out = bitmap.ScanLine(y);
        if (bits == 32 && compression == BiRgb) {
            // Copied as stored, alpha byte included.
            ReadExactly(file, out, static_cast<std::size_t>(stride));
            continue;
        }
        ReadExactly(file, row.data(), row.size());
        const unsigned char* in = row.data();
        for (std::int64_t x = 0; x < width; ++x) {
            TColor32 col = 0;
            switch (bits) {
            case 32:
            case 16: {
                const std::uint32_t v = bits == 32 ? U32(in + 4 * x) : U16(in + 2 * x);
                col = 0xFF000000u | masks[0].Of(v) << 16 | masks[1].Of(v) << 8 | masks[2].Of(v);
                break;
            }
            case 24:
                col = 0xFF000000u | static_cast<TColor32>(in[3 * x + 2]) << 16 |
                      static_cast<TColor32>(in[3 * x + 1]) << 8 | in[3 * x];
                break;
            default: {
                const std::uint64_t bit = static_cast<std::uint64_t>(x) * bits;
                const unsigned byte = in[bit / 8];
                col = palette[(byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1)];
                break;
            }
            }
            out[x] = col;
        }
    }
}

} // namespace

void ReadPictureFile(TBitmap32& bitmap, const std::filesystem::path& path,
                     const PictureReadOptions& options) {
    struct Notify {
        TBitmap32& bitmap;
        ~Notify() { bitmap.Changed(); }
    } notify{bitmap};

    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        throw EngineError("Cannot open the picture file: " + SystemReason());
    }
    struct stat info {};
    if (fstat(fileno(file.get()), &info) != 0) {
        throw EngineError("Cannot read the picture file: " + SystemReason());
    }
    if (!S_ISREG(info.st_mode)) {
        throw EngineError("Not a picture file");
    }
    std::array<unsigned char, HeaderSize> header{};
    const std::size_t got = std::fread(header.data(), 1, header.size(), file.get());
    if (got < header.size()) {
        if (std::ferror(file.get())) {
            throw EngineError("Cannot read the picture file: " + SystemReason());
        }
        throw EngineError("The file is too short to be a picture (" + std::to_string(got) +
                          " bytes)");
    }
    if (header[0] == 'B' && header[1] == 'M') {
        ReadBitmap(bitmap, file.get(), header.data(), static_cast<std::uint64_t>(info.st_size),
                   options);
        return;
    }
    std::rewind(file.get());
    ReadJpeg(bitmap, file.get(), options);
}

} // namespace tintavo
