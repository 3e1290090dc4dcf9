#include "engine/JpegDecoding.h"

#include "engine/EngineError.h"
#include "engine/MemoryBudget.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace tintavo::detail {

namespace {

// A Huffman-coded JPEG spends at least one bit on every 8 x 8 block of every component it codes
// (a DC difference code, and in sequential files an end-of-block code too), however uniform the
// picture: at most 512 pixels a byte for greyscale, fewer for colour. A quarter of that is
// refused as a header that lies, before its pixels are allocated and decoded. Photographs need
// a byte for every 2 to 25 pixels; even cut to a tenth they stay far inside the bound.
constexpr std::uint64_t MaxPixelsPerFileByte = 2048;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string SystemReason() {
    return std::strerror(errno);
}

// The functions that call into libjpeg; see JpegTrap.h for why they look like this.

bool JpegReadHeader(JpegDecoder* decoder, std::span<const std::uint8_t> bytes, bool keepExif,
                    bool keepIcc) {
    if (setjmp(decoder->trap.jump) != 0) {
        return false;
    }
    jpeg_decompress_struct& info = decoder->info;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    if (keepIcc) {
        SaveMetadataMarkers(info);
    } else if (keepExif) {
        jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    }
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

bool JpegCollectMetadata(JpegDecoder* decoder, JpegMetadata* metadata) {
    if (setjmp(decoder->trap.jump) != 0) {
        return false;
    }
    *metadata = CollectJpegMetadata(decoder->info);
    return true;
}

void ConvertJpegRow(const JpegDecoder& decoder, const JSAMPLE* in, TColor32* row,
                    JDIMENSION width) {
    if (decoder.layout == JpegLayout::Grey) {
        const JSAMPLE* levels = decoder.info.colormap[0];
        for (JDIMENSION x = 0; x < width; ++x) {
            row[x] = GreyPixel(levels[in[x]], 255u);
        }
    } else if (decoder.layout == JpegLayout::Cmyk) {
        // Adobe's CMYK JPEGs store inverted inks: 255 is no ink.
        for (JDIMENSION x = 0; x < width; ++x) {
            const unsigned k = in[4 * x + 3];
            row[x] = 0xFF000000u | (in[4 * x] * k / 255u) << 16 | (in[4 * x + 1] * k / 255u) << 8 |
                     (in[4 * x + 2] * k / 255u);
        }
    }
}

} // namespace

std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& path) {
    const FilePtr file(std::fopen(path.c_str(), "rb"));
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
    const auto size = static_cast<std::uint64_t>(info.st_size);
    RequireMemory(size);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (got < bytes.size()) {
        if (std::ferror(file.get())) {
            throw EngineError("Cannot read the picture file: " + SystemReason());
        }
        bytes.resize(got); // the file was shortened meanwhile
    }
    return bytes;
}

void CheckPixelCount(std::int64_t width, std::int64_t height, const PictureReadOptions& options) {
    if (width * height > options.MaxPixels) {
        throw EngineError("Can't allocate the DIB handle");
    }
}

std::unique_ptr<JpegDecoder> MakeJpegDecoder() {
    auto decoder = std::make_unique<JpegDecoder>();
    std::memset(decoder.get(), 0, sizeof(JpegDecoder));
    decoder->info.err = ArmJpegTrap(decoder->trap);
    return decoder;
}

JpegMetadata OpenJpeg(JpegDecoder& decoder, std::span<const std::uint8_t> bytes,
                      const PictureReadOptions& options) {
    if (!JpegReadHeader(&decoder, bytes, options.AutoOrient, options.Metadata != nullptr)) {
        throw EngineError(decoder.trap.message);
    }
    JpegMetadata metadata;
    if ((options.AutoOrient || options.Metadata != nullptr) &&
        !JpegCollectMetadata(&decoder, &metadata)) {
        throw EngineError(decoder.trap.message);
    }
    return metadata;
}

std::uint64_t CheckJpegClaims(const jpeg_decompress_struct& info, std::size_t fileBytes,
                              const PictureReadOptions& options) {
    const std::int64_t width = info.output_width;
    const std::int64_t height = info.output_height;
    CheckPixelCount(width, height, options);
    const auto pixels = static_cast<std::uint64_t>(width * height);
    // Arithmetic coding adapts to a uniform picture until a block costs next to nothing, so no
    // such floor holds for it: the memory check alone bounds those files.
    if (info.arith_code == FALSE && pixels > SaturatingTimes(MaxPixelsPerFileByte, fileBytes)) {
        throw EngineError("The JPEG file is too small for the size its header gives (" +
                          std::to_string(width) + " x " + std::to_string(height) + ")");
    }
    return pixels;
}

// A file of several scans keeps every coefficient (64 of 2 bytes a block), as does block
// smoothing over them.
std::uint64_t JpegDecoderBytes(jpeg_decompress_struct& info) {
    std::uint64_t bytes =
        SaturatingTimes(static_cast<std::uint64_t>(info.output_width) *
                            static_cast<std::uint64_t>(info.num_components),
                        static_cast<std::uint64_t>(info.max_v_samp_factor) * DCTSIZE * 4);
    if (jpeg_has_multiple_scans(&info) != FALSE) {
        for (int c = 0; c < info.num_components; ++c) {
            const jpeg_component_info& component = info.comp_info[c];
            const auto round = [](std::uint64_t n, std::uint64_t m) { return (n + m - 1) / m * m; };
            bytes += round(component.width_in_blocks, component.h_samp_factor) *
                     round(component.height_in_blocks, component.v_samp_factor) * DCTSIZE2 *
                     sizeof(JCOEF);
        }
    }
    return bytes;
}

JSAMPARRAY JpegStart(JpegDecoder& decoder) {
    jpeg_decompress_struct& info = decoder.info;
    jpeg_start_decompress(&info);
    if (decoder.layout == JpegLayout::Colour) {
        return nullptr;
    }
    return (*info.mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
        info.output_width * static_cast<JDIMENSION>(info.out_color_components), 1);
}

bool JpegReadRow(JpegDecoder& decoder, JSAMPARRAY scratch, TColor32* row) {
    JSAMPROW into = scratch != nullptr ? scratch[0] : reinterpret_cast<JSAMPROW>(row);
    if (jpeg_read_scanlines(&decoder.info, &into, 1) != 1) {
        return false;
    }
    ConvertJpegRow(decoder, into, row, decoder.info.output_width);
    return true;
}

} // namespace tintavo::detail
