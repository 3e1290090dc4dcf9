#include "engine/TBitmap32.h"

#include "engine/EngineError.h"
#include "engine/PictureReader.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <new>

namespace tintavo {

namespace {

// More than the machine's memory is refused up front: with over-commit the allocation would
// "succeed" and the first pass over the pixels would bring the process down instead.
bool FitsInMemory(std::uint64_t bytes) {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) {
        return true;
    }
    return bytes <= static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

} // namespace

void TBitmap32::Resize(std::int32_t width, std::int32_t height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == width_ && height == height_) {
        return;
    }
    pixels_.reset();
    width_ = 0;
    height_ = 0;
    if (width > 0 && height > 0) {
        const std::uint64_t count = static_cast<std::uint64_t>(width) * height;
        // Pixel indices stay within a signed 32-bit count, as x + y * Width always fits.
        if (count > INT32_MAX || !FitsInMemory(count * sizeof(TColor32))) {
            Changed();
            throw EngineError("Can't allocate the DIB handle");
        }
        pixels_.reset(new (std::nothrow) TColor32[count]);
        if (!pixels_) {
            Changed();
            throw EngineError("Can't allocate the DIB handle");
        }
    }
    width_ = width;
    height_ = height;
    Changed();
}

void TBitmap32::CopyFrom(const TBitmap32* source) {
    if (source == this) {
        return;
    }
    if (source == nullptr) {
        Resize(0, 0);
    } else {
        Resize(source->width_, source->height_);
        std::copy_n(source->Bits(), PixelCount(), Bits());
    }
    Changed();
}

void TBitmap32::ReadPictureFile(const std::filesystem::path& path) {
    tintavo::ReadPictureFile(*this, path);
}

} // namespace tintavo
