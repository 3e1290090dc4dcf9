#pragma once

#include <string>

namespace tintavo::platform {

// The system text of the environment report: kernel name and release plus the distribution's
// PRETTY_NAME, e.g. "Linux 6.1.0 (Debian GNU/Linux 12 (bookworm))"; "Unknown" when nothing
// can be read.
std::string OsVersionText();

// OsVersionText from its parts: the uname fields and the text of an os-release file (empty
// when none could be read).
std::string LinuxVersionText(const std::string& kernelName, const std::string& kernelRelease,
                             const std::string& osRelease);

// What the Windows version query reports, for WindowsVersionTextFromInfo.
struct WindowsVersionInfo {
    bool versionQueryOk = false; // GetVersionExA succeeded
    unsigned platformId = 0;     // 1: the 9x family, 2: the NT family
    unsigned major = 0;          // the version query's numbers (9x family)
    unsigned minor = 0;
    std::string servicePack;         // szCSDVersion
    bool workstationQueryOk = false; // NetWkstaGetInfo at level 100 answered 0
    unsigned workstationMajor = 0;   // its numbers (NT family)
    unsigned workstationMinor = 0;
};

// The Windows text of the environment report, from the platform's answers: "4.10 (98SE)",
// "10.0 (Windows10)", "5.2", "Unknown"... Kept for the Windows backend.
std::string WindowsVersionTextFromInfo(const WindowsVersionInfo& info);

// True when the machine runs a 64-bit system.
bool Is64BitSystem();

// The machine word of the running system (uname's machine field), e.g. "x86_64".
bool Is64BitMachineName(const std::string& machine);

// True when the program runs with administrator rights: effective user id 0.
bool IsAdministrator();

// The time separator of the user's regional settings (LC_TIME), ":" in most locales.
std::string LocaleTimeSeparator();

// The separator between hours and minutes in a strftime time format such as "%H:%M:%S" or
// "%H.%M.%S"; ":" when the format does not tell.
std::string TimeSeparatorFromTimeFormat(const std::string& timeFormat);

} // namespace tintavo::platform
