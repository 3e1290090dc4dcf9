#pragma once

#include <optional>
#include <string>

namespace tintavo::platform {

// Full path of the running program file (from /proc/self/exe); empty when the system does not
// tell it.
std::string ProgramFilePath();

// The path through which to read the file that `path` names: "/proc/self/exe" when `path` is
// the running program's own file as the system reports it, else `path` itself. So the
// program reads the very file that runs, also after a package upgrade replaced it on disk
// (the reported path then ends in " (deleted)" and names nothing).
std::string PathForReading(const std::string& path);

// The folder of the running program file, with a trailing separator.
std::string ProgramFolder();

// Makes ProgramFilePath answer the given path for the life of the object, so that tests can
// place a program (and the settings file beside it) in a sandbox. Not thread-safe; nests.
class ScopedProgramPathOverride {
public:
    explicit ScopedProgramPathOverride(std::string programFilePath);
    ~ScopedProgramPathOverride();
    ScopedProgramPathOverride(const ScopedProgramPathOverride&) = delete;
    ScopedProgramPathOverride& operator=(const ScopedProgramPathOverride&) = delete;

private:
    std::optional<std::string> previous_;
};

} // namespace tintavo::platform
