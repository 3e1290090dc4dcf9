#include "platform/InstalledPrograms.h"

#include "platform/AsciiText.h"
#include "platform/PosixIo.h"
#include "platform/SpecialFolders.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

namespace tintavo::platform {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kDesktopSuffix = ".desktop";
// A desktop entry is a short text; a larger file is not read whole.
constexpr std::size_t kMaxDesktopEntrySize = 1 << 20;

std::vector<fs::path> ApplicationFolders() {
    std::vector<fs::path> folders;
    const std::string dataHome = XdgBaseFolder("XDG_DATA_HOME", ".local/share");
    if (!dataHome.empty()) {
        folders.emplace_back(fs::path(dataHome) / "applications");
    }
    for (const auto& dir : XdgFolderList("XDG_DATA_DIRS", "/usr/local/share:/usr/share")) {
        folders.emplace_back(fs::path(dir) / "applications");
    }
    return folders;
}

std::string Trim(std::string_view text) {
    return TrimBlanks(text, " \t\r");
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
            if (const auto content = ReadFileUpTo(file.string(), kMaxDesktopEntrySize)) {
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
