#include "platform/ProfileFile.h"

#include "platform/AsciiText.h"
#include "platform/PosixIo.h"
#include "platform/RegistryHive.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace tintavo::platform {

namespace {

struct ProfileText {
    std::vector<std::string> lines;
    std::string lineEnd = "\n";
    // Editors that save with a byte-order mark would otherwise hide the first section header.
    bool byteOrderMark = false;
};

std::optional<std::string> ReadFile(const std::string& path) {
    return ReadFileUpTo(path, std::string::npos - 1);
}

ProfileText SplitProfile(const std::string& content) {
    ProfileText text;
    if (content.find("\r\n") != std::string::npos) {
        text.lineEnd = "\r\n";
    }
    std::string_view body = content;
    if (body.starts_with("\xEF\xBB\xBF")) {
        text.byteOrderMark = true;
        body.remove_prefix(3);
    }
    text.lines = TextLines(body);
    return text;
}

std::string Trim(std::string_view text) {
    return TrimBlanks(text);
}

// The section name of a "[name]" line.
std::optional<std::string> SectionOf(const std::string& line) {
    const std::string trimmed = Trim(line);
    if (trimmed.size() < 2 || trimmed.front() != '[') {
        return std::nullopt;
    }
    const auto close = trimmed.find(']');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    return Trim(trimmed.substr(1, close - 1));
}

struct Entry {
    std::string name;
    std::string value;
};

// The name and value of a "name=value" line; nothing for comments and other lines.
std::optional<Entry> EntryOf(const std::string& line) {
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == ';') {
        return std::nullopt;
    }
    const auto equals = trimmed.find('=');
    if (equals == std::string::npos) {
        return std::nullopt;
    }
    Entry entry{Trim(trimmed.substr(0, equals)), Trim(trimmed.substr(equals + 1))};
    if (entry.value.size() >= 2 && (entry.value.front() == '"' || entry.value.front() == '\'') &&
        entry.value.back() == entry.value.front()) {
        entry.value = entry.value.substr(1, entry.value.size() - 2);
    }
    return entry;
}

// Index range [first, last) of the lines of the first section of that name, first being the
// line after its header; nothing when there is no such section.
std::optional<std::pair<std::size_t, std::size_t>>
FindSection(const std::vector<std::string>& lines, const std::string& section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = SectionOf(lines[i]);
        if (name && RegNamesEqual(*name, section)) {
            std::size_t end = i + 1;
            while (end < lines.size() && !SectionOf(lines[end])) {
                ++end;
            }
            return std::make_pair(i + 1, end);
        }
    }
    return std::nullopt;
}

// The text cut to at most maxBytes bytes, never inside a UTF-8 character.
std::string CutAtCharacter(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text;
    }
    std::size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return text.substr(0, cut);
}

// Writes the content through a temporary file that replaces the target, so that a failed
// write never leaves half a file; where the folder admits no new file, writes in place.
bool StoreFile(const std::string& path, const std::string& content) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        return false;
    }
    // Replacing the file by a rename would get round its protection: a write-protected
    // settings file stays as it is and the write fails, as it would in place.
    const mode_t writeBits = S_IWUSR | S_IWGRP | S_IWOTH;
    if (exists && ((existing.st_mode & writeBits) == 0 || ::access(path.c_str(), W_OK) != 0)) {
        return false;
    }
    switch (ReplaceThroughTemp(folder, ".settings.", path, content,
                               exists ? (existing.st_mode & 07777) : 0644)) {
    case ReplaceResult::Replaced:
        return true;
    case ReplaceResult::WriteFailed:
        return false;
    case ReplaceResult::NoTempFile:
    case ReplaceResult::RenameFailed:
        break;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written = WriteAll(fd, content);
    return ::close(fd) == 0 && written;
}

} // namespace

