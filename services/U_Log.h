#pragma once

#include <ctime>
#include <deque>
#include <string>

namespace tintavo {

// Levels of a run-log line, passed as an integer.
enum LogLevel : int { LogVerbose = 0, LogInfo = 1, LogError = 2 };

// The run log: one plain text file of the current run, newest line first, rewritten whole
// after every kept line so that the file on disk is always complete. The old file of an
// earlier run is never read; the first line of a run replaces it.
//
// Line format: level name, TAB, "[yy-mm-dd hh:mm:ss]" in local time (the time separator of
// the user's LC_TIME), TAB, the message unchanged; every line ends with CR LF.
class TTovikLog {
public:
    // Stores the values; touches no file (the first kept line writes it).
    TTovikLog(std::string logPath, bool verbose, int maxLines);
    virtual ~TTovikLog() = default;
    TTovikLog(const TTovikLog&) = delete;
    TTovikLog& operator=(const TTovikLog&) = delete;

    // Adds one entry and rewrites the file. Verbose lines are dropped unless Verbose is set;
    // a level above 2 counts as Error, one below 0 as Verbose. The oldest entry goes when
    // the list would exceed MaxLines. A write failure is swallowed: the entry stays in the
    // list and reaches the file with the next successful write.
    void Add(const std::string& message, int level);

    // Opens the log file with the program the desktop associates with it (environment
    // references in the path expanded, no dialog on failure). False when it cannot, for
    // instance before the first line has created the file.
    bool Open() const;

    const std::string& LogPath() const { return LogPath_; }
    const std::deque<std::string>& Lines() const { return Lines_; }
    int MaxLines() const { return MaxLines_; }
    bool Verbose() const { return Verbose_; }

private:
    void WriteFile() const;

    std::string LogPath_;
    std::deque<std::string> Lines_;
    int MaxLines_;
    bool Verbose_;
    std::string TimeSeparator_;
};

// Adds through a slot that may still be empty; an empty slot does nothing.
void AddToLog(TTovikLog* log, const std::string& message, int level);

// The name a level is written with: "Verbose", "Info" or "Error" (above 2 is "Error").
const char* LogLevelName(int level);

// "[yy-mm-dd hh:mm:ss]" for a local time, with the given time separator between the hours,
// minutes and seconds.
std::string FormatLogTimeStamp(const std::tm& localTime, const std::string& timeSeparator);

// The full entry for a message: level name, TAB, time stamp, TAB, message.
std::string FormatLogEntry(const std::string& message, int level, const std::tm& localTime,
                           const std::string& timeSeparator);

} // namespace tintavo
