#include "platform/SpecialFolders.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tintavo::platform {

namespace fs = std::filesystem;

namespace {

// The XDG base folder: the variable when it holds an absolute path (relative ones are to be
// ignored), else the default below HOME.
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

} // namespace

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