namespace {

// The names of the section's lines as they come through the buffer, with the value of the
// first line of each name (cut to the value buffer).
std::vector<std::pair<std::string, std::string>> ReadSection(const ProfileText& text,
                                                             const std::string& section,
                                                             std::size_t namesBufferSize,
                                                             std::size_t valueBufferSize) {
    std::vector<std::pair<std::string, std::string>> result;
    const auto range = FindSection(text.lines, section);
    if (!range || namesBufferSize < 2) {
        return result;
    }
    std::vector<Entry> entries;
    for (std::size_t i = range->first; i < range->second; ++i) {
        if (auto entry = EntryOf(text.lines[i])) {
            entries.push_back(std::move(*entry));
        }
    }
    // The first line of each name gives its value, whatever the case of its letters.
    std::unordered_map<std::string, std::string> firstValues;
    for (const auto& entry : entries) {
        firstValues.emplace(Lower(entry.name), entry.value);
    }
    const std::size_t valueLimit = valueBufferSize > 0 ? valueBufferSize - 1 : 0;
    const auto valueOf = [&](const std::string& name) {
        const auto found = firstValues.find(Lower(name));
        return found == firstValues.end() ? std::string()
                                          : CutAtCharacter(found->second, valueLimit);
    };
    // Room for the names and their NULs, the final NUL aside.
    std::size_t room = namesBufferSize - 1;
    for (const auto& entry : entries) {
        if (entry.name.empty()) {
            continue;
        }
        if (entry.name.size() + 1 <= room) {
            result.emplace_back(entry.name, valueOf(entry.name));
            room -= entry.name.size() + 1;
            continue;
        }
        // The buffer is full: the last name comes cut, as the platform hands it.
        const std::string cut = CutAtCharacter(entry.name, room > 0 ? room - 1 : 0);
        if (!cut.empty()) {
            result.emplace_back(cut, valueOf(cut));
        }
        break;
    }
    return result;
}

} // namespace

std::vector<std::pair<std::string, std::string>> ProfileSectionValues(const std::string& file,
                                                                      const std::string& section,
                                                                      std::size_t namesBufferSize,
                                                                      std::size_t valueBufferSize) {
    const auto content = ReadFile(file);
    if (!content) {
        return {};
    }
    return ReadSection(SplitProfile(*content), section, namesBufferSize, valueBufferSize);
}

std::vector<std::string> ProfileSectionNames(const std::string& file, const std::string& section,
                                             std::size_t bufferSize) {
    std::vector<std::string> names;
    for (auto& entry : ProfileSectionValues(file, section, bufferSize, 1)) {
        names.push_back(std::move(entry.first));
    }
    return names;
}

std::string ProfileString(const std::string& file, const std::string& section,
                          const std::string& name, const std::string& defaultValue,
                          std::size_t bufferSize) {
    const std::size_t limit = bufferSize > 0 ? bufferSize - 1 : 0;
    const auto content = ReadFile(file);
    if (content) {
        const ProfileText text = SplitProfile(*content);
        const auto range = FindSection(text.lines, section);
        for (std::size_t i = range ? range->first : 0; range && i < range->second; ++i) {
            const auto entry = EntryOf(text.lines[i]);
            if (entry && RegNamesEqual(entry->name, name)) {
                return CutAtCharacter(entry->value, limit);
            }
        }
    }
    return CutAtCharacter(defaultValue, limit);
}

bool WriteProfileString(const std::string& file, const std::string& section,
                        const std::string& name, const std::string& value) {
    std::string oneLine = value;
    for (char& c : oneLine) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    const std::string newLine = name + "=" + oneLine;
    std::string content;
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0) {
        const auto read = ReadFile(file);
        if (!read) {
            return false;
        }
        content = *read;
    }
    ProfileText text = SplitProfile(content);
    if (const auto range = FindSection(text.lines, section)) {
        std::size_t insertAt = range->first;
        bool replaced = false;
        for (std::size_t i = range->first; i < range->second; ++i) {
            const auto entry = EntryOf(text.lines[i]);
            if (entry && RegNamesEqual(entry->name, name)) {
                text.lines[i] = newLine;
                replaced = true;
                break;
            }
            if (!Trim(text.lines[i]).empty()) {
                insertAt = i + 1;
            }
        }
        if (!replaced) {
            text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(insertAt), newLine);
        }
    } else {
        text.lines.push_back("[" + section + "]");
        text.lines.push_back(newLine);
    }
    std::string out = text.byteOrderMark ? "\xEF\xBB\xBF" : "";
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        out += text.lines[i];
        out += text.lineEnd;
    }
    return StoreFile(file, out);
}

} // namespace tintavo::platform
