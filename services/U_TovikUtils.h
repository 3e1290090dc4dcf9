#pragma once

#include "platform/ProductIdentity.h"

#include <cstddef>
#include <stdexcept>
#include <string>

namespace tintavo {

// ---- Installation mode and data folder -------------------------------------------------

// True when some entry of the installed-programs list begins with the product name, letters
// A to Z compared without regard to case ("ORVANE TINTAVO 2.1" counts, "Orvane" does not).
// Runs the whole test again at every call.
bool IsInstalled(const std::string& productName);

// The data folder, ending with a separator: <application data>/Orvane/<title>/, created on
// every call; the program folder when that folder cannot be made (empty when not even the
// program's path is known).
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
// Failures are ignored; always returns true. An empty path or the root is left alone.
bool DeleteTree(const std::string& folder, const std::string& extension);

// Removes the company folder <application data>/Orvane/ when it holds no subfolder (it stays
// when files are left in it).
void RemoveCompanyFolder();

// ---- Settings store ----------------------------------------------------------------------

// A registry value could not be written; the text is the French message the platform's
// run-time library gives: "Echec à la définition des données pour '<value name>'".
class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The settings file could not be written: "Impossible d'écrire dans <file path>".
class SettingsFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The registry keys below the current user: the company key "SOFTWARE\Orvane" and the
// product key "SOFTWARE\Orvane\<title>".
std::string CompanyKeyPath();
std::string ProductKeyPath(const std::string& title);
// A string setting of the window kept under the product key: its text, empty when it is missing
// or not a plain string; and the write of one, best effort (false when it failed).
std::string ReadProductString(const std::string& title, const std::string& name);
bool KeepProductString(const std::string& title, const std::string& name, const std::string& value);
// The settings file's section.
inline constexpr const char* SettingsSection = "Settings";
// Limits of the settings import: the buffer for the section's names, in bytes, and the one
// for each value (so a value keeps at most 2047 bytes).
inline constexpr std::size_t SettingsNamesBufferSize = 16384;
inline constexpr std::size_t SettingsValueBufferSize = 2048;

// Writes the program's full path as the string value named after the title into the company
// key, creating the key when missing. Nothing happens when the key can be neither opened nor
// created; a failing write throws RegistryError naming the title.
void RecordProgramPath(const std::string& title, const std::string& programFilePath);

// Copies the "Settings" section of the settings file into the product key as string values
// (creating the key, also when the file is missing). Throws RegistryError naming the value
// whose write failed; the import stops there.
void ImportSettings(const std::string& title, const std::string& settingsFile);

// Copies the product key's plain string values into the file's "Settings" section (creating
// the key when missing); other value types stay behind, and lines of names no longer in the
// registry stay in the file. Throws SettingsFileError naming the file when it cannot be
// written; the export stops there.
void ExportSettings(const std::string& title, const std::string& settingsFile);

// Deletes the product key with everything below it; a missing key is no error.
void DeleteProductKey(const std::string& title);
// Deletes the program path value named after the title from the company key.
void DeleteProgramPath(const std::string& title);
// Deletes the company key when it holds neither subkeys nor values.
void DeleteCompanyKeyIfEmpty();

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
