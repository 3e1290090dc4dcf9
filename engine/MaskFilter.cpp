#include "engine/MaskFilter.h"

#include "engine/EngineError.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tintavo {

namespace {

// Erosion and fill share one engine: a pixel of the colour the pass works on (`from`) turns
// into the other one when its count of white neighbours says so. Either rule is monotone:
// erosion only removes white, fill only adds it, so a pixel that qualifies keeps qualifying
// until it changes. The pass therefore ends in the same mask whatever the order of the
// changes, and only the pixels around a change need looking at again.
//
// One raster scan visits every interior pixel once, changing it at once when it qualifies.
// Neighbours of a change that the scan has not reached yet will be visited anyway; the ones it
// has already passed go on a stack and are checked again straight away. Every pixel changes at
// most once and each change pushes at most eight pixels, so the work is linear in the size of
// the mask.
class MaskPass {
public:
    MaskPass(TBitmap32& mask, bool erode)
        : pixels_(mask.Bits()), width_(static_cast<std::size_t>(mask.Width())),
          height_(static_cast<std::size_t>(mask.Height())), erode_(erode),
          from_(erode ? MaskKept : MaskGreyed), to_(erode ? MaskGreyed : MaskKept) {}

    void Run() {
        for (std::size_t y = 1; y + 1 < height_; ++y) {
            const std::size_t rowStart = y * width_;
            for (std::size_t i = rowStart + 1; i + 1 < rowStart + width_; ++i) {
                if (pixels_[i] == from_ && Qualifies(i)) {
                    Change(i, i);
                    Drain(i);
                }
            }
        }
    }

private:
    // Each pixel is MaskKept (all bits set) or MaskGreyed (low bit clear).
    unsigned WhiteNeighbours(std::size_t i) const {
        const TColor32* up = pixels_ + i - width_;
        const TColor32* row = pixels_ + i;
        const TColor32* down = pixels_ + i + width_;
        return (up[-1] & 1u) + (up[0] & 1u) + (up[1] & 1u) + (row[-1] & 1u) + (row[1] & 1u) +
               (down[-1] & 1u) + (down[0] & 1u) + (down[1] & 1u);
    }

    // Erosion: fewer than three white neighbours (S < 765). Fill: five or more (S > 1020).
    bool Qualifies(std::size_t i) const {
        const unsigned white = WhiteNeighbours(i);
        return erode_ ? white < 3 : white > 4;
    }

    // Changes pixel i and queues the neighbours the scan at `cursor` has already passed.
    void Change(std::size_t i, std::size_t cursor) {
        pixels_[i] = to_;
        const std::size_t x = i % width_;
        const std::size_t y = i / width_;
        for (std::size_t ny = y - 1; ny <= y + 1; ++ny) {
            if (ny == 0 || ny + 1 >= height_) {
                continue;
            }
            for (std::size_t nx = x - 1; nx <= x + 1; ++nx) {
                const std::size_t n = ny * width_ + nx;
                if (nx == 0 || nx + 1 >= width_ || n >= cursor || pixels_[n] != from_) {
                    continue;
                }
                stack_.push_back(n);
            }
        }
    }

    void Drain(std::size_t cursor) {
        while (!stack_.empty()) {
            const std::size_t i = stack_.back();
            stack_.pop_back();
            if (pixels_[i] == from_ && Qualifies(i)) {
                Change(i, cursor);
            }
        }
    }

    TColor32* pixels_;
    std::size_t width_;
    std::size_t height_;
    bool erode_;
    TColor32 from_;
    TColor32 to_;
    std::vector<std::size_t> stack_;
};

void CheckMask(const TBitmap32& mask) {
    const TColor32* pixels = mask.Bits();
    const std::size_t count = mask.PixelCount();
    bool valid = true;
    for (std::size_t i = 0; i < count; ++i) {
        valid &= pixels[i] == MaskKept || pixels[i] == MaskGreyed;
    }
    if (!valid) {
        throw EngineError("The mask holds a pixel that is neither opaque black nor opaque white");
    }
}

void RunPass(TBitmap32& mask, bool erode) {
    if (mask.Width() < 3 || mask.Height() < 3) {
        return;
    }
    MaskPass(mask, erode).Run();
}

} // namespace

void ErodeMask(TBitmap32& mask) {
    CheckMask(mask);
    RunPass(mask, true);
}

void FillMask(TBitmap32& mask) {
    CheckMask(mask);
    RunPass(mask, false);
}

void FilterMask(TBitmap32& mask) {
    CheckMask(mask);
    RunPass(mask, true);
    RunPass(mask, false);
}

void RecomposePicture(const TBitmap32& source, const TBitmap32& mask, TBitmap32& render) {
    if (source.Width() != mask.Width() || source.Height() != mask.Height()) {
        throw EngineError("The picture and the mask differ in size");
    }
    render.Resize(mask.Width(), mask.Height());
    const TColor32* in = source.Bits();
    const TColor32* keep = mask.Bits();
    TColor32* out = render.Bits();
    const std::size_t count = mask.PixelCount();
    for (std::size_t i = 0; i < count; ++i) {
        const TColor32 col = in[i];
        out[i] = keep[i] == MaskGreyed ? Desaturate(col) : col;
    }
}

} // namespace tintavo
