#include "platform/InstalledPrograms.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

namespace tintavo::platform {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kDesktopSuffix = ".desktop";
// A desktop entry is a short text; a larger file is not read whole.
constexpr std::size_t kMaxDesktopEntrySize = 1 << 20;

std::vector<std::string> SplitColonList(const std::string& list) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto end = std::min(list.find(':', start), list.size());
        if (end > start) {
            parts.push_back(list.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

std::vector<fs::path> ApplicationFolders() {
    std::vector<fs::path> folders;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome != nullptr && dataHome[0] == '/') {
        folders.emplace_back(fs::path(dataHome) / "applications");
    } else if (home != nullptr && home[0] == '/') {
        folders.emplace_back(fs::path(home) / ".local/share/applications");
    }
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    const std::string dirs =
        dataDirs != nullptr && dataDirs[0] != '\0' ? dataDirs : "/usr/local/share:/usr/share";
    for (const auto& dir : SplitColonList(dirs)) {
        if (dir[0] == '/') {
            folders.emplace_back(fs::path(dir) / "applications");
        }
    }
    return folders;
}

std::optional<std::string> ReadSmallFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string content;
    content.resize(kMaxDesktopEntrySize);
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return content;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

} // namespace

std::string DesktopEntryValue(const std::string& content, const std::string& key) {
    bool inEntryGroup = false;
    std::size_t start = 0;
    while (start < content.size()) {
        auto end = content.find('\n', start);
        if (end == std::string::npos) {
            end = content.size();
        }
        const std::string line = Trim(content.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line[0] == '[') {
            inEntryGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntryGroup || line.rfind(key, 0) != 0) {
            continue;
        }
        const auto equals = line.find('=');
        if (equals != std::string::npos && Trim(line.substr(0, equals)) == key) {
            const std::string value = Trim(line.substr(equals + 1));
            if (!value.empty()) {
                return value;
            }
        }
    }
    return {};
}

std::string DesktopEntryDisplayName(const std::string& content, const std::string& fileName) {
    if (std::string name = DesktopEntryValue(content, "Name"); !name.empty()) {
        return name;
    }
    std::string base = fileName;
    if (base.size() >= kDesktopSuffix.size() &&
        base.compare(base.size() - kDesktopSuffix.size(), kDesktopSuffix.size(), kDesktopSuffix) ==
            0) {
        base.resize(base.size() - kDesktopSuffix.size());
    }
    return base;
}

std::vector<InstalledProgram> InstalledPrograms() {
    std::vector<InstalledProgram> programs;
    for (const auto& folder : ApplicationFolders()) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
             it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.size() > kDesktopSuffix.size() &&
                name.compare(name.size() - kDesktopSuffix.size(), kDesktopSuffix.size(),
                             kDesktopSuffix) == 0 &&
                it->is_regular_file(ec)) {
                files.push_back(it->path());
            }
        }
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            // An entry that cannot be read contributes nothing.
            if (const auto content = ReadSmallFile(file)) {
                programs.push_back({DesktopEntryDisplayName(*content, file.filename().string()),
                                    DesktopEntryValue(*content, "TryExec")});
            }
        }
    }
    return programs;
}

std::vector<std::string> InstalledProgramNames() {
    std::vector<std::string> names;
    for (auto& program : InstalledPrograms()) {
        names.push_back(std::move(program.name));
    }
    return names;
}

} // namespace tintavo::platform
