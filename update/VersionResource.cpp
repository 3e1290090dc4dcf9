#include "update/VersionResource.h"

#include "platform/PosixIo.h"
#include "platform/ProgramPath.h"
#include "platform/Utf8.h"
#include "update/TextRules.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tintavo {

namespace {

constexpr std::size_t kMaxBlock = 0xFFFF; // a block's length is one 16-bit word
constexpr int kMaxDepth = 3;              // root, file info, table, string
// Real programs have well under a thousand sections; a file claiming more than extended
// numbering ever gives in practice is read as having no version block, and so is one whose
// section entries are far beyond their standard size, so that the whole table is read into
// memory only when it is of a believable size (at most 16 MiB).
constexpr std::uint64_t kMaxElfSections = 0xFFFF;
constexpr std::size_t kMaxElfEntrySize = 256;

// Random access to a file's bytes with every read checked against the file's size. Only a
// regular file is read: the open does not wait (a FIFO or a device never holds the reader).
// The running program's own file is read through the system's handle on it, which stays
// valid after a package upgrade replaced the file on disk.
class FileBytes {
public:
    explicit FileBytes(const std::filesystem::path& path)
        : fd_(::open(platform::PathForReading(path.string()).c_str(),
                     O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)) {
        struct stat info {};
        if (fd_.Get() >= 0 && ::fstat(fd_.Get(), &info) == 0 && S_ISREG(info.st_mode)) {
            size_ = static_cast<std::uint64_t>(info.st_size);
            ok_ = true;
        }
    }
    bool ok() const { return ok_; }
    std::uint64_t size() const { return size_; }

    std::optional<std::vector<std::uint8_t>> Read(std::uint64_t offset, std::uint64_t count) {
        if (!ok_ || offset > size_ || count > size_ - offset) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> out(static_cast<std::size_t>(count));
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t got = ::pread(fd_.Get(), out.data() + done, out.size() - done,
                                        static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return std::nullopt; // an error, or the file got shorter
            }
            done += static_cast<std::size_t>(got);
        }
        return out;
    }

private:
    platform::Fd fd_;
    std::uint64_t size_ = 0;
    bool ok_ = false;
};

// Little- or big-endian fields of a byte buffer; reads past the end give 0 and clear ok.
class Fields {
public:
    Fields(const std::vector<std::uint8_t>& bytes, bool bigEndian = false)
        : bytes_(bytes), big_(bigEndian) {}
    std::uint64_t Get(std::size_t offset, std::size_t width) {
        if (offset > bytes_.size() || width > bytes_.size() - offset) {
            ok_ = false;
            return 0;
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t at = big_ ? offset + i : offset + width - 1 - i;
            value = (value << 8) | bytes_[at];
        }
        return value;
    }
    std::uint16_t U16(std::size_t offset) { return static_cast<std::uint16_t>(Get(offset, 2)); }
    std::uint32_t U32(std::size_t offset) { return static_cast<std::uint32_t>(Get(offset, 4)); }
    std::uint64_t U64(std::size_t offset) { return Get(offset, 8); }
    bool ok() const { return ok_; }

private:
    const std::vector<std::uint8_t>& bytes_;
    bool big_;
    bool ok_ = true;
};

