#pragma once

#include <string>
#include <vector>

namespace tintavo::platform {

// The per-user folders the program asks for, by the numbers the Windows shell gives them.
constexpr int CSIDL_APPDATA = 26;       // roaming application data: $XDG_DATA_HOME
constexpr int CSIDL_LOCAL_APPDATA = 28; // local application data: $XDG_STATE_HOME

// The folder for a CSIDL number, without a trailing separator, created (private to the user)
// when missing. Empty when the number is unknown, when neither the XDG variable nor HOME
// gives an absolute path, or when the folder cannot be made.
std::string SpecialFolderPath(int csidl);

// An XDG base folder: the variable when it holds an absolute path (relative ones are to be
// ignored), else the default below HOME; empty when neither gives an absolute path.
std::string XdgBaseFolder(const char* variable, const char* defaultBelowHome);

// An XDG folder list: the variable's ':'-separated entries (the default list when the
// variable is unset or empty), absolute ones only, in order.
std::vector<std::string> XdgFolderList(const char* variable, const char* defaultList);

} // namespace tintavo::platform
