#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tintavo::platform {

// Value types of the registry, by their Windows numbers.
enum RegType : std::uint32_t {
    REG_NONE = 0,
    REG_SZ = 1,        // plain string
    REG_EXPAND_SZ = 2, // string with environment references
    REG_BINARY = 3,
    REG_DWORD = 4,
};

// One named value. For the two string types the data is the text itself (UTF-8, no
// terminating NUL); for REG_DWORD its four bytes, least significant first; for any other
// type the raw bytes.
struct RegValue {
    std::string name; // empty for the key's default value
    std::uint32_t type = REG_SZ;
    std::string data;

    static RegValue String(std::string name, std::string text);
    static RegValue ExpandString(std::string name, std::string text);
    static RegValue DWord(std::string name, std::uint32_t number);
    static RegValue Binary(std::string name, std::string bytes);
    // The number of a REG_DWORD value (0 for data shorter than four bytes).
    std::uint32_t AsDWord() const;

    bool operator==(const RegValue&) const = default;
};

// One key: its path below the root ("SOFTWARE\Orvane"), as first written, and its values in
// the order they were first set; lines of the key that could not be read are kept as they
// stood, to be written again after its values.
struct RegKey {
    std::string path;
    std::vector<RegValue> values;
    std::vector<std::string> unreadLines;
};

// How a hive text is read: Strict refuses the whole text at its first damaged line;
// KeepUnreadLines takes what can be read and keeps each damaged line as it stands (with the
// lines after a damaged key line, up to the next key), so that a hive written again loses
// nothing. Either way a text without the header line is refused.
enum class RegParse { Strict, KeepUnreadLines };

// A registry hive held in memory, read from and written to the registry export text format
// ("Windows Registry Editor Version 5.00", [key] lines naming the root, "name"="string",
// dword:, hex(2): and hex: values). Key paths and value names compare without regard to the
// case of A to Z, as in the registry. Creating a key creates its parents too.
class RegHive {
public:
    // Parses the text of a hive file whose key lines name the given root
    // ("HKEY_CURRENT_USER"). Reads CRLF and LF line ends and continued hex lines. Empty when
    // the text does not parse.
    static std::optional<RegHive> Parse(const std::string& text, const std::string& rootName,
                                        RegParse mode = RegParse::Strict);
    // The text of the hive: LF line ends, the lines that stood before any readable key first,
    // then the keys sorted with parents before children.
    std::string Serialize(const std::string& rootName) const;

    bool KeyExists(const std::string& path) const;
    const RegKey* FindKey(const std::string& path) const;
    // The names of the key's direct subkeys, as written.
    std::vector<std::string> SubkeyNames(const std::string& path) const;
    // Creates the key and its missing parents; returns true when something was created.
    bool CreateKey(const std::string& path);
    // Deletes the key with everything below it; false when it did not exist.
    bool DeleteKeyTree(const std::string& path);
    // Sets a value of an existing key (replacing a value of that name, whose name keeps its
    // first spelling); false when the key does not exist.
    bool SetValue(const std::string& path, const RegValue& value);
    // Deletes a value; false when the key or the value does not exist.
    bool DeleteValue(const std::string& path, const std::string& name);

    // True when the hive holds nothing worth keeping: no values, no unread lines, and no keys
    // but the root and the standard top-level SOFTWARE key, which always exist on the system
    // this imitates.
    bool IsEmpty() const;

    const std::vector<RegKey>& Keys() const { return keys_; }
    // Unread lines that belong to no readable key.
    const std::vector<std::string>& UnreadLines() const { return unreadLines_; }

private:
    RegKey* FindKeyMutable(const std::string& path);
    std::vector<RegKey> keys_;
    std::vector<std::string> unreadLines_;
};

// True when two key or value names are the same for the registry (case of A to Z ignored).
bool RegNamesEqual(const std::string& a, const std::string& b);

// The key path in its normal form: separators '\', none doubled, none at either end.
std::string NormalizeKeyPath(const std::string& path);

// Text to UTF-16LE bytes and back, as the registry stores string data in hex form. Bytes that
// are not valid UTF-8 travel as the code units U+DC80..U+DCFF, so any text survives the
// round trip.
std::string Utf8ToUtf16Le(const std::string& text);
std::string Utf16LeToUtf8(const std::string& bytes);

} // namespace tintavo::platform
