#include "engine/JpegWriter.h"

#include "engine/EngineError.h"
#include "engine/JpegTrap.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <jerror.h>

namespace tintavo {

struct JpegRowEncoder::State {
    // What libjpeg works on: plain C structures, zeroed before use.
    struct Codec {
        jpeg_compress_struct info;
        detail::JpegTrap trap;
    };
    Codec codec;
    std::FILE* file = nullptr;
    JpegEncodeSettings settings;
    // The memory form: libjpeg's memory destination starts in `initial`, a block of ours, and
    // moves to blocks of its own as the stream outgrows it; `data` is where it ends. (When
    // encoding fails after such a move, which only running out of memory does, the block
    // libjpeg moved to is lost: it keeps no way to reach it.)
    unsigned char* initial = nullptr;
    unsigned char* data = nullptr;
    unsigned long size = 0;
    JDIMENSION width = 0;
    bool created = false;
    bool started = false;
    bool finished = false;
    bool writeFailed = false;
};

namespace {

using State = JpegRowEncoder::State;

// The functions that call into libjpeg; see JpegTrap.h for why they look like this. The
// buffer's pixels go in as they are stored (blue, green, red, one byte unused): libjpeg
// converts them exactly as it converts RGB rows, with one copy fewer.
bool JpegStart(State* state, JDIMENSION width, JDIMENSION height) {
    if (setjmp(state->codec.trap.jump) != 0) {
        return false;
    }
    jpeg_compress_struct& info = state->codec.info;
    jpeg_create_compress(&info);
    state->created = true;
    if (state->file != nullptr) {
        jpeg_stdio_dest(&info, state->file);
    } else {
        state->size = static_cast<unsigned long>(
            std::max<std::size_t>(static_cast<std::size_t>(width) * height / 4, 64 * 1024));
        state->initial = static_cast<unsigned char*>(std::malloc(state->size));
        if (state->initial == nullptr) {
            ERREXIT1(&info, JERR_OUT_OF_MEMORY, 0);
        }
        state->data = state->initial;
        jpeg_mem_dest(&info, &state->data, &state->size);
    }
    info.image_width = width;
    info.image_height = height;
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, state->settings.Quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    const std::vector<std::uint8_t>& exif = state->settings.Exif;
    if (!exif.empty()) {
        jpeg_write_marker(&info, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
    }
    const std::vector<std::uint8_t>& icc = state->settings.Icc;
    if (!icc.empty()) {
        jpeg_write_icc_profile(&info, icc.data(), static_cast<unsigned>(icc.size()));
    }
    return true;
}

bool JpegWrite(State* state, const TColor32* rows, JDIMENSION count) {
    if (setjmp(state->codec.trap.jump) != 0) {
        return false;
    }
    jpeg_compress_struct& info = state->codec.info;
    JSAMPROW pointers[16];
    JDIMENSION done = 0;
    while (done < count && info.next_scanline < info.image_height) {
        const JDIMENSION batch = std::min<JDIMENSION>(count - done, 16);
        for (JDIMENSION i = 0; i < batch; ++i) {
            // libjpeg takes non-const rows but only reads them.
            pointers[i] = reinterpret_cast<JSAMPROW>(
                const_cast<TColor32*>(rows + static_cast<std::size_t>(done + i) * state->width));
        }
        done += jpeg_write_scanlines(&info, pointers, batch);
    }
    return true;
}

bool JpegFinish(State* state) {
    if (setjmp(state->codec.trap.jump) != 0) {
        return false;
    }
    jpeg_finish_compress(&state->codec.info);
    return true;
}

[[noreturn]] void Failed(const State& state) {
    if (state.codec.trap.manager.msg_code == JERR_FILE_WRITE) {
        throw EngineError("cannot write the file");
    }
    throw EngineError(std::string("Cannot encode the picture: ") + state.codec.trap.message);
}

} // namespace

JpegRowEncoder::JpegRowEncoder(std::FILE* file, JpegEncodeSettings settings)
    : state_(std::make_unique<State>()) {
    std::memset(&state_->codec, 0, sizeof state_->codec);
    state_->codec.info.err = detail::ArmJpegTrap(state_->codec.trap);
    state_->file = file;
    state_->settings = std::move(settings);
}

JpegRowEncoder::JpegRowEncoder(JpegEncodeSettings settings)
    : JpegRowEncoder(nullptr, std::move(settings)) {}

JpegRowEncoder::~JpegRowEncoder() {
    if (state_->created) {
        jpeg_destroy_compress(&state_->codec.info);
    }
    if (state_->data != state_->initial) {
        std::free(state_->data);
    }
    std::free(state_->initial);
}

void JpegRowEncoder::Start(std::int32_t width, std::int32_t height) {
    if (state_->started) {
        throw EngineError("The JPEG encoder has already started");
    }
    if (width <= 0 || height <= 0) {
        throw EngineError("Cannot encode an empty picture as JPEG");
    }
    if (width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) {
        throw EngineError("The picture is too large for a JPEG file (at most " +
                          std::to_string(JPEG_MAX_DIMENSION) + " pixels a side)");
    }
    const int quality = state_->settings.Quality;
    if (quality < 1 || quality > 100) {
        throw EngineError("The JPEG quality must be 1 to 100, not " + std::to_string(quality));
    }
    state_->started = true;
    state_->width = static_cast<JDIMENSION>(width);
    if (!JpegStart(state_.get(), static_cast<JDIMENSION>(width), static_cast<JDIMENSION>(height))) {
        state_->writeFailed = true;
        Failed(*state_);
    }
}

void JpegRowEncoder::WriteRows(const TColor32* rows, std::int32_t count) {
    if (!state_->started || state_->writeFailed) {
        throw EngineError("The JPEG encoder cannot take rows now");
    }
    if (count > 0 && !JpegWrite(state_.get(), rows, static_cast<JDIMENSION>(count))) {
        state_->writeFailed = true;
        Failed(*state_);
    }
}

void JpegRowEncoder::Finish() {
    if (!state_->started || state_->writeFailed ||
        state_->codec.info.next_scanline < state_->codec.info.image_height) {
        throw EngineError("The JPEG encoder has not had all its rows");
    }
    if (!JpegFinish(state_.get())) {
        state_->writeFailed = true;
        Failed(*state_);
    }
    state_->finished = true;
}

std::vector<std::uint8_t> JpegRowEncoder::TakeStream() {
    if (!state_->finished || state_->file != nullptr) {
        return {};
    }
    return std::vector<std::uint8_t>(state_->data, state_->data + state_->size);
}

std::vector<std::uint8_t> EncodeJpeg(const TBitmap32& picture, const JpegEncodeSettings& settings) {
    JpegRowEncoder encoder(settings);
    encoder.Start(picture.Width(), picture.Height());
    encoder.WriteRows(picture.Bits(), picture.Height());
    encoder.Finish();
    return encoder.TakeStream();
}

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

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
