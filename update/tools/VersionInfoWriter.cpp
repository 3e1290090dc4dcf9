#include "update/tools/VersionInfoWriter.h"

namespace tintavo::versioninfo {

namespace {

using Bytes = std::vector<std::uint8_t>;

void PutWord(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void PutDword(Bytes& out, std::uint32_t value) {
    PutWord(out, value & 0xFFFF);
    PutWord(out, value >> 16);
}

void PadTo4(Bytes& out) {
    while (out.size() % 4 != 0) {
        out.push_back(0);
    }
}

void PutText(Bytes& out, const std::u16string& text) {
    for (const char16_t c : text) {
        PutWord(out, c);
    }
    PutWord(out, 0);
}

// One node: length, value length, type, key, value, children; each part starts on a double
// word boundary and the length covers everything up to the end of the last child.
Bytes Node(const std::string& key, std::uint16_t type, const Bytes& value,
           std::uint16_t valueLength, const std::vector<Bytes>& children) {
    Bytes out;
    PutWord(out, 0);
    PutWord(out, valueLength);
    PutWord(out, type);
    PutText(out, ToUtf16(key));
    PadTo4(out);
    out.insert(out.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        PadTo4(out);
        out.insert(out.end(), child.begin(), child.end());
    }
    out[0] = static_cast<std::uint8_t>(out.size() & 0xFF);
    out[1] = static_cast<std::uint8_t>((out.size() >> 8) & 0xFF);
    return out;
}

} // namespace

std::u16string ToUtf16(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::uint32_t cp = c;
        std::size_t extra = 0;
        if (c >= 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else if (c >= 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if (c >= 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        }
        ++i;
        for (std::size_t k = 0; k < extra && i < text.size(); ++k, ++i) {
            cp = (cp << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::vector<std::uint8_t> BuildVersionInfo(const TVersionInfoSpec& declared) {
    Bytes fixed;
    if (declared.HasFixedInfo) {
        PutDword(fixed, 0xFEEF04BD); // signature
        PutDword(fixed, 0x00010000); // structure version
        PutDword(fixed, declared.FileVersionMS);
        PutDword(fixed, declared.FileVersionLS);
        PutDword(fixed, declared.ProductVersionMS);
        PutDword(fixed, declared.ProductVersionLS);
        PutDword(fixed, 0x3F);       // flags mask
        PutDword(fixed, 0);          // flags
        PutDword(fixed, 0x00040004); // Windows NT, 32-bit
        PutDword(fixed, 1);          // application
        PutDword(fixed, 0);          // subtype
        PutDword(fixed, 0);          // date
        PutDword(fixed, 0);
    }
    std::vector<Bytes> sections;
    if (!declared.Tables.empty()) {
        std::vector<Bytes> tables;
        for (const TStringTable& table : declared.Tables) {
            std::vector<Bytes> strings;
            for (const auto& [key, value] : table.Strings) {
                Bytes text;
                const std::u16string wide = ToUtf16(value);
                PutText(text, wide);
                strings.push_back(
                    Node(key, 1, text, static_cast<std::uint16_t>(wide.size() + 1), {}));
            }
            tables.push_back(Node(table.Key, 1, {}, 0, strings));
        }
        sections.push_back(Node("StringFileInfo", 1, {}, 0, tables));
    }
    if (!declared.Translations.empty()) {
        Bytes pairs;
        for (const auto& [language, codePage] : declared.Translations) {
            PutWord(pairs, language);
            PutWord(pairs, codePage);
        }
        const Bytes var =
            Node("Translation", 0, pairs, static_cast<std::uint16_t>(pairs.size()), {});
        sections.push_back(Node("VarFileInfo", 1, {}, 0, {var}));
    }
    return Node("VS_VERSION_INFO", 0, fixed, static_cast<std::uint16_t>(fixed.size()), sections);
}

} // namespace tintavo::versioninfo
