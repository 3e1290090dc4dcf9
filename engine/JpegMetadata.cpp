#include "engine/JpegMetadata.h"

#include "engine/EngineError.h"
#include "engine/MemoryBudget.h"

#include <libexif/exif-data.h>
#include <libexif/exif-utils.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace tintavo {

namespace {

constexpr unsigned char ExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::size_t TiffStart = sizeof ExifHeader;
constexpr unsigned OrientationTag = 0x0112;

struct ExifDataUnref {
    void operator()(ExifData* data) const { exif_data_unref(data); }
};
using ExifDataPtr = std::unique_ptr<ExifData, ExifDataUnref>;

struct FreeBytes {
    void operator()(void* bytes) const { std::free(bytes); }
};

ExifDataPtr LoadExif(std::span<const std::uint8_t> payload) {
    if (payload.size() <= TiffStart || payload.size() > UINT_MAX ||
        std::memcmp(payload.data(), ExifHeader, TiffStart) != 0) {
        return nullptr;
    }
    ExifDataPtr data(exif_data_new());
    if (!data) {
        return nullptr;
    }
    // Read what is stored: libexif's option 1 << 1 (exif-data.h), on by default, makes loading
    // "fix" the data to the EXIF standard, adding entries and converting their formats.
    exif_data_unset_option(data.get(), static_cast<ExifDataOption>(1 << 1));
    exif_data_load_data(data.get(), payload.data(), static_cast<unsigned>(payload.size()));
    return data;
}

// The orientation entry of IFD0 when it has the form the standard gives it: one SHORT.
ExifEntry* OrientationEntry(ExifData* data) {
    ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    if (entry == nullptr || entry->format != EXIF_FORMAT_SHORT || entry->components != 1 ||
        entry->size < 2 || entry->data == nullptr) {
        return nullptr;
    }
    return entry;
}

int OrientationOf(ExifData* data) {
    const ExifEntry* entry = OrientationEntry(data);
    if (entry == nullptr) {
        return 1;
    }
    const int value = exif_get_short(entry->data, exif_data_get_byte_order(data));
    return value >= 1 && value <= 8 ? value : 1;
}

// Where IFD0 keeps the value of the orientation entry, found in the entry table libexif read
// it from; nullopt when the table does not hold it as one SHORT.
std::optional<std::size_t> OrientationValueAt(std::span<const std::uint8_t> payload,
                                              ExifByteOrder order) {
    const std::span<const std::uint8_t> tiff = payload.subspan(TiffStart);
    if (tiff.size() < 8) {
        return std::nullopt;
    }
    const std::uint64_t ifd = exif_get_long(tiff.data() + 4, order);
    if (ifd + 2 > tiff.size()) {
        return std::nullopt;
    }
    const unsigned count = exif_get_short(tiff.data() + ifd, order);
    for (std::uint64_t i = 0, at = ifd + 2; i < count && at + 12 <= tiff.size(); ++i, at += 12) {
        const std::uint8_t* entry = tiff.data() + at;
        if (exif_get_short(entry, order) == OrientationTag &&
            exif_get_short(entry + 2, order) == EXIF_FORMAT_SHORT &&
            exif_get_long(entry + 4, order) == 1) {
            return TiffStart + at + 8;
        }
    }
    return std::nullopt;
}

// Writes stored rows [first, first + rows) of a width x height picture into `upright`, turned
// by `orientation` (5 to 8: `upright` is height x width).
void PlaceRows(TColor32* upright, int orientation, std::size_t width, std::size_t height,
               std::size_t first, std::size_t rows, const TColor32* stored) {
    for (std::size_t x = 0; x < width; ++x) {
        const std::size_t v = orientation == 5 || orientation == 6 ? x : width - 1 - x;
        TColor32* line = upright + v * height;
        for (std::size_t r = 0; r < rows; ++r) {
            const std::size_t y = first + r;
            const std::size_t u = orientation == 5 || orientation == 8 ? y : height - 1 - y;
            line[u] = stored[r * width + x];
        }
    }
}

} // namespace

int ExifOrientation(std::span<const std::uint8_t> exifPayload) {
    const ExifDataPtr data = LoadExif(exifPayload);
    return data ? OrientationOf(data.get()) : 1;
}

