#include "TestPictures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>

namespace tintavo::test {

TBitmap32 MakePhoto(std::int32_t width, std::int32_t height, std::uint32_t seed) {
    TBitmap32 picture;
    picture.Resize(width, height);
    TestRandom random(seed);
    // A few soft discs of saturated colour over a sky-to-ground gradient.
    struct Disc {
        double cx, cy, radius;
        std::uint32_t r, g, b;
    };
    std::vector<Disc> discs;
    for (int i = 0; i < 6; ++i) {
        discs.push_back({random.Below(1000) / 1000.0 * width, random.Below(1000) / 1000.0 * height,
                         (0.05 + random.Below(1000) / 5000.0) * std::min(width, height),
                         random.Below(256), random.Below(256), random.Below(256)});
    }
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const double fy = height > 1 ? static_cast<double>(y) / (height - 1) : 0.0;
            const double fx = width > 1 ? static_cast<double>(x) / (width - 1) : 0.0;
            double r = 90 + 80 * fy + 30 * std::sin(fx * 7.0);
            double g = 140 + 60 * fy * fx;
            double b = 220 - 150 * fy;
            for (const Disc& d : discs) {
                const double dx = x - d.cx;
                const double dy = y - d.cy;
                const double t = 1.0 - std::sqrt(dx * dx + dy * dy) / d.radius;
                if (t > 0) {
                    const double w = std::min(1.0, t * 4.0);
                    r = r * (1 - w) + d.r * w;
                    g = g * (1 - w) + d.g * w;
                    b = b * (1 - w) + d.b * w;
                }
            }
            const int noise = static_cast<int>(random.Below(9)) - 4;
            const auto channel = [noise](double v) {
                return static_cast<std::uint32_t>(std::clamp(static_cast<int>(v) + noise, 0, 255));
            };
            picture.SetPixelAt(x, y, 0xFF000000u | channel(r) << 16 | channel(g) << 8 | channel(b));
        }
    }
    return picture;
}

TBitmap32 MakeFilled(std::int32_t width, std::int32_t height, TColor32 col) {
    TBitmap32 picture;
    picture.Resize(width, height);
    std::fill_n(picture.Bits(), picture.PixelCount(), col);
    return picture;
}

TBitmap32 ShadedBall(std::int32_t size, double radius, std::size_t& ballPixels) {
    TBitmap32 picture = MakeFilled(size, size, 0xFF5A6478u);
    ballPixels = 0;
    const double centre = size / 2;
    for (std::int32_t y = 0; y < size; ++y) {
        for (std::int32_t x = 0; x < size; ++x) {
            const double dx = (x - centre) / radius;
            const double dy = (y - centre) / radius;
            if (dx * dx + dy * dy <= 1) {
                const double light = 0.2 + 0.8 * (1 - (dx + 1) / 2);
                picture.SetPixelAt(x, y,
                                   0xFF000000u | static_cast<TColor32>(220 * light) << 16 |
                                       static_cast<TColor32>(40 * light) << 8 |
                                       static_cast<TColor32>(30 * light));
                ++ballPixels;
            }
        }
    }
    return picture;
}

