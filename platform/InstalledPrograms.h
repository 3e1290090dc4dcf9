#pragma once

#include <string>
#include <vector>

namespace tintavo::platform {

// One entry of the installed-programs list: its display name, and the program file that the
// desktop entry's TryExec names (empty when it names none).
struct InstalledProgram {
    std::string name;
    std::string tryExec;
};

// The installed-programs list: one entry per desktop entry file, first those of
// $XDG_DATA_HOME/applications (the user's own), then those of each $XDG_DATA_DIRS folder's
// applications folder in order (default /usr/local/share:/usr/share); within a folder in
// file name order. Rebuilt at every call.
std::vector<InstalledProgram> InstalledPrograms();

// The display names of InstalledPrograms(), in the same order.
std::vector<std::string> InstalledProgramNames();

// The entry a desktop entry contributes: the plain Name= of its [Desktop Entry] group when
// present (a localised Name[xx]= does not count), else the file name without ".desktop".
std::string DesktopEntryDisplayName(const std::string& content, const std::string& fileName);

// The plain value of a key of the [Desktop Entry] group, trimmed; empty when absent.
std::string DesktopEntryValue(const std::string& content, const std::string& key);

} // namespace tintavo::platform
