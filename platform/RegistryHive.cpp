#include "platform/RegistryHive.h"

#include "platform/AsciiText.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <unordered_set>

namespace tintavo::platform {

namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";

// True when path lies strictly below parent.
bool IsBelow(const std::string& path, const std::string& parent) {
    if (parent.empty()) {
        return !path.empty();
    }
    return path.size() > parent.size() + 1 && path[parent.size()] == '\\' &&
           EqualsNoCase(path.substr(0, parent.size()), parent);
}

std::string ParentOf(const std::string& path) {
    const auto pos = path.rfind('\\');
    return pos == std::string::npos ? std::string() : path.substr(0, pos);
}

std::string Trim(std::string_view text) {
    return TrimBlanks(text);
}

// Reads a quoted text starting at text[pos] == '"', undoing \\ and \" escapes; pos ends
// after the closing quote. Empty when the quote is not closed.
std::optional<std::string> ReadQuoted(const std::string& text, std::size_t& pos) {
    if (pos >= text.size() || text[pos] != '"') {
        return std::nullopt;
    }
    std::string out;
    for (std::size_t i = pos + 1; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
            out += text[++i];
        } else if (text[i] == '"') {
            pos = i + 1;
            return out;
        } else {
            out += text[i];
        }
    }
    return std::nullopt;
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out + '"';
}

// "01,ab,ff" to bytes; empty when malformed.
std::optional<std::string> ParseHexList(const std::string& list) {
    std::string bytes;
    if (Trim(list).empty()) {
        return bytes;
    }
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto end = std::min(list.find(',', start), list.size());
        const std::string token = Trim(list.substr(start, end - start));
        if (token.empty() || token.size() > 2) {
            return std::nullopt;
        }
        int value = 0;
        for (char c : token) {
            if (HexDigit(c) < 0) {
                return std::nullopt;
            }
            value = value * 16 + HexDigit(c);
        }
        bytes += static_cast<char>(value);
        start = end + 1;
    }
    return bytes;
}

std::string HexList(const std::string& bytes) {
    std::string out;
    std::array<char, 4> buffer{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buffer.data(), buffer.size(), "%02x", static_cast<unsigned char>(bytes[i]));
        if (i > 0) {
            out += ',';
        }
        out += buffer.data();
    }
    return out;
}

// String data as stored in hex form: UTF-16LE with the terminating NUL.
std::string StringToHexData(const std::string& text) {
    return Utf8ToUtf16Le(text) + std::string(2, '\0');
}

std::string HexDataToString(std::string bytes) {
    if (bytes.size() % 2 != 0) {
        bytes.push_back('\0');
    }
    std::string text = Utf16LeToUtf8(bytes);
    if (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    return text;
}

// Parses the data part of a value line (after '='). Empty when malformed.
std::optional<RegValue> ParseData(const std::string& name, const std::string& data) {
    if (!data.empty() && data[0] == '"') {
        std::size_t pos = 0;
        auto text = ReadQuoted(data, pos);
        if (!text || !Trim(data.substr(pos)).empty()) {
            return std::nullopt;
        }
        return RegValue::String(name, *text);
    }
    if (data.rfind("dword:", 0) == 0) {
        const auto number = ParseHex32(Trim(data.substr(6)));
        if (!number) {
            return std::nullopt;
        }
        return RegValue::DWord(name, *number);
    }
    if (data.rfind("hex", 0) != 0) {
        return std::nullopt;
    }
    std::uint32_t type = REG_BINARY;
    std::size_t pos = 3;
    if (pos < data.size() && data[pos] == '(') {
        const auto close = data.find(')', pos);
        if (close == std::string::npos) {
            return std::nullopt;
        }
        const auto written = ParseHex32(std::string_view(data).substr(pos + 1, close - pos - 1));
        if (!written) {
            return std::nullopt;
        }
        type = *written;
        pos = close + 1;
    }
    if (pos >= data.size() || data[pos] != ':') {
        return std::nullopt;
    }
    auto bytes = ParseHexList(data.substr(pos + 1));
    if (!bytes) {
        return std::nullopt;
    }
    RegValue value{name, type, *bytes};
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        value.data = HexDataToString(*bytes);
    }
    return value;
}