std::uint16_t Word(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::size_t Align4(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

// Parses the node at `offset`, which must lie wholly inside [offset, end).
std::optional<TVersionInfoBlock::Node> ParseNode(std::span<const std::uint8_t> b,
                                                 std::size_t offset, std::size_t end, int depth) {
    if (offset > end || end - offset < 6) {
        return std::nullopt;
    }
    const std::size_t length = Word(b, offset);
    const std::size_t valueLength = Word(b, offset + 2);
    TVersionInfoBlock::Node node;
    node.Type = Word(b, offset + 4);
    if (length < 6 || length > end - offset) {
        return std::nullopt;
    }
    const std::size_t nodeEnd = offset + length;
    std::size_t pos = offset + 6;
    for (;;) {
        if (nodeEnd - pos < 2) {
            return std::nullopt; // key without its terminating zero
        }
        const char16_t c = Word(b, pos);
        pos += 2;
        if (c == 0) {
            break;
        }
        node.Key.push_back(c);
    }
    pos = std::min(Align4(pos), nodeEnd);
    // Text values count 16-bit units, binary ones count bytes; a producer that got this
    // wrong is still held inside the node.
    const std::size_t valueBytes =
        std::min(node.Type == 1 ? valueLength * 2 : valueLength, nodeEnd - pos);
    node.Value.assign(b.begin() + static_cast<std::ptrdiff_t>(pos),
                      b.begin() + static_cast<std::ptrdiff_t>(pos + valueBytes));
    pos = Align4(pos + valueBytes);
    if (depth < kMaxDepth) {
        while (pos < nodeEnd && nodeEnd - pos >= 6) {
            auto child = ParseNode(b, pos, nodeEnd, depth + 1);
            if (!child) {
                break;
            }
            const std::size_t childLength = Word(b, pos);
            node.Children.push_back(std::move(*child));
            pos = Align4(pos + childLength);
        }
    }
    return node;
}

std::string Utf16ToUtf8(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    const auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    };
    const std::size_t n = bytes.size() / 2;
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t cp = unit(i);
        if (cp == 0) {
            break;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD; // a lone surrogate
        }
        platform::AppendUtf8(out, cp);
    }
    return out;
}

bool KeyEquals(const std::u16string& key, std::string_view name) {
    if (key.size() != name.size()) {
        return false;
    }
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (key[i] > 0x7F ||
            !text::EqualsNoCase(std::string(1, static_cast<char>(key[i])), name.substr(i, 1))) {
            return false;
        }
    }
    return true;
}

// Where an ELF file's section headers are and how many there are.
struct ElfSectionTable {
    bool is64 = false;
    bool big = false;
    std::uint64_t shoff = 0;
    std::size_t entSize = 0;
    std::uint64_t count = 0;
    std::uint32_t strIndex = 0;
};

std::optional<ElfSectionTable> FindElfSectionTable(FileBytes& file,
                                                   const std::vector<std::uint8_t>& ident) {
    const bool is64 = ident[4] == 2;
    if ((ident[4] != 1 && ident[4] != 2) || (ident[5] != 1 && ident[5] != 2)) {
        return std::nullopt;
    }
    const bool big = ident[5] == 2;
    Fields h(ident, big);
    const std::uint64_t shoff = is64 ? h.U64(0x28) : h.U32(0x20);
    const std::size_t entSize = h.U16(is64 ? 0x3A : 0x2E);
    std::uint64_t count = h.U16(is64 ? 0x3C : 0x30);
    std::uint32_t strIndex = h.U16(is64 ? 0x3E : 0x32);
    const std::size_t minEnt = is64 ? 64 : 40;
    if (!h.ok() || shoff == 0 || entSize < minEnt || entSize > kMaxElfEntrySize) {
        return std::nullopt;
    }
    const auto section = [&](std::uint64_t index) -> std::optional<std::vector<std::uint8_t>> {
        if (index >= (file.size() / entSize) + 1) {
            return std::nullopt;
        }
        return file.Read(shoff + index * entSize, entSize);
    };
    // Many sections: the real count and string-table index sit in section 0.
    if (count == 0 || strIndex == 0xFFFF) {
        const auto first = section(0);
        if (!first) {
            return std::nullopt;
        }
        Fields s(*first, big);
        if (count == 0) {
            count = is64 ? s.U64(0x20) : s.U32(0x14);
        }
        if (strIndex == 0xFFFF) {
            strIndex = s.U32(is64 ? 0x28 : 0x18);
        }
    }
    if (count == 0 || count > kMaxElfSections || count > file.size() / entSize ||
        strIndex >= count) {
        return std::nullopt;
    }
    return ElfSectionTable{is64, big, shoff, entSize, count, strIndex};
}

