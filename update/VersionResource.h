#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The version resource of an executable file: a VS_VERSIONINFO block, found in the resource
// section of a Windows (PE) image or in the ELF section the build gives the program's own
// file. Files are untrusted input: every offset and length is checked before it is used, and
// a damaged file reads as one without version resource.
namespace tintavo {

// Name of the ELF section that holds the program's own version resource.
inline constexpr std::string_view kVersionInfoSection = ".tintavo_version";

struct TFixedFileInfo {
    std::uint32_t FileVersionMS = 0;
    std::uint32_t FileVersionLS = 0;
    std::uint32_t ProductVersionMS = 0;
    std::uint32_t ProductVersionLS = 0;
};

// A parsed VS_VERSIONINFO block, queried by sub-block paths as the platform's version query
// does: "\" for the fixed information, "\VarFileInfo\Translation", or
// "\StringFileInfo\040C04E4\FileVersion". Keys compare without regard to case.
class TVersionInfoBlock {
public:
    // Empty when the bytes are not a well-formed block.
    static std::optional<TVersionInfoBlock> Parse(std::span<const std::uint8_t> bytes);

    std::optional<TFixedFileInfo> FixedInfo() const;
    // A text value, converted to UTF-8 and cut at its first zero.
    std::optional<std::string> QueryString(std::string_view subBlock) const;
    // The (language, code page) pairs of "\VarFileInfo\Translation"; empty when absent.
    std::vector<std::pair<std::uint16_t, std::uint16_t>> Translations() const;
    // Key of the first string table ("040C04E4"); empty when the block has none.
    std::string FirstStringTable() const;

    struct Node {
        std::u16string Key;
        std::uint16_t Type = 0;
        std::vector<std::uint8_t> Value;
        std::vector<Node> Children;
    };

private:
    const Node* Find(std::string_view subBlock) const;
    Node root_;
};

// The raw version block of a file; empty when the file cannot be read or carries none.
std::optional<std::vector<std::uint8_t>> ReadVersionBlock(const std::filesystem::path& path);

// The parsed version block of a file; empty when the file has no usable one.
std::optional<TVersionInfoBlock> ReadVersionInfo(const std::filesystem::path& path);

// Whether the file is a Windows image whose optional header is the 64-bit one.
bool IsPe64Image(const std::filesystem::path& path);

} // namespace tintavo
