#pragma once

#include <stdexcept>
#include <string>

namespace tintavo {

// ---- Installation mode and data folder -------------------------------------------------

// The name under which the program is registered among the installed programs.
inline constexpr const char* ProductName = "Orvane Tintavo";
// The maker's folder and registry key name.
inline constexpr const char* CompanyName = "Orvane";

// True when some entry of the installed-programs list begins with the product name, letters
// A to Z compared without regard to case ("ORVANE TINTAVO 2.1" counts, "Orvane" does not).
// Runs the whole test again at every call.
bool IsInstalled(const std::string& productName);

// The data folder, ending with a separator: <application data>/Orvane/<title>/, created on
// every call; the program folder when that folder cannot be made.
std::string GetDataFolder(const std::string& programFilePath, const std::string& title);

// The folder of a CSIDL number (CSIDL_APPDATA, CSIDL_LOCAL_APPDATA), or empty.
std::string GetSpecialFolder(int csidl);

// Creates one folder level; returns success.
bool CreateFolder(const std::string& path);

// True when the path names an existing folder (not a file).
bool FolderExists(const std::string& path);

// Deletes the entries of a folder whose names end in "." followed by the extension ("*" for
// every entry), entering matching subfolders with the same rule, then removes the folder if
// it became empty. Read-only files go too; symbolic links are removed, never followed.
// Failures are ignored; always returns true.
bool DeleteTree(const std::string& folder, const std::string& extension);

// Removes the company folder <application data>/Orvane/ when it holds no subfolder (it stays
// when files are left in it).
void RemoveCompanyFolder();

// ---- Environment report ------------------------------------------------------------------

// The system line of the report ("Windows : " followed by it).
std::string WindowsVersionText();
// True on a 64-bit system.
bool Is64BitWindows();
// True when the program runs with administrator rights.
bool RunsAsAdministrator();
// "Yes" or "No".
std::string YesNoText(bool value);

// ---- VirtualStore clean-up ---------------------------------------------------------------

// Deletes the .SPK files of the program folder's shadow folder
// <local application data>/VirtualStore/<program folder without its root>, and the shadow
// folder when nothing else is left. Returns the shadow folder's path when it existed, else
// an empty text.
std::string CleanVirtualStore(const std::string& programFolder);

} // namespace tintavo
