#include "services/U_TovikUtils.h"

#include "platform/InstalledPrograms.h"
#include "platform/OsInfo.h"
#include "platform/PathUtils.h"
#include "platform/SpecialFolders.h"

#include <cerrno>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tintavo {

using platform::IncludeTrailingPathDelimiter;

namespace {

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool StartsWithIgnoringAsciiCase(const std::string& entry, const std::string& name) {
    const std::string head = entry.substr(0, name.size());
    if (head.size() != name.size()) {
        return false;
    }
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (AsciiUpper(head[i]) != AsciiUpper(name[i])) {
            return false;
        }
    }
    return true;
}

// Windows matches "*.SPK" without regard to case.
bool EndsWithIgnoringAsciiCase(const std::string& text, const std::string& tail) {
    if (tail.size() > text.size()) {
        return false;
    }
    return StartsWithIgnoringAsciiCase(text.substr(text.size() - tail.size()), tail);
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// Names of a folder's entries other than "." and "..".
std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir) {
        return names;
    }
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    return names;
}

bool IsRealFolder(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

bool IsInstalled(const std::string& productName) {
    for (const auto& entry : platform::InstalledProgramNames()) {
        if (StartsWithIgnoringAsciiCase(entry, productName)) {
            return true;
        }
    }
    return false;
}

std::string GetDataFolder(const std::string& programFilePath, const std::string& title) {
    std::string result = IncludeTrailingPathDelimiter(platform::ExtractFilePath(programFilePath));
    const std::string appData = GetSpecialFolder(platform::CSIDL_APPDATA);
    if (appData.empty()) {
        return result;
    }
    const std::string company =
        IncludeTrailingPathDelimiter(appData) + CompanyName + platform::PathDelim();
    CreateFolder(company);
    std::string folder = company + title;
    while (!folder.empty() && folder.back() == platform::PathDelim()) {
        folder.pop_back();
    }
    CreateFolder(folder);
    if (FolderExists(folder)) {
        result = IncludeTrailingPathDelimiter(folder);
    }
    return result;
}

std::string GetSpecialFolder(int csidl) {
    return platform::SpecialFolderPath(csidl);
}

bool CreateFolder(const std::string& path) {
    return !path.empty() && mkdir(path.c_str(), 0777) == 0;
}

bool FolderExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool DeleteTree(const std::string& folder, const std::string& extension) {
    const std::string base = IncludeTrailingPathDelimiter(folder);
    const bool everything = extension == "*";
    const std::string tail = "." + extension;
    for (const auto& name : FolderEntries(base)) {
        if (!everything && !EndsWithIgnoringAsciiCase(name, tail)) {
            continue;
        }
        const std::string path = base + name;
        if (IsRealFolder(path)) {
            DeleteTree(path, extension);
        } else {
            // A read-only file goes as well: only the folder's rights matter here.
            unlink(path.c_str());
        }
    }
    rmdir(base.c_str());
    return true;
}

void RemoveCompanyFolder() {
    const std::string appData = GetSpecialFolder(platform::CSIDL_APPDATA);
    if (appData.empty()) {
        return;
    }
    const std::string company = IncludeTrailingPathDelimiter(appData) + CompanyName;
    for (const auto& name : FolderEntries(company)) {
        if (IsRealFolder(company + platform::PathDelim() + name)) {
            return;
        }
    }
    rmdir(company.c_str());
}

std::string WindowsVersionText() {
    return platform::OsVersionText();
}

bool Is64BitWindows() {
    return platform::Is64BitSystem();
}

bool RunsAsAdministrator() {
    return platform::IsAdministrator();
}

std::string YesNoText(bool value) {
    return value ? "Yes" : "No";
}

std::string CleanVirtualStore(const std::string& programFolder) {
    const std::string localAppData = GetSpecialFolder(platform::CSIDL_LOCAL_APPDATA);
    if (localAppData.empty()) {
        return {};
    }
    // The program folder without its root, as Windows drops the drive.
    const std::string relative = programFolder.size() > 1 ? programFolder.substr(1) : "";
    const std::string shadow = IncludeTrailingPathDelimiter(localAppData) + "VirtualStore" +
                               platform::PathDelim() + relative;
    if (!FolderExists(shadow)) {
        return {};
    }
    DeleteTree(shadow, "SPK");
    return shadow;
}

} // namespace tintavo
