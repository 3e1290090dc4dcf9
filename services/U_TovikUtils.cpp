#include "services/U_TovikUtils.h"

#include "platform/AsciiText.h"
#include "platform/InstalledPrograms.h"
#include "platform/OsInfo.h"
#include "platform/PathUtils.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramPath.h"
#include "platform/Registry.h"
#include "platform/SpecialFolders.h"

#include <cerrno>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace tintavo {

using platform::IncludeTrailingPathDelimiter;

namespace {

// Names of a folder's entries other than "." and ".."; none when it cannot be read.
std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    return names;
}

bool IsRealFolder(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// An entry whose TryExec names a program file by its full path belongs to that copy of the
// program only: the installed copy runs installed, and another copy on the same machine (a
// build tree, a copy on a removable drive) stays portable. An entry without one, or whose
// program file is not known, counts by its name alone.
bool BelongsToThisCopy(const platform::InstalledProgram& entry) {
    if (entry.tryExec.empty() || entry.tryExec[0] != '/') {
        return true;
    }
    const std::string self = platform::ProgramFilePath();
    if (self.empty()) {
        return true;
    }
    std::error_code ec;
    return std::filesystem::equivalent(entry.tryExec, self, ec) && !ec;
}

} // namespace

bool IsInstalled(const std::string& productName) {
    for (const auto& entry : platform::InstalledPrograms()) {
        if (platform::StartsNoCase(entry.name, productName) && BelongsToThisCopy(entry)) {
            return true;
        }
    }
    return false;
}

std::string GetDataFolder(const std::string& programFilePath, const std::string& title) {
    // No program folder is known only when the system does not tell the program's path; the
    // result then stays empty rather than becoming the root folder.
    const std::string programFolder = platform::ExtractFilePath(programFilePath);
    std::string result =
        programFolder.empty() ? std::string() : IncludeTrailingPathDelimiter(programFolder);
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
    // The data folders hold the user's pictures and log: readable by the user only, as the
    // XDG rules ask of a program's data.
    return !path.empty() && mkdir(path.c_str(), 0700) == 0;
}

bool FolderExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool DeleteTree(const std::string& folder, const std::string& extension) {
    // An empty path or the root is never a folder of ours to empty.
    if (folder.find_first_not_of(platform::PathDelim()) == std::string::npos) {
        return true;
    }
    const std::string base = IncludeTrailingPathDelimiter(folder);
    const bool everything = extension == "*";
    const std::string tail = "." + extension;
    for (const auto& name : FolderEntries(base)) {
        if (!everything && !platform::EndsNoCase(name, tail)) {
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

std::string CompanyKeyPath() {
    return std::string("SOFTWARE\\") + CompanyName;
}

std::string ProductKeyPath(const std::string& title) {
    return CompanyKeyPath() + "\\" + title;
}

std::string ReadProductString(const std::string& title, const std::string& name) {
    const auto value =
        platform::RegReadValue(platform::RegRoot::CurrentUser, ProductKeyPath(title), name);
    if (!value || value->type != platform::REG_SZ) {
        return {};
    }
    return value->data;
}

bool KeepProductString(const std::string& title, const std::string& name,
                       const std::string& value) {
    return platform::RegSetValue(ProductKeyPath(title), platform::RegValue::String(name, value));
}

namespace {

[[noreturn]] void ThrowValueNotSet(const std::string& name) {
    throw RegistryError("Echec à la définition des données pour '" + name + "'");
}

} // namespace

void RecordProgramPath(const std::string& title, const std::string& programFilePath) {
    // Opening (or creating) the company key and writing the value go in one step; when that
    // step fails, the key that could be opened tells a failed write from a key that was not
    // available.
    const bool written = platform::RegUpdateUserHive([&](platform::RegHive& hive) {
        hive.CreateKey(CompanyKeyPath());
        return hive.SetValue(CompanyKeyPath(), platform::RegValue::String(title, programFilePath));
    });
    if (!written && platform::RegKeyExists(platform::RegRoot::CurrentUser, CompanyKeyPath())) {
        ThrowValueNotSet(title);
    }
}

void ImportSettings(const std::string& title, const std::string& settingsFile) {
    const std::string key = ProductKeyPath(title);
    if (!platform::RegCreateKey(key) &&
        !platform::RegKeyExists(platform::RegRoot::CurrentUser, key)) {
        return;
    }
    const auto entries = platform::ProfileSectionValues(
        settingsFile, SettingsSection, SettingsNamesBufferSize, SettingsValueBufferSize);
    if (entries.empty()) {
        return;
    }
    std::vector<platform::RegValue> values;
    for (const auto& [name, value] : entries) {
        values.push_back(platform::RegValue::String(name, value));
    }
    // All values go in one step, so the other programs sharing the hive never see half an
    // import and a large section costs one rewrite. When that step fails, the import stopped
    // at its first value.
    bool keyGone = false;
    const bool written = platform::RegUpdateUserHive([&](platform::RegHive& hive) {
        for (const auto& value : values) {
            if (!hive.SetValue(key, value)) {
                keyGone = true;
                return false;
            }
        }
        return true;
    });
    if (!written || keyGone) {
        ThrowValueNotSet(entries.front().first);
    }
}

void ExportSettings(const std::string& title, const std::string& settingsFile) {
    const std::string key = ProductKeyPath(title);
    if (!platform::RegCreateKey(key) &&
        !platform::RegKeyExists(platform::RegRoot::CurrentUser, key)) {
        return;
    }
    const auto values = platform::RegReadValues(platform::RegRoot::CurrentUser, key);
    if (!values) {
        return;
    }
    for (const auto& value : *values) {
        if (value.type != platform::REG_SZ) {
            continue;
        }
        if (!platform::WriteProfileString(settingsFile, SettingsSection, value.name, value.data)) {
            throw SettingsFileError("Impossible d'écrire dans " + settingsFile);
        }
    }
}

void DeleteProductKey(const std::string& title) {
    platform::RegDeleteKeyTree(ProductKeyPath(title));
}

void DeleteProgramPath(const std::string& title) {
    platform::RegCreateKey(CompanyKeyPath());
    platform::RegDeleteValue(CompanyKeyPath(), title);
}

void DeleteCompanyKeyIfEmpty() {
    platform::RegDeleteKeyIfEmpty(CompanyKeyPath());
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
