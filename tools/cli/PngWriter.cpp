#include "PngWriter.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace tintavo::cli {

namespace {

// libpng reports errors by a callback that must not return; it longjmps back to the setjmp
// in WriteRows, a function that holds no object with a destructor.
struct PngTrap {
    char message[256];
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
    auto* trap = static_cast<PngTrap*>(png_get_error_ptr(png));
    std::snprintf(trap->message, sizeof trap->message, "%s", message);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

bool WriteRows(png_structp png, png_infop info, std::FILE* file, const TBitmap32* picture,
               bool grey, png_bytep row) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_init_io(png, file);
    const auto width = static_cast<png_uint_32>(picture->Width());
    png_set_IHDR(png, info, width, static_cast<png_uint_32>(picture->Height()), 8,
                 grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (std::int32_t y = 0; y < picture->Height(); ++y) {
        const TColor32* in = picture->ScanLine(y);
        for (png_uint_32 x = 0; x < width; ++x) {
            if (grey) {
                row[x] = static_cast<png_byte>(RedOf(in[x]));
            } else {
                row[3 * x] = static_cast<png_byte>(RedOf(in[x]));
                row[3 * x + 1] = static_cast<png_byte>(GreenOf(in[x]));
                row[3 * x + 2] = static_cast<png_byte>(BlueOf(in[x]));
            }
        }
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    return true;
}

} // namespace

void WritePng(const TBitmap32& picture, std::FILE* file, bool grey) {
    if (picture.IsEmpty()) {
        throw std::runtime_error("cannot write an empty picture as PNG");
    }
    PngTrap trap{};
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &trap, OnPngError, OnPngWarning);
    if (png == nullptr) {
        throw std::runtime_error("cannot start the PNG encoder");
    }
    png_infop info = png_create_info_struct(png);
    struct Guard {
        png_structp& png;
        png_infop& info;
        ~Guard() { png_destroy_write_struct(&png, &info); }
    } guard{png, info};
    if (info == nullptr) {
        throw std::runtime_error("cannot start the PNG encoder");
    }
    std::vector<png_byte> row(static_cast<std::size_t>(picture.Width()) * (grey ? 1 : 3));
    if (!WriteRows(png, info, file, &picture, grey, row.data())) {
        throw std::runtime_error(std::string("cannot write the PNG: ") + trap.message);
    }
}

} // namespace tintavo::cli
