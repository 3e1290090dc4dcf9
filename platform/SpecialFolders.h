#pragma once

#include <string>

namespace tintavo::platform {

// The per-user folders the program asks for, by the numbers the Windows shell gives them.
constexpr int CSIDL_APPDATA = 26;       // roaming application data: $XDG_DATA_HOME
constexpr int CSIDL_LOCAL_APPDATA = 28; // local application data: $XDG_STATE_HOME

// The folder for a CSIDL number, without a trailing separator, created (private to the user)
// when missing. Empty when the number is unknown, when neither the XDG variable nor HOME
// gives an absolute path, or when the folder cannot be made.
std::string SpecialFolderPath(int csidl);

} // namespace tintavo::platform
