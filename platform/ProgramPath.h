#pragma once

#include <optional>
#include <string>

namespace tintavo::platform {

// Full path of the running program file (from /proc/self/exe); empty when the system does not
// tell it.
std::string ProgramFilePath();

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