void OrientUpright(TBitmap32& bitmap, int orientation) {
    if (bitmap.IsEmpty() || orientation < 2 || orientation > 8) {
        return;
    }
    const auto width = static_cast<std::size_t>(bitmap.Width());
    const auto height = static_cast<std::size_t>(bitmap.Height());
    TColor32* bits = bitmap.Bits();
    if (orientation <= 4) {
        if (orientation == 3) {
            std::reverse(bits, bits + bitmap.PixelCount());
        } else if (orientation == 2) {
            for (std::size_t y = 0; y < height; ++y) {
                std::reverse(bits + y * width, bits + (y + 1) * width);
            }
        } else {
            for (std::size_t y = 0; y < height / 2; ++y) {
                std::swap_ranges(bits + y * width, bits + (y + 1) * width,
                                 bits + (height - 1 - y) * width);
            }
        }
        bitmap.Changed();
        return;
    }
    RequireMemory(bitmap.PixelCount() * sizeof(TColor32));
    TBitmap32 turned;
    turned.Resize(bitmap.Height(), bitmap.Width());
    detail::PlaceStoredRows(turned, orientation, bitmap.Width(), bitmap.Height(), 0,
                            bitmap.Height(), bits);
    bitmap.CopyFrom(&turned);
}

std::vector<std::uint8_t> ExifWithOrientationOne(std::span<const std::uint8_t> exifPayload) {
    std::vector<std::uint8_t> out(exifPayload.begin(), exifPayload.end());
    const ExifDataPtr data = LoadExif(exifPayload);
    if (!data || OrientationOf(data.get()) == 1) {
        return out;
    }
    const ExifByteOrder order = exif_data_get_byte_order(data.get());
    if (const auto at = OrientationValueAt(exifPayload, order)) {
        exif_set_short(out.data() + *at, order, 1);
        return out;
    }
    // libexif found the entry where a plain walk of the table does not: let it write the block.
    exif_set_short(OrientationEntry(data.get())->data, order, 1);
    unsigned char* saved = nullptr;
    unsigned int size = 0;
    exif_data_save_data(data.get(), &saved, &size);
    const std::unique_ptr<unsigned char, FreeBytes> owned(saved);
    if (saved != nullptr && size > TiffStart) {
        out.assign(saved, saved + size);
    }
    return out;
}

void SaveMetadataMarkers(jpeg_decompress_struct& decoder) {
    jpeg_save_markers(&decoder, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&decoder, JPEG_APP0 + 2, 0xFFFF);
}

JpegMetadata CollectJpegMetadata(jpeg_decompress_struct& decoder) {
    // First, while nothing with a destructor lives here: libjpeg may leave by its error exit.
    JOCTET* icc = nullptr;
    unsigned int iccLength = 0;
    const bool hasIcc = jpeg_read_icc_profile(&decoder, &icc, &iccLength) != FALSE;
    const std::unique_ptr<JOCTET, FreeBytes> ownedIcc(icc);

    JpegMetadata metadata;
    if (hasIcc && icc != nullptr) {
        metadata.Icc.assign(icc, icc + iccLength);
    }
    for (jpeg_saved_marker_ptr marker = decoder.marker_list; marker != nullptr;
         marker = marker->next) {
        if (marker->marker == JPEG_APP0 + 1 && marker->data_length >= TiffStart &&
            std::memcmp(marker->data, ExifHeader, TiffStart) == 0) {
            metadata.Exif.assign(marker->data, marker->data + marker->data_length);
            break;
        }
    }
    metadata.Orientation = ExifOrientation(metadata.Exif);
    return metadata;
}

namespace detail {

void PlaceStoredRows(TBitmap32& upright, int orientation, std::int32_t width, std::int32_t height,
                     std::int32_t first, std::int32_t rows, const TColor32* stored) {
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    TColor32* bits = upright.Bits();
    if (orientation >= 5 && orientation <= 8) {
        PlaceRows(bits, orientation, w, h, static_cast<std::size_t>(first),
                  static_cast<std::size_t>(rows), stored);
        return;
    }
    for (std::int32_t r = 0; r < rows; ++r) {
        const std::size_t y = static_cast<std::size_t>(first + r);
        const bool flip = orientation == 3 || orientation == 4;
        const bool mirror = orientation == 2 || orientation == 3;
        TColor32* line = bits + (flip ? h - 1 - y : y) * w;
        const TColor32* in = stored + static_cast<std::size_t>(r) * w;
        if (mirror) {
            std::reverse_copy(in, in + w, line);
        } else {
            std::copy_n(in, w, line);
        }
    }
}

} // namespace detail

} // namespace tintavo
