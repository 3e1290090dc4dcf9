#include "engine/JpegWriter.h"

#include "engine/EngineError.h"
#include "engine/JpegTrap.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <jerror.h>

namespace tintavo {

namespace {

// A destination that grows one malloc'd block, so the stream is built in memory and the
// block stays reachable (and is freed) whichever way encoding ends.
struct MemoryDestination {
    jpeg_destination_mgr manager;
    JOCTET* data;
    std::size_t capacity;
    std::size_t size;
};

void StartDestination(j_compress_ptr info) {
    auto* dest = reinterpret_cast<MemoryDestination*>(info->dest);
    dest->manager.next_output_byte = dest->data;
    dest->manager.free_in_buffer = dest->capacity;
}

boolean GrowDestination(j_compress_ptr info) {
    auto* dest = reinterpret_cast<MemoryDestination*>(info->dest);
    const std::size_t capacity = dest->capacity * 2;
    auto* grown = static_cast<JOCTET*>(std::realloc(dest->data, capacity));
    if (grown == nullptr) {
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    }
    dest->data = grown;
    dest->manager.next_output_byte = grown + dest->capacity;
    dest->manager.free_in_buffer = capacity - dest->capacity;
    dest->capacity = capacity;
    return TRUE;
}

void FinishDestination(j_compress_ptr info) {
    auto* dest = reinterpret_cast<MemoryDestination*>(info->dest);
    dest->size = dest->capacity - dest->manager.free_in_buffer;
}

struct JpegEncoder {
    jpeg_compress_struct info;
    detail::JpegTrap trap;
    MemoryDestination dest;
};

// Calls into libjpeg; see JpegTrap.h for why it looks like this. The buffer's pixels go in as
// they are stored (blue, green, red, one byte unused): libjpeg converts them exactly as it
// converts RGB rows, with one copy fewer.
bool JpegEncodeRows(JpegEncoder* encoder, const TColor32* pixels, JDIMENSION width,
                    JDIMENSION height) {
    if (setjmp(encoder->trap.jump) != 0) {
        return false;
    }
    jpeg_compress_struct& info = encoder->info;
    jpeg_create_compress(&info);
    info.dest = &encoder->dest.manager;
    info.image_width = width;
    info.image_height = height;
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, ExportJpegQuality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        // libjpeg takes non-const rows but only reads them.
        JSAMPROW row = reinterpret_cast<JSAMPROW>(
            const_cast<TColor32*>(pixels + static_cast<std::size_t>(info.next_scanline) * width));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    return true;
}

struct JpegEncoderGuard {
    JpegEncoder* encoder;
    ~JpegEncoderGuard() {
        jpeg_destroy_compress(&encoder->info);
        std::free(encoder->dest.data);
    }
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

std::vector<std::uint8_t> EncodeJpeg(const TBitmap32& picture) {
    if (picture.IsEmpty()) {
        throw EngineError("Cannot encode an empty picture as JPEG");
    }
    if (picture.Width() > JPEG_MAX_DIMENSION || picture.Height() > JPEG_MAX_DIMENSION) {
        throw EngineError("The picture is too large for a JPEG file (at most " +
                          std::to_string(JPEG_MAX_DIMENSION) + " pixels a side)");
    }
    auto encoder = std::make_unique<JpegEncoder>();
    std::memset(encoder.get(), 0, sizeof(JpegEncoder));
    encoder->info.err = detail::ArmJpegTrap(encoder->trap);
    const JpegEncoderGuard guard{encoder.get()};

    // A quarter of the raw size covers most photographs at this quality without growing.
    MemoryDestination& dest = encoder->dest;
    dest.capacity = std::max<std::size_t>(picture.PixelCount() / 4, 64 * 1024);
    dest.data = static_cast<JOCTET*>(std::malloc(dest.capacity));
    if (dest.data == nullptr) {
        throw EngineError("Not enough memory to encode the picture");
    }
    dest.manager.init_destination = StartDestination;
    dest.manager.empty_output_buffer = GrowDestination;
    dest.manager.term_destination = FinishDestination;

    if (!JpegEncodeRows(encoder.get(), picture.Bits(), static_cast<JDIMENSION>(picture.Width()),
                        static_cast<JDIMENSION>(picture.Height()))) {
        throw EngineError(std::string("Cannot encode the picture: ") + encoder->trap.message);
    }
    return std::vector<std::uint8_t>(dest.data, dest.data + dest.size);
}

void WriteJpegFile(const TBitmap32& picture, const std::filesystem::path& path) {
    const std::vector<std::uint8_t> stream = EncodeJpeg(picture);
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        throw EngineError("Cannot create " + path.string() + ": " + std::strerror(errno));
    }
    if (std::fwrite(stream.data(), 1, stream.size(), file.get()) != stream.size() ||
        std::fflush(file.get()) != 0) {
        throw EngineError("Cannot write " + path.string() + ": " + std::strerror(errno));
    }
    if (std::fclose(file.release()) != 0) {
        throw EngineError("Cannot write " + path.string() + ": " + std::strerror(errno));
    }
}

} // namespace tintavo