std::string EncodeReferenceJpeg(const TBitmap32& picture, const JpegSettings& settings) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(picture.Width());
    info.image_height = static_cast<JDIMENSION>(picture.Height());
    info.input_components = settings.Grey ? 1 : 3;
    info.in_color_space = settings.Grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, settings.Quality, settings.ForceBaseline ? TRUE : FALSE);
    if (settings.Progressive) {
        jpeg_simple_progression(&info);
    }
    info.arith_code = settings.Arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(picture.Width()) * 3);
    while (info.next_scanline < info.image_height) {
        const auto y = static_cast<std::int32_t>(info.next_scanline);
        for (std::int32_t x = 0; x < picture.Width(); ++x) {
            const TColor32 col = picture.PixelAt(x, y);
            if (settings.Grey) {
                row[static_cast<std::size_t>(x)] = static_cast<JSAMPLE>(RedOf(col));
            } else {
                row[3 * static_cast<std::size_t>(x)] = static_cast<JSAMPLE>(RedOf(col));
                row[3 * static_cast<std::size_t>(x) + 1] = static_cast<JSAMPLE>(GreenOf(col));
                row[3 * static_cast<std::size_t>(x) + 2] = static_cast<JSAMPLE>(BlueOf(col));
            }
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string bytes(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return bytes;
}

TBitmap32 DecodeReferenceJpeg(const std::string& bytes) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    TBitmap32 picture;
    picture.Resize(static_cast<std::int32_t>(info.output_width),
                   static_cast<std::int32_t>(info.output_height));
    std::vector<JSAMPLE> row(static_cast<std::size_t>(info.output_width) * 3);
    while (info.output_scanline < info.output_height) {
        const auto y = static_cast<std::int32_t>(info.output_scanline);
        JSAMPROW rows[] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        for (std::int32_t x = 0; x < picture.Width(); ++x) {
            const std::size_t i = 3 * static_cast<std::size_t>(x);
            picture.SetPixelAt(x, y,
                               0xFF000000u | static_cast<TColor32>(row[i]) << 16 |
                                   static_cast<TColor32>(row[i + 1]) << 8 | row[i + 2]);
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return picture;
}

namespace {

void Put16(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

} // namespace

std::string ExifPayload(int orientation, bool bigEndian) {
    const auto put = [bigEndian](std::string& out, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
            out.push_back(static_cast<char>((v >> shift) & 0xFF));
        }
    };
    std::string out("Exif\0\0", 6);
    out += bigEndian ? "MM" : "II";
    put(out, 42, 2);
    put(out, 8, 4); // IFD0 right after the header
    put(out, 1, 2); // one entry: orientation, SHORT, one value
    put(out, 0x0112, 2);
    put(out, 3, 2);
    put(out, 1, 4);
    put(out, static_cast<std::uint32_t>(orientation), 2);
    put(out, 0, 2);
    put(out, 0, 4); // no further IFD
    return out;
}

std::string WithAppMarker(const std::string& jpeg, int n, const std::string& payload) {
    const std::size_t length = payload.size() + 2;
    std::string marker{'\xFF', static_cast<char>(0xE0 + n), static_cast<char>(length >> 8),
                       static_cast<char>(length & 0xFF)};
    return jpeg.substr(0, 2) + marker + payload + jpeg.substr(2);
}

std::string BitmapFile(std::uint32_t infoSize, std::int32_t width, std::int32_t height,
                       unsigned bits, std::uint32_t compression, const std::string& between,
                       const std::string& pixels) {
    const auto offset = static_cast<std::uint32_t>(14 + infoSize + between.size());
    std::string out = "BM";
    Put32(out, offset + static_cast<std::uint32_t>(pixels.size()));
    Put32(out, 0);
    Put32(out, offset);
    Put32(out, infoSize);
    if (infoSize == 12) {
        Put16(out, static_cast<std::uint32_t>(width));
        Put16(out, static_cast<std::uint32_t>(height));
        Put16(out, 1);
        Put16(out, bits);
    } else {
        Put32(out, static_cast<std::uint32_t>(width));
        Put32(out, static_cast<std::uint32_t>(height));
        Put16(out, 1);
        Put16(out, bits);
        Put32(out, compression);
        Put32(out, static_cast<std::uint32_t>(pixels.size()));
        Put32(out, 2835);
        Put32(out, 2835);
        Put32(out, 0);
        Put32(out, 0);
        out.resize(14 + infoSize, '\0');
    }
    return out + between + pixels;
}

namespace {

// Black, red, green and blue as stored in a palette (blue, green, red, unused).
const std::string FourColours("\0\0\0\0"
                              "\0\0\xFF\0"
                              "\0\xFF\0\0"
                              "\xFF\0\0\0",
                              16);

} // namespace

std::string RunLength8Bitmap() {
    const std::string codes("\x03\x01\x00\x00"         // bottom row: three red, line end
                            "\x00\x03\x02\x03\x02\x00" // green, blue, green stored, padded
                            "\x00\x00"                 // line end
                            "\x00\x02\x02\x00"         // move two right on the top row
                            "\x02\x03\x00\x01",        // two blue, end of picture
                            20);
    return BitmapFile(40, 4, 3, 8, 1, FourColours, codes);
}

std::string RunLength4Bitmap() {
    const std::string codes("\x03\x12\x00\x00" // bottom row: red, green, red, line end
                            "\x00\x03\x31\x20" // blue, red, green stored
                            "\x00\x01",        // end of picture
                            10);
    return BitmapFile(40, 4, 2, 4, 2, FourColours, codes);
}

std::string EncodeBitmap(const TBitmap32& picture, int bitsPerPixel, bool topDown) {
    const auto width = static_cast<std::uint32_t>(picture.Width());
    const auto height = static_cast<std::uint32_t>(picture.Height());
    const std::uint32_t stride = ((width * static_cast<std::uint32_t>(bitsPerPixel) + 31) / 32) * 4;
    const std::uint32_t paletteSize = bitsPerPixel <= 8 ? (1u << bitsPerPixel) * 4 : 0;
    const std::uint32_t offset = 54 + paletteSize;
    std::string out = "BM";
    Put32(out, offset + stride * height);
    Put32(out, 0);
    Put32(out, offset);
    Put32(out, 40);
    Put32(out, width);
    Put32(out, topDown ? static_cast<std::uint32_t>(-static_cast<std::int32_t>(height)) : height);
    Put16(out, 1);
    Put16(out, static_cast<std::uint32_t>(bitsPerPixel));
    Put32(out, 0);
    Put32(out, stride * height);
    Put32(out, 2835);
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    for (std::uint32_t i = 0; i < paletteSize / 4; ++i) {
        const std::uint32_t level = i * 255 / (paletteSize / 4 - 1);
        Put32(out, level << 16 | level << 8 | level);
    }
    for (std::uint32_t stored = 0; stored < height; ++stored) {
        const auto y = static_cast<std::int32_t>(topDown ? stored : height - 1 - stored);
        std::string row;
        if (bitsPerPixel < 8) {
            // Indices packed from the most significant bit: the top bits of the red channel.
            row.assign(stride, '\0');
            for (std::int32_t x = 0; x < picture.Width(); ++x) {
                const std::uint32_t index = RedOf(picture.PixelAt(x, y)) >> (8 - bitsPerPixel);
                const auto bit = static_cast<std::uint32_t>(x * bitsPerPixel);
                row[bit / 8] = static_cast<char>(static_cast<unsigned char>(row[bit / 8]) |
                                                 index << (8 - bitsPerPixel - bit % 8));
            }
        }
        for (std::int32_t x = 0; x < picture.Width() && bitsPerPixel >= 8; ++x) {
            const TColor32 col = picture.PixelAt(x, y);
            switch (bitsPerPixel) {
            case 16: // five bits each of red, green and blue
                Put16(row, (RedOf(col) >> 3) << 10 | (GreenOf(col) >> 3) << 5 | BlueOf(col) >> 3);
                break;
            case 8:
                row.push_back(static_cast<char>(RedOf(col)));
                break;
            case 24:
                row.push_back(static_cast<char>(BlueOf(col)));
                row.push_back(static_cast<char>(GreenOf(col)));
                row.push_back(static_cast<char>(RedOf(col)));
                break;
            case 32:
                Put32(row, col);
                break;
            default:
                throw std::invalid_argument("unsupported bits per pixel");
            }
        }
        row.resize(stride, '\0');
        out += row;
    }
    return out;
}

} // namespace tintavo::test