std::optional<std::vector<std::uint8_t>> ElfVersionBlock(FileBytes& file,
                                                         const std::vector<std::uint8_t>& ident) {
    const auto found = FindElfSectionTable(file, ident);
    if (!found) {
        return std::nullopt;
    }
    const auto [is64, big, shoff, entSize, count, strIndex] = *found;
    const auto table = file.Read(shoff, count * entSize);
    if (!table) {
        return std::nullopt;
    }
    Fields t(*table, big);
    const auto offsetOf = [&](std::uint64_t i) {
        return is64 ? t.U64(i * entSize + 0x18) : t.U32(i * entSize + 0x10);
    };
    const auto sizeOf = [&](std::uint64_t i) {
        return is64 ? t.U64(i * entSize + 0x20) : t.U32(i * entSize + 0x14);
    };
    // The names of the sections are short; a table claiming more is read no further than a
    // version block, and names beyond that count as missing.
    const auto names =
        file.Read(offsetOf(strIndex), std::min<std::uint64_t>(sizeOf(strIndex), kMaxBlock));
    if (!names) {
        return std::nullopt;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint32_t nameAt = t.U32(i * entSize);
        const std::uint32_t type = t.U32(i * entSize + 4);
        if (nameAt >= names->size() || type == 8 /* no bits in the file */) {
            continue;
        }
        const std::size_t nameLength = names->size() - nameAt;
        const std::string_view name(reinterpret_cast<const char*>(names->data()) + nameAt,
                                    nameLength);
        if (name.substr(0, name.find('\0')) == kVersionInfoSection) {
            return file.Read(offsetOf(i), std::min<std::uint64_t>(sizeOf(i), kMaxBlock));
        }
    }
    return std::nullopt;
}

// The PE headers needed to reach the resource section.
struct PeImage {
    std::uint64_t HeaderAt = 0;
    bool Is64 = false;
    std::uint32_t ResourceRva = 0;
    std::uint32_t ResourceSize = 0;
    std::vector<std::uint8_t> Sections;
    std::size_t SectionCount = 0;
};

std::optional<PeImage> ReadPeHeaders(FileBytes& file) {
    const auto dos = file.Read(0, 64);
    if (!dos || (*dos)[0] != 'M' || (*dos)[1] != 'Z') {
        return std::nullopt;
    }
    Fields d(*dos);
    PeImage pe;
    pe.HeaderAt = d.U32(60);
    const auto coff = file.Read(pe.HeaderAt, 24 + 2);
    if (!coff || (*coff)[0] != 'P' || (*coff)[1] != 'E' || (*coff)[2] != 0 || (*coff)[3] != 0) {
        return std::nullopt;
    }
    Fields c(*coff);
    const std::uint16_t magic = c.U16(24);
    if (magic != 0x10B && magic != 0x20B) {
        return std::nullopt;
    }
    pe.Is64 = magic == 0x20B;
    pe.SectionCount = c.U16(4 + 2);
    const std::size_t optionalSize = c.U16(4 + 16);
    const auto optional = file.Read(pe.HeaderAt + 24, optionalSize);
    if (!optional) {
        return std::nullopt;
    }
    Fields o(*optional);
    const std::size_t countAt = pe.Is64 ? 108 : 92;
    const std::size_t dirsAt = pe.Is64 ? 112 : 96;
    const std::uint32_t dirCount = o.U32(countAt);
    if (o.ok() && dirCount > 2) {
        pe.ResourceRva = o.U32(dirsAt + 2 * 8);
        pe.ResourceSize = o.U32(dirsAt + 2 * 8 + 4);
        if (!o.ok()) {
            pe.ResourceRva = pe.ResourceSize = 0;
        }
    }
    const auto sections = file.Read(pe.HeaderAt + 24 + optionalSize, pe.SectionCount * 40);
    if (!sections) {
        return std::nullopt;
    }
    pe.Sections = *sections;
    return pe;
}

