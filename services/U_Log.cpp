#include "services/U_Log.h"

#include "platform/OsInfo.h"
#include "platform/PathUtils.h"
#include "platform/ShellLaunch.h"

#include <array>
#include <cstdio>
#include <memory>

namespace tintavo {

TTovikLog::TTovikLog(std::string logPath, bool verbose, int maxLines)
    : LogPath_(std::move(logPath)), MaxLines_(maxLines), Verbose_(verbose),
      TimeSeparator_(platform::LocaleTimeSeparator()) {}

void TTovikLog::Add(const std::string& message, int level) {
    if (level <= LogVerbose && !Verbose_) {
        return;
    }
    level = level > LogError ? LogError : (level < LogVerbose ? LogVerbose : level);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    Lines_.push_front(FormatLogEntry(message, level, local, TimeSeparator_));
    if (static_cast<long long>(Lines_.size()) > MaxLines_ && !Lines_.empty()) {
        Lines_.pop_back();
    }
    WriteFile();
}

void TTovikLog::WriteFile() const {
    std::string content;
    std::size_t size = 0;
    for (const auto& line : Lines_) {
        size += line.size() + 2;
    }
    content.reserve(size);
    for (const auto& line : Lines_) {
        content += line;
        content += "\r\n";
    }
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    // Any failure (folder gone, no rights, disk full) leaves the entries in memory for the
    // next write; the caller is never told.
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(LogPath_.c_str(), "wb"));
    if (file) {
        std::fwrite(content.data(), 1, content.size(), file.get());
    }
}

bool TTovikLog::Open() const {
    return platform::ShellOpen(platform::ExpandEnvironmentReferences(LogPath_));
}

void AddToLog(TTovikLog* log, const std::string& message, int level) {
    if (log != nullptr) {
        log->Add(message, level);
    }
}

const char* LogLevelName(int level) {
    if (level <= LogVerbose) {
        return "Verbose";
    }
    return level == LogInfo ? "Info" : "Error";
}

std::string FormatLogTimeStamp(const std::tm& localTime, const std::string& timeSeparator) {
    std::array<char, 64> date{};
    std::snprintf(date.data(), date.size(), "[%02d-%02d-%02d %02d", localTime.tm_year % 100,
                  localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour);
    std::array<char, 8> minutes{};
    std::snprintf(minutes.data(), minutes.size(), "%02d", localTime.tm_min);
    std::array<char, 8> seconds{};
    std::snprintf(seconds.data(), seconds.size(), "%02d", localTime.tm_sec);
    return std::string(date.data()) + timeSeparator + minutes.data() + timeSeparator +
           seconds.data() + "]";
}

std::string FormatLogEntry(const std::string& message, int level, const std::tm& localTime,
                           const std::string& timeSeparator) {
    return std::string(LogLevelName(level)) + '\t' + FormatLogTimeStamp(localTime, timeSeparator) +
           '\t' + message;
}

} // namespace tintavo
