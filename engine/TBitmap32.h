#pragma once

#include "engine/TColor32.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

namespace tintavo {

// A 32-bit pixel buffer: Width x Height TColor32 in one contiguous array, row-major with the
// top row first; the pixel at (x, y) is element x + y * Width. Empty (no array) when either
// side is 0. A view shows a buffer scaled with nearest-neighbour sampling.
class TBitmap32 {
public:
    TBitmap32() = default;
    TBitmap32(const TBitmap32&) = delete;
    TBitmap32& operator=(const TBitmap32&) = delete;
    TBitmap32(TBitmap32&&) = default;
    TBitmap32& operator=(TBitmap32&&) = default;
    ~TBitmap32() = default;

    std::int32_t Width() const { return width_; }
    std::int32_t Height() const { return height_; }
    bool IsEmpty() const { return width_ == 0 || height_ == 0; }

    // Sets the size; a negative value counts as 0. The same size changes nothing, pixels
    // included. Otherwise the old pixels are released and, when both sides are above 0, a new
    // array of unspecified content is allocated. When the memory cannot be had, raises
    // EngineError "Can't allocate the DIB handle" and leaves the buffer empty (0 x 0).
    void Resize(std::int32_t width, std::int32_t height);
    void SetWidth(std::int32_t width) { Resize(width, height_); }
    void SetHeight(std::int32_t height) { Resize(width_, height); }

    // Direct element access with no range check: the caller guarantees 0 <= x < Width and
    // 0 <= y < Height. No change notification.
    TColor32 PixelAt(std::int32_t x, std::int32_t y) const {
        return pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                       static_cast<std::size_t>(x)];
    }
    void SetPixelAt(std::int32_t x, std::int32_t y, TColor32 col) {
        pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                static_cast<std::size_t>(x)] = col;
    }

    // The whole array (nullptr when empty), Width * Height pixels, and one row of it.
    TColor32* Bits() { return pixels_.get(); }
    const TColor32* Bits() const { return pixels_.get(); }
    TColor32* ScanLine(std::int32_t y) { return Bits() + RowOffset(y); }
    const TColor32* ScanLine(std::int32_t y) const { return Bits() + RowOffset(y); }
    std::size_t PixelCount() const {
        return static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    }

    // Takes the size (through Resize) and a copy of all pixels of `source`; nullptr empties
    // the buffer. The two buffers are independent afterwards. Copying from itself changes
    // nothing.
    void CopyFrom(const TBitmap32* source);

    // Replaces size and content with the picture in the file (a JPEG, or a Windows bitmap
    // when the file starts with "BM"). See ReadPictureFile in engine/PictureReader.h.
    void ReadPictureFile(const std::filesystem::path& path);

    // The change notification: called after the buffer has been resized (to another size),
    // copied into or read from a file, never per pixel. A view repaints from it. Pixel writes
    // through SetPixelAt or Bits() are announced by the writer calling Changed(). The hook
    // must not throw: it also runs while an error unwinds.
    void SetOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }
    void Changed() const {
        if (onChange_) {
            onChange_();
        }
    }

private:
    std::size_t RowOffset(std::int32_t y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_);
    }

    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::unique_ptr<TColor32[]> pixels_;
    std::function<void()> onChange_;
};

} // namespace tintavo