std::string SerializeData(const RegValue& value) {
    switch (value.type) {
    case REG_SZ:
        if (value.data.find_first_of(std::string("\r\n\0", 3)) == std::string::npos) {
            return Quote(value.data);
        }
        // A line break cannot stand in a quoted string.
        return "hex(1):" + HexList(StringToHexData(value.data));
    case REG_EXPAND_SZ:
        return "hex(2):" + HexList(StringToHexData(value.data));
    case REG_DWORD:
        if (value.data.size() == 4) {
            std::array<char, 16> buffer{};
            std::snprintf(buffer.data(), buffer.size(), "dword:%08x", value.AsDWord());
            return buffer.data();
        }
        return "hex(4):" + HexList(value.data);
    case REG_BINARY:
        return "hex:" + HexList(value.data);
    default: {
        std::array<char, 16> buffer{};
        std::snprintf(buffer.data(), buffer.size(), "hex(%x):", value.type);
        return buffer.data() + HexList(value.data);
    }
    }
}

// Sort key that puts parents right before their children.
std::string SortKey(const std::string& path) {
    std::string key;
    for (char c : path) {
        key += c == '\\' ? '\x01' : AsciiLower(c);
    }
    return key;
}

void AppendUnit(std::string& out, std::uint32_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

} // namespace

std::string Utf8ToUtf16Le(const std::string& text) {
    std::string out;
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    while (i < text.size()) {
        const unsigned char c = byte(i);
        std::uint32_t cp = 0;
        std::size_t length = 0;
        if (c < 0x80) {
            cp = c;
            length = 1;
        } else if (c >= 0xC2 && c <= 0xDF) {
            cp = c & 0x1Fu;
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            cp = c & 0x0Fu;
            length = 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            cp = c & 0x07u;
            length = 4;
        }
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (byte(i + k) & 0xC0) == 0x80;
            cp = (cp << 6) | (byte(i + k) & 0x3Fu);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not valid UTF-8.
        valid = valid && !(length == 3 && cp < 0x800) && !(length == 4 && cp < 0x10000) &&
                !(cp >= 0xD800 && cp <= 0xDFFF) && cp <= 0x10FFFF;
        if (!valid) {
            AppendUnit(out, 0xDC00u + c);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            AppendUnit(out, 0xD800u + (cp >> 10));
            AppendUnit(out, 0xDC00u + (cp & 0x3FF));
        } else {
            AppendUnit(out, cp);
        }
        i += length;
    }
    return out;
}

std::string Utf16LeToUtf8(const std::string& bytes) {
    std::string out;
    const std::size_t units = bytes.size() / 2;
    const auto unit = [&](std::size_t k) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * k])) |
               (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * k + 1])) << 8);
    };
    for (std::size_t k = 0; k < units; ++k) {
        const std::uint32_t u = unit(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units && unit(k + 1) >= 0xDC00 &&
            unit(k + 1) <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(k + 1) - 0xDC00));
            ++k;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out += static_cast<char>(u - 0xDC00);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

RegValue RegValue::String(std::string name, std::string text) {
    return RegValue{std::move(name), REG_SZ, std::move(text)};
}

RegValue RegValue::ExpandString(std::string name, std::string text) {
    return RegValue{std::move(name), REG_EXPAND_SZ, std::move(text)};
}

RegValue RegValue::DWord(std::string name, std::uint32_t number) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<char>((number >> (8 * i)) & 0xFF);
    }
    return RegValue{std::move(name), REG_DWORD, bytes};
}

RegValue RegValue::Binary(std::string name, std::string bytes) {
    return RegValue{std::move(name), REG_BINARY, std::move(bytes)};
}

std::uint32_t RegValue::AsDWord() const {
    if (data.size() < 4) {
        return 0;
    }
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i) {
        number = (number << 8) | static_cast<unsigned char>(data[static_cast<std::size_t>(i)]);
    }
    return number;
}

bool RegNamesEqual(const std::string& a, const std::string& b) {
    return EqualsNoCase(a, b);
}

std::string NormalizeKeyPath(const std::string& path) {
    std::string out;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto end = std::min(path.find('\\', start), path.size());
        if (end > start) {
            if (!out.empty()) {
                out += '\\';
            }
            out += path.substr(start, end - start);
        }
        start = end + 1;
    }
    return out;
}