// File offset of `count` bytes at a relative virtual address, inside one section's raw data.
std::optional<std::uint64_t> RvaToOffset(const PeImage& pe, std::uint32_t rva,
                                         std::uint32_t count) {
    Fields s(pe.Sections);
    for (std::size_t i = 0; i < pe.SectionCount; ++i) {
        const std::uint32_t va = s.U32(i * 40 + 12);
        const std::uint32_t rawSize = s.U32(i * 40 + 16);
        const std::uint32_t rawAt = s.U32(i * 40 + 20);
        if (rva >= va && rva - va <= rawSize && count <= rawSize - (rva - va)) {
            return std::uint64_t{rawAt} + (rva - va);
        }
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ReadRva(FileBytes& file, const PeImage& pe,
                                                 std::uint32_t rva, std::uint32_t count) {
    const auto at = RvaToOffset(pe, rva, count);
    return at ? file.Read(*at, count) : std::nullopt;
}

// One entry of a resource directory: the subdirectory or data entry it points at, relative to
// the resource root.
std::optional<std::uint32_t> PickEntry(FileBytes& file, const PeImage& pe, std::uint32_t directory,
                                       bool wantSubdirectory, std::optional<std::uint32_t> id,
                                       bool idRequired) {
    if (directory > pe.ResourceSize || pe.ResourceSize - directory < 16) {
        return std::nullopt;
    }
    const auto head = ReadRva(file, pe, pe.ResourceRva + directory, 16);
    if (!head) {
        return std::nullopt;
    }
    Fields h(*head);
    const std::uint32_t entries = std::uint32_t{h.U16(12)} + h.U16(14);
    if (entries == 0 || entries > (pe.ResourceSize - directory - 16) / 8) {
        return std::nullopt;
    }
    const auto list = ReadRva(file, pe, pe.ResourceRva + directory + 16, entries * 8);
    if (!list) {
        return std::nullopt;
    }
    Fields l(*list);
    std::optional<std::uint32_t> chosen;
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::uint32_t name = l.U32(i * 8);
        const std::uint32_t target = l.U32(i * 8 + 4);
        const bool matches = id && (name & 0x80000000u) == 0 && name == *id;
        if (matches || (!idRequired && !chosen)) {
            chosen = target;
            if (matches) {
                break;
            }
        }
    }
    if (!chosen || ((*chosen & 0x80000000u) != 0) != wantSubdirectory) {
        return std::nullopt;
    }
    return *chosen & 0x7FFFFFFFu;
}

std::optional<std::vector<std::uint8_t>> PeVersionBlock(FileBytes& file) {
    const auto pe = ReadPeHeaders(file);
    if (!pe || pe->ResourceRva == 0 || pe->ResourceSize == 0) {
        return std::nullopt;
    }
    constexpr std::uint32_t kVersionType = 16;
    const auto byType = PickEntry(file, *pe, 0, true, kVersionType, true);
    const auto byName = byType ? PickEntry(file, *pe, *byType, true, 1u, false) : std::nullopt;
    const auto byLanguage =
        byName ? PickEntry(file, *pe, *byName, false, std::nullopt, false) : std::nullopt;
    if (!byLanguage || *byLanguage > pe->ResourceSize || pe->ResourceSize - *byLanguage < 16) {
        return std::nullopt;
    }
    const auto entry = ReadRva(file, *pe, pe->ResourceRva + *byLanguage, 16);
    if (!entry) {
        return std::nullopt;
    }
    Fields e(*entry);
    const std::uint32_t dataRva = e.U32(0);
    const std::uint32_t size = std::min<std::uint32_t>(e.U32(4), kMaxBlock);
    return ReadRva(file, *pe, dataRva, size);
}

} // namespace

