#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Writes VS_VERSIONINFO blocks, the binary form of a Windows version resource. The build uses
// it to give the program its own version resource; the tests use it to make fixture files.
namespace tintavo::versioninfo {

struct TStringTable {
    std::string Key; // language and code page as eight hexadecimal digits, e.g. "040C04E4"
    std::vector<std::pair<std::string, std::string>> Strings; // UTF-8 key and value
};

struct TVersionInfoSpec {
    bool HasFixedInfo = true;
    std::uint32_t FileVersionMS = 0;
    std::uint32_t FileVersionLS = 0;
    std::uint32_t ProductVersionMS = 0;
    std::uint32_t ProductVersionLS = 0;
    std::vector<TStringTable> Tables;
    // Language and code page pairs of "\VarFileInfo\Translation"; no VarFileInfo when empty.
    std::vector<std::pair<std::uint16_t, std::uint16_t>> Translations;
};

// Packs two 16-bit parts into one double word (the first in the high word).
constexpr std::uint32_t PackWords(std::uint32_t high, std::uint32_t low) {
    return (high << 16) | (low & 0xFFFFu);
}

std::vector<std::uint8_t> BuildVersionInfo(const TVersionInfoSpec& declared);

// UTF-8 to UTF-16 (little-endian code units), for keys and values.
std::u16string ToUtf16(const std::string& text);

} // namespace tintavo::versioninfo