namespace {

// Whether the first line that is not blank is the header (a byte-order mark before it is
// allowed); `index` ends after it.
bool ReadHeader(const std::vector<std::string>& lines, std::size_t& index) {
    std::string header = lines[index++];
    if (header.rfind("\xEF\xBB\xBF", 0) == 0) {
        header.erase(0, 3);
    }
    return Trim(header) == kHeader;
}

enum class TextStart { Blank, Header, Other };

// Steps past the blank lines and the header line that start a hive text; `index` ends after
// the header, or at the end of a text of nothing but blank lines.
TextStart ReadStart(const std::vector<std::string>& lines, std::size_t& index) {
    while (index < lines.size() && Trim(lines[index]).empty()) {
        ++index;
    }
    if (index == lines.size()) {
        return TextStart::Blank;
    }
    return ReadHeader(lines, index) ? TextStart::Header : TextStart::Other;
}

// Creates the key a key line names and gives its place among the hive's keys. Keys only grow
// while parsing, so the place stays valid for this key's lines.
std::size_t StartKey(RegHive& hive, const std::string& path) {
    hive.CreateKey(path);
    return static_cast<std::size_t>(hive.FindKey(path) - hive.Keys().data());
}

// The key path of a "[ROOT\path]" line below the root, or nothing when the line is damaged
// or names another root.
std::optional<std::string> KeyLinePath(const std::string& line, const std::string& rootName) {
    if (line.back() != ']') {
        return std::nullopt;
    }
    const std::string full = line.substr(1, line.size() - 2);
    const std::string root = full.substr(0, full.find('\\'));
    if (!EqualsNoCase(root, rootName)) {
        return std::nullopt;
    }
    return NormalizeKeyPath(full.substr(root.size()));
}

// The value of a `"name"=data` or `@=data` line; a hex list may go on over the following
// lines, each but the last ending with '\', and `index` ends on the last one.
std::optional<RegValue> ValueLine(const std::string& line, const std::vector<std::string>& lines,
                                  std::size_t& index) {
    std::string name;
    std::size_t pos = 0;
    if (line[0] == '@') {
        pos = 1;
    } else {
        auto quoted = ReadQuoted(line, pos);
        if (!quoted) {
            return std::nullopt;
        }
        name = *quoted;
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) {
        ++pos;
    }
    if (pos >= line.size() || line[pos] != '=') {
        return std::nullopt;
    }
    std::string data = Trim(line.substr(pos + 1));
    while (data.rfind("hex", 0) == 0 && !data.empty() && data.back() == '\\') {
        data.pop_back();
        if (++index >= lines.size()) {
            return std::nullopt;
        }
        data += Trim(lines[index]);
    }
    return ParseData(name, data);
}

} // namespace

std::optional<RegHive> RegHive::Parse(const std::string& text, const std::string& rootName,
                                      RegParse mode) {
    const std::vector<std::string> lines = TextLines(text);
    RegHive hive;
    std::size_t index = 0;
    const TextStart start = ReadStart(lines, index);
    if (start != TextStart::Header) {
        // A file with nothing in it holds no keys.
        return start == TextStart::Blank ? std::optional<RegHive>(hive) : std::nullopt;
    }
    const bool keep = mode == RegParse::KeepUnreadLines;
    std::optional<std::string> currentKey;
    std::string currentLower;
    std::size_t currentIndex = 0;
    std::unordered_set<std::string> seen;
    // Keeps lines [first, index] as they stand, with the key they stood in, or with the hive
    // when they stood in no readable key.
    const auto keepUnread = [&](std::size_t first) {
        auto& sink = currentKey ? hive.keys_[currentIndex].unreadLines : hive.unreadLines_;
        for (std::size_t i = first; i <= index && i < lines.size(); ++i) {
            sink.push_back(lines[i]);
        }
    };
    for (; index < lines.size(); ++index) {
        const std::string line = Trim(lines[index]);
        if (line.empty() || line[0] == ';') {
            continue;
        }
        if (line[0] == '[') {
            currentKey = KeyLinePath(line, rootName);
            if (!currentKey) {
                if (!keep) {
                    return std::nullopt;
                }
                keepUnread(index);
                continue;
            }
            currentIndex = StartKey(hive, *currentKey);
            currentLower = Lower(*currentKey) + '\n';
            continue;
        }
        const std::size_t first = index;
        auto value = currentKey ? ValueLine(line, lines, index) : std::nullopt;
        if (!value) {
            if (!keep) {
                return std::nullopt;
            }
            keepUnread(first);
            continue;
        }
        // Names seen once per key go straight in; a repeated one replaces the earlier value.
        if (seen.insert(currentLower + Lower(value->name)).second) {
            hive.keys_[currentIndex].values.push_back(std::move(*value));
        } else {
            hive.SetValue(*currentKey, *value);
        }
    }
    return hive;
}

