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

void ReadBitmap(TBitmap32& bitmap, std::FILE* file, const unsigned char* header,
                std::uint64_t fileSize, const PictureReadOptions& options) {
    const std::uint32_t pixelOffset = U32(header + 10);
    const std::uint32_t infoSize = U32(header + 14);
    const std::int64_t width = static_cast<std::int32_t>(U32(header + 18));
    const std::int64_t storedHeight = static_cast<std::int32_t>(U32(header + 22));
    const unsigned planes = U16(header + 26);
    const unsigned bits = U16(header + 28);
    const std::uint32_t compression = U32(header + 30);
    const std::uint32_t coloursUsed = U32(header + 46);

    if (infoSize < 40 || planes != 1) {
        throw EngineError("Unsupported bitmap format");
    }
    if (compression != 0 ||
        (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)) {
        throw EngineError("Unsupported bitmap format (" + std::to_string(bits) +
                          " bits per pixel, compression " + std::to_string(compression) + ")");
    }
    const std::int64_t height = storedHeight < 0 ? -storedHeight : storedHeight;
    if (width <= 0 || height <= 0) {
        throw EngineError("The bitmap's header gives no valid size");
    }
    const std::uint64_t stride = ((static_cast<std::uint64_t>(width) * bits + 31) / 32) * 4;
    const std::uint64_t paletteOffset = 14 + static_cast<std::uint64_t>(infoSize);
    if (pixelOffset < HeaderSize || pixelOffset < paletteOffset || pixelOffset > fileSize ||
        stride * static_cast<std::uint64_t>(height) > fileSize - pixelOffset) {
        throw EngineError("The bitmap's header does not match the file's size");
    }
    CheckPixelCount(width, height, options);

    std::array<TColor32, 256> palette{};
    if (bits <= 8) {
        const std::uint32_t maxColours = 1u << bits;
        std::uint32_t colours = coloursUsed == 0 ? maxColours : std::min(coloursUsed, maxColours);
        colours = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(colours, (pixelOffset - paletteOffset) / 4));
        std::vector<unsigned char> entries(static_cast<std::size_t>(colours) * 4);
        if (std::fseek(file, static_cast<long>(paletteOffset), SEEK_SET) != 0) {
            throw EngineError("Cannot read the bitmap: " + SystemReason());
        }
        ReadExactly(file, entries.data(), entries.size());
        for (std::uint32_t i = 0; i < colours; ++i) {
            palette[i] = 0xFF000000u | U32(&entries[4 * i]);
        }
    }

    bitmap.Resize(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
    if (std::fseek(file, static_cast<long>(pixelOffset), SEEK_SET) != 0) {
        throw EngineError("Cannot read the bitmap: " + SystemReason());
    }
    std::vector<unsigned char> row(static_cast<std::size_t>(stride));
    for (std::int64_t stored = 0; stored < height; ++stored) {
        const auto y = static_cast<std::int32_t>(storedHeight > 0 ? height - 1 - stored : stored);
        TColor32* out = bitmap.ScanLine(y);
        if (bits == 32) {
            // Copied as stored, alpha byte included.
            ReadExactly(file, out, static_cast<std::size_t>(stride));
            continue;
        }
        ReadExactly(file, row.data(), row.size());
        const unsigned char* in = row.data();
        for (std::int64_t x = 0; x < width; ++x) {
            TColor32 col = 0;
            switch (bits) {
            case 24:
                col = 0xFF000000u | static_cast<TColor32>(in[3 * x + 2]) << 16 |
                      static_cast<TColor32>(in[3 * x + 1]) << 8 | in[3 * x];
                break;
            case 16: {
                const unsigned v = U16(in + 2 * x); // 5 bits each of red, green and blue
                const auto expand = [](unsigned c) { return (c << 3) | (c >> 2); };
                col = 0xFF000000u | expand((v >> 10) & 31u) << 16 | expand((v >> 5) & 31u) << 8 |
                      expand(v & 31u);
                break;
            }
            default: {
                const std::uint64_t bit = static_cast<std::uint64_t>(x) * bits;
                const unsigned byte = in[bit / 8];
                const unsigned index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                col = palette[index] != 0 ? palette[index] : 0xFF000000u;
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
