#include "platform/SpecialFolders.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace tintavo::platform {

namespace fs = std::filesystem;

std::string XdgBaseFolder(const char* variable, const char* defaultBelowHome) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') {
        return value;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return (fs::path(home) / defaultBelowHome).string();
    }
    return {};
}

std::vector<std::string> XdgFolderList(const char* variable, const char* defaultList) {
    const char* value = std::getenv(variable);
    const std::string_view list = value != nullptr && value[0] != '\0' ? value : defaultList;
    std::vector<std::string> folders;
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto end = std::min(list.find(':', start), list.size());
        const std::string_view entry = list.substr(start, end - start);
        if (!entry.empty() && entry[0] == '/') {
            folders.emplace_back(entry);
        }
        start = end + 1;
    }
    return folders;
}

std::string SpecialFolderPath(int csidl) {
    std::string folder;
    switch (csidl) {
    case CSIDL_APPDATA:
        folder = XdgBaseFolder("XDG_DATA_HOME", ".local/share");
        break;
    case CSIDL_LOCAL_APPDATA:
        folder = XdgBaseFolder("XDG_STATE_HOME", ".local/state");
        break;
    default:
        return {};
    }
    if (folder.empty()) {
        return {};
    }
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        // The base folders exist on any set-up account; a fresh one gets them as the XDG
        // rules ask, readable by the user only.
        fs::create_directories(folder, ec);
        if (ec || !fs::is_directory(folder, ec)) {
            return {};
        }
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    }
    return folder;
}

} // namespace tintavo::platform
