#include "platform/SpecialFolders.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>
#include <system_error>

namespace tintavo::platform {

namespace fs = std::filesystem;

bool CreatePrivateFolders(const std::string& path) {
    struct stat info {};
    if (path.empty()) {
        return false;
    }
    if (::stat(path.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode);
    }
    // Outermost first, so that each new level is made by this call with its own mode.
    for (std::size_t end = path.find('/', 1); end != std::string::npos;
         end = path.find('/', end + 1)) {
        const std::string level = path.substr(0, end);
        if (::stat(level.c_str(), &info) != 0) {
            ::mkdir(level.c_str(), 0700);
        }
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

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
        if (!CreatePrivateFolders(folder)) {
            return {};
        }
    }
    return folder;
}

} // namespace tintavo::platform
