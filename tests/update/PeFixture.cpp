#include "PeFixture.h"

#include <fstream>

namespace tintavo::test {

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& out, std::size_t at, std::uint64_t value, std::size_t width) {
    if (out.size() < at + width) {
        out.resize(at + width);
    }
    for (std::size_t i = 0; i < width; ++i) {
        out[at + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
    }
}

constexpr std::size_t kHeaderAt = 0x80;
constexpr std::uint32_t kSectionRva = 0x1000;
constexpr std::size_t kSectionAt = 0x200;

} // namespace

std::vector<std::uint8_t> BuildPeImage(bool is64,
                                       const std::optional<std::vector<std::uint8_t>>& block) {
    // The resource tree: type 16 -> name 1 -> language 040C -> data entry -> block.
    Bytes rsrc;
    if (block) {
        Put(rsrc, 0x00 + 14, 1, 2); // root: one id entry
        Put(rsrc, 0x10, 16, 4);
        Put(rsrc, 0x14, 0x80000000u | 0x18, 4);
        Put(rsrc, 0x18 + 14, 1, 2); // type 16: one id entry
        Put(rsrc, 0x28, 1, 4);
        Put(rsrc, 0x2C, 0x80000000u | 0x30, 4);
        Put(rsrc, 0x30 + 14, 1, 2); // name 1: one language
        Put(rsrc, 0x40, 0x040C, 4);
        Put(rsrc, 0x44, 0x48, 4);
        Put(rsrc, 0x48, kSectionRva + 0x58, 4); // data entry: address and size
        Put(rsrc, 0x4C, block->size(), 4);
        rsrc.resize(0x58);
        rsrc.insert(rsrc.end(), block->begin(), block->end());
    } else {
        rsrc.resize(16); // an empty resource directory
    }
    const std::size_t rawSize = (rsrc.size() + 0x1FF) & ~std::size_t{0x1FF};
    rsrc.resize(rawSize);

    Bytes image(kSectionAt);
    image[0] = 'M';
    image[1] = 'Z';
    Put(image, 60, kHeaderAt, 4);
    image[kHeaderAt] = 'P';
    image[kHeaderAt + 1] = 'E';
    const std::size_t optionalSize = is64 ? 240 : 224;
    Put(image, kHeaderAt + 4, is64 ? 0x8664 : 0x14C, 2); // machine
    Put(image, kHeaderAt + 6, 1, 2);                     // one section
    Put(image, kHeaderAt + 20, optionalSize, 2);
    Put(image, kHeaderAt + 22, 0x0102, 2); // executable image
    const std::size_t opt = kHeaderAt + 24;
    Put(image, opt, is64 ? 0x20B : 0x10B, 2);
    Put(image, opt + (is64 ? 108 : 92), 16, 4); // data directories
    Put(image, opt + (is64 ? 112 : 96) + 2 * 8, kSectionRva, 4);
    Put(image, opt + (is64 ? 112 : 96) + 2 * 8 + 4, rsrc.size(), 4);
    const std::size_t section = opt + optionalSize;
    const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
    for (std::size_t i = 0; i < 8; ++i) {
        image[section + i] = static_cast<std::uint8_t>(name[i]);
    }
    Put(image, section + 8, rsrc.size(), 4);
    Put(image, section + 12, kSectionRva, 4);
    Put(image, section + 16, rawSize, 4);
    Put(image, section + 20, kSectionAt, 4);
    Put(image, section + 36, 0x40000040u, 4); // initialised data, readable
    image.resize(kSectionAt);
    image.insert(image.end(), rsrc.begin(), rsrc.end());
    return image;
}

std::vector<std::uint8_t> BuildElfImage(bool is64, bool bigEndian,
                                        const std::optional<std::vector<std::uint8_t>>& block,
                                        const std::string& section, bool extendedCount) {
    Bytes image;
    const auto put = [&](std::size_t at, std::uint64_t value, std::size_t width) {
        if (image.size() < at + width) {
            image.resize(at + width);
        }
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t shift = 8 * (bigEndian ? width - 1 - i : i);
            image[at + i] = static_cast<std::uint8_t>((value >> shift) & 0xFF);
        }
    };
    const std::string names = std::string("\0.shstrtab\0", 11) + section + '\0';
    const std::size_t dataAt = 0x100;
    const std::size_t blockSize = block ? block->size() : 0;
    const std::size_t namesAt = dataAt + blockSize;
    const std::size_t headersAt = (namesAt + names.size() + 7) & ~std::size_t{7};
    const std::size_t entSize = is64 ? 64 : 40;
    const std::size_t count = block ? 3 : 2;

    image.resize(headersAt + count * entSize);
    image[0] = 0x7F;
    image[1] = 'E';
    image[2] = 'L';
    image[3] = 'F';
    image[4] = is64 ? 2 : 1;
    image[5] = bigEndian ? 2 : 1;
    image[6] = 1;
    put(16, 2, 2); // executable
    put(20, 1, 4);
    put(is64 ? 40 : 32, headersAt, is64 ? 8 : 4);
    put(is64 ? 52 : 40, is64 ? 64 : 52, 2);
    put(is64 ? 58 : 46, entSize, 2);
    put(is64 ? 60 : 48, extendedCount ? 0 : count, 2);
    put(is64 ? 62 : 50, extendedCount ? 0xFFFF : 1, 2);
    if (block) {
        std::copy(block->begin(), block->end(), image.begin() + dataAt);
    }
    std::copy(names.begin(), names.end(), image.begin() + static_cast<long>(namesAt));
    const auto sectionHeader = [&](std::size_t index, std::uint32_t name, std::uint32_t type,
                                   std::size_t offset, std::size_t size, std::uint32_t link) {
        const std::size_t at = headersAt + index * entSize;
        put(at, name, 4);
        put(at + 4, type, 4);
        put(at + (is64 ? 24 : 16), offset, is64 ? 8 : 4);
        put(at + (is64 ? 32 : 20), size, is64 ? 8 : 4);
        put(at + (is64 ? 40 : 24), link, 4);
    };
    sectionHeader(0, 0, 0, 0, extendedCount ? count : 0, extendedCount ? 1 : 0);
    sectionHeader(1, 1, 3 /* string table */, namesAt, names.size(), 0);
    if (block) {
        sectionHeader(2, 11, 1 /* program data */, dataAt, blockSize, 0);
    }
    return image;
}

versioninfo::TVersionInfoSpec SimpleSpec(std::uint16_t a, std::uint16_t b, std::uint16_t c,
                                         std::uint16_t d,
                                         std::vector<std::pair<std::string, std::string>> strings) {
    versioninfo::TVersionInfoSpec declared;
    declared.FileVersionMS = declared.ProductVersionMS = versioninfo::PackWords(a, b);
    declared.FileVersionLS = declared.ProductVersionLS = versioninfo::PackWords(c, d);
    declared.Tables.push_back({"040C04E4", std::move(strings)});
    declared.Translations.emplace_back(0x040C, 1252);
    return declared;
}

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::string WritePe(const std::filesystem::path& path,
                    const versioninfo::TVersionInfoSpec& declared, bool is64) {
    WriteBytes(path, BuildPeImage(is64, versioninfo::BuildVersionInfo(declared)));
    return path.string();
}

std::string OwnExecutable() {
    return std::filesystem::read_symlink("/proc/self/exe").string();
}

} // namespace tintavo::test