std::optional<TVersionInfoBlock> TVersionInfoBlock::Parse(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 6) {
        return std::nullopt;
    }
    auto root = ParseNode(bytes, 0, bytes.size(), 0);
    if (!root || !KeyEquals(root->Key, "VS_VERSION_INFO")) {
        return std::nullopt;
    }
    TVersionInfoBlock block;
    block.root_ = std::move(*root);
    return block;
}

const TVersionInfoBlock::Node* TVersionInfoBlock::Find(std::string_view subBlock) const {
    const Node* node = &root_;
    std::size_t pos = 0;
    while (pos <= subBlock.size()) {
        std::size_t next = subBlock.find('\\', pos);
        if (next == std::string_view::npos) {
            next = subBlock.size();
        }
        const std::string_view name = subBlock.substr(pos, next - pos);
        pos = next + 1;
        if (name.empty()) {
            continue;
        }
        const Node* found = nullptr;
        for (const Node& child : node->Children) {
            if (KeyEquals(child.Key, name)) {
                found = &child;
                break;
            }
        }
        if (found == nullptr) {
            return nullptr;
        }
        node = found;
    }
    return node;
}

std::optional<TFixedFileInfo> TVersionInfoBlock::FixedInfo() const {
    const std::vector<std::uint8_t>& v = root_.Value;
    if (v.size() < 52) {
        return std::nullopt;
    }
    Fields f(v);
    if (f.U32(0) != 0xFEEF04BD) {
        return std::nullopt;
    }
    return TFixedFileInfo{f.U32(8), f.U32(12), f.U32(16), f.U32(20)};
}

std::optional<std::string> TVersionInfoBlock::QueryString(std::string_view subBlock) const {
    const Node* node = Find(subBlock);
    if (node == nullptr || node == &root_) {
        return std::nullopt;
    }
    return Utf16ToUtf8(node->Value);
}

std::vector<std::pair<std::uint16_t, std::uint16_t>> TVersionInfoBlock::Translations() const {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> out;
    const Node* node = Find("\\VarFileInfo\\Translation");
    if (node != nullptr) {
        for (std::size_t i = 0; i + 4 <= node->Value.size(); i += 4) {
            out.emplace_back(Word(node->Value, i), Word(node->Value, i + 2));
        }
    }
    return out;
}

std::string TVersionInfoBlock::FirstStringTable() const {
    const Node* info = Find("\\StringFileInfo");
    if (info == nullptr || info->Children.empty()) {
        return {};
    }
    std::string key;
    for (const char16_t c : info->Children.front().Key) {
        key.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return key;
}

std::optional<std::vector<std::uint8_t>> ReadVersionBlock(const std::filesystem::path& path) {
    FileBytes file(path);
    if (!file.ok()) {
        return std::nullopt;
    }
    const auto ident = file.Read(0, std::min<std::uint64_t>(64, file.size()));
    if (!ident || ident->size() < 4) {
        return std::nullopt;
    }
    if ((*ident)[0] == 0x7F && (*ident)[1] == 'E' && (*ident)[2] == 'L' && (*ident)[3] == 'F') {
        return ident->size() == 64 ? ElfVersionBlock(file, *ident) : std::nullopt;
    }
    return PeVersionBlock(file);
}

std::optional<TVersionInfoBlock> ReadVersionInfo(const std::filesystem::path& path) {
    const auto bytes = ReadVersionBlock(path);
    if (!bytes) {
        return std::nullopt;
    }
    return TVersionInfoBlock::Parse(*bytes);
}

bool IsPe64Image(const std::filesystem::path& path) {
    FileBytes file(path);
    const auto dos = file.Read(0, 64);
    if (!dos || (*dos)[0] != 'M' || (*dos)[1] != 'Z') {
        return false;
    }
    Fields d(*dos);
    const auto head = file.Read(d.U32(60), 24 + 2);
    if (!head || (*head)[0] != 'P' || (*head)[1] != 'E' || (*head)[2] != 0 || (*head)[3] != 0) {
        return false;
    }
    Fields h(*head);
    return h.U16(24) == 0x20B;
}

} // namespace tintavo
