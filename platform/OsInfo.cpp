#include "platform/OsInfo.h"

#include "platform/AsciiText.h"
#include "platform/PosixIo.h"

#include <array>
#include <clocale>
#include <cstdio>
#include <langinfo.h>
#include <locale.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace tintavo::platform {

namespace {

std::string ReadTextFile(const char* path) {
    return ReadFileUpTo(path, 64 * 1024).value_or(std::string());
}

// The PRETTY_NAME of an os-release text, its quotes and shell escapes removed.
std::string PrettyName(const std::string& osRelease) {
    for (const std::string& line : TextLines(osRelease)) {
        const std::string key = "PRETTY_NAME=";
        if (line.rfind(key, 0) != 0) {
            continue;
        }
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            const char quote = value.front();
            value = value.substr(1, value.size() - 2);
            if (quote == '"') {
                std::string unescaped;
                for (std::size_t i = 0; i < value.size(); ++i) {
                    if (value[i] == '\\' && i + 1 < value.size()) {
                        ++i;
                    }
                    unescaped += value[i];
                }
                value = unescaped;
            }
        }
        return value;
    }
    return {};
}

} // namespace

std::string LinuxVersionText(const std::string& kernelName, const std::string& kernelRelease,
                             const std::string& osRelease) {
    std::string text = kernelName;
    if (!kernelRelease.empty()) {
        text += text.empty() ? kernelRelease : " " + kernelRelease;
    }
    const std::string pretty = PrettyName(osRelease);
    if (!pretty.empty()) {
        text += text.empty() ? pretty : " (" + pretty + ")";
    }
    return text.empty() ? "Unknown" : text;
}

std::string OsVersionText() {
    struct utsname names {};
    std::string sysname;
    std::string release;
    if (uname(&names) == 0) {
        sysname = names.sysname;
        release = names.release;
    }
    std::string osRelease = ReadTextFile("/etc/os-release");
    if (osRelease.empty()) {
        osRelease = ReadTextFile("/usr/lib/os-release");
    }
    return LinuxVersionText(sysname, release, osRelease);
}

std::string WindowsVersionTextFromInfo(const WindowsVersionInfo& info) {
    if (!info.versionQueryOk) {
        return "Unknown";
    }
    std::array<char, 32> numbers{};
    if (info.platformId == 1) {
        std::snprintf(numbers.data(), numbers.size(), "%u.%u", info.major, info.minor);
        std::string suffix = " (Unknown)";
        if (info.major == 4 && info.minor == 0) {
            suffix = " (95)";
        } else if (info.major == 4 && info.minor == 10) {
            suffix =
                info.servicePack.size() >= 2 && info.servicePack[1] == 'A' ? " (98SE)" : " (98)";
        } else if (info.major == 4 && info.minor == 90) {
            suffix = " (ME)";
        }
        return numbers.data() + suffix;
    }
    if (info.platformId == 2) {
        if (!info.workstationQueryOk) {
            return "Unknown";
        }
        const unsigned major = info.workstationMajor;
        const unsigned minor = info.workstationMinor;
        std::snprintf(numbers.data(), numbers.size(), "%u.%u", major, minor);
        struct Name {
            unsigned major;
            unsigned minor;
            const char* suffix;
        };
        static constexpr std::array<Name, 7> kNames = {{
            {5, 0, " (Windows 2000)"},
            {5, 1, " (Windows XP)"},
            {6, 0, " (Vista)"},
            {6, 1, " (Seven)"},
            {6, 2, " (Windows8)"},
            {6, 3, " (Windows8.1)"},
            {10, 0, " (Windows10)"},
        }};
        for (const auto& name : kNames) {
            if (name.major == major && name.minor == minor) {
                return numbers.data() + std::string(name.suffix);
            }
        }
        return numbers.data();
    }
    return "Unknown";
}

bool Is64BitMachineName(const std::string& machine) {
    static constexpr std::array<const char*, 8> k64 = {"x86_64", "amd64",   "aarch64", "arm64",
                                                       "ppc64",  "ppc64le", "s390x",   "riscv64"};
    for (const char* name : k64) {
        if (machine == name) {
            return true;
        }
    }
    // mips64, sparc64, loongarch64 and the like.
    return machine.find("64") != std::string::npos;
}

bool Is64BitSystem() {
    struct utsname names {};
    return uname(&names) == 0 && Is64BitMachineName(names.machine);
}

bool IsAdministrator() {
    return geteuid() == 0;
}

std::string TimeSeparatorFromTimeFormat(const std::string& timeFormat) {
    for (std::size_t i = 0; i + 1 < timeFormat.size(); ++i) {
        if (timeFormat[i] != '%') {
            continue;
        }
        std::size_t conv = i + 1;
        if (timeFormat[conv] == 'E' || timeFormat[conv] == 'O') {
            ++conv;
        }
        if (conv >= timeFormat.size()) {
            break;
        }
        const char c = timeFormat[conv];
        if (c == 'T' || c == 'R' || c == 'r') {
            return ":";
        }
        if (c == 'H' || c == 'I' || c == 'k' || c == 'l') {
            const auto minutes = timeFormat.find("%M", conv + 1);
            const auto alt = timeFormat.find("%OM", conv + 1);
            const auto end = std::min(minutes, alt);
            if (end != std::string::npos && end > conv + 1) {
                return timeFormat.substr(conv + 1, end - conv - 1);
            }
            return ":";
        }
        i = conv;
    }
    return ":";
}

std::string LocaleTimeSeparator() {
    // The user's LC_TIME as the environment sets it, without touching the process locale.
    locale_t userLocale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (userLocale == static_cast<locale_t>(nullptr)) {
        return ":";
    }
    const std::string format = nl_langinfo_l(T_FMT, userLocale);
    freelocale(userLocale);
    return TimeSeparatorFromTimeFormat(format);
}

} // namespace tintavo::platform