std::string RegHive::Serialize(const std::string& rootName) const {
    std::vector<const RegKey*> sorted;
    for (const auto& key : keys_) {
        sorted.push_back(&key);
    }
    std::stable_sort(sorted.begin(), sorted.end(), [](const RegKey* a, const RegKey* b) {
        return SortKey(a->path) < SortKey(b->path);
    });
    std::string out = std::string(kHeader) + "\n\n";
    // Before any key, where they are read back as belonging to none.
    for (const std::string& line : unreadLines_) {
        out += line + "\n";
    }
    if (!unreadLines_.empty()) {
        out += "\n";
    }
    for (const RegKey* key : sorted) {
        out += "[" + rootName + (key->path.empty() ? "" : "\\" + key->path) + "]\n";
        for (const auto& value : key->values) {
            out += (value.name.empty() ? std::string("@") : Quote(value.name)) + "=" +
                   SerializeData(value) + "\n";
        }
        for (const std::string& line : key->unreadLines) {
            out += line + "\n";
        }
        out += "\n";
    }
    return out;
}

const RegKey* RegHive::FindKey(const std::string& path) const {
    const std::string normal = NormalizeKeyPath(path);
    for (const auto& key : keys_) {
        if (EqualsNoCase(key.path, normal)) {
            return &key;
        }
    }
    return nullptr;
}

RegKey* RegHive::FindKeyMutable(const std::string& path) {
    return const_cast<RegKey*>(static_cast<const RegHive*>(this)->FindKey(path));
}

bool RegHive::KeyExists(const std::string& path) const {
    return FindKey(path) != nullptr;
}

std::vector<std::string> RegHive::SubkeyNames(const std::string& path) const {
    const std::string normal = NormalizeKeyPath(path);
    std::vector<std::string> names;
    for (const auto& key : keys_) {
        if (IsBelow(key.path, normal) && EqualsNoCase(ParentOf(key.path), normal)) {
            names.push_back(key.path.substr(key.path.rfind('\\') + 1));
        }
    }
    return names;
}

bool RegHive::CreateKey(const std::string& path) {
    const std::string normal = NormalizeKeyPath(path);
    if (KeyExists(normal)) {
        return false;
    }
    // Parents first, outermost first; the root itself only exists when named on its own.
    std::size_t end = normal.empty() ? std::string::npos : normal.find('\\');
    while (end != std::string::npos) {
        const std::string parent = normal.substr(0, end);
        if (!KeyExists(parent)) {
            keys_.push_back(RegKey{parent, {}, {}});
        }
        end = normal.find('\\', end + 1);
    }
    keys_.push_back(RegKey{normal, {}, {}});
    return true;
}

bool RegHive::DeleteKeyTree(const std::string& path) {
    const std::string normal = NormalizeKeyPath(path);
    if (!KeyExists(normal)) {
        return false;
    }
    std::erase_if(keys_, [&](const RegKey& key) {
        return EqualsNoCase(key.path, normal) || IsBelow(key.path, normal);
    });
    return true;
}

bool RegHive::SetValue(const std::string& path, const RegValue& value) {
    RegKey* key = FindKeyMutable(path);
    if (key == nullptr) {
        return false;
    }
    for (auto& existing : key->values) {
        if (EqualsNoCase(existing.name, value.name)) {
            existing.type = value.type;
            existing.data = value.data;
            return true;
        }
    }
    key->values.push_back(value);
    return true;
}

bool RegHive::DeleteValue(const std::string& path, const std::string& name) {
    RegKey* key = FindKeyMutable(path);
    if (key == nullptr) {
        return false;
    }
    const auto before = key->values.size();
    std::erase_if(key->values,
                  [&](const RegValue& value) { return EqualsNoCase(value.name, name); });
    return key->values.size() != before;
}

bool RegHive::IsEmpty() const {
    if (!unreadLines_.empty()) {
        return false;
    }
    for (const auto& key : keys_) {
        if (!key.values.empty() || !key.unreadLines.empty()) {
            return false;
        }
        if (!key.path.empty() && !EqualsNoCase(key.path, "SOFTWARE")) {
            return false;
        }
    }
    return true;
}

} // namespace tintavo::platform
