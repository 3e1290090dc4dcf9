#include "platform/ProgramPath.h"

#include "platform/PathUtils.h"

#include <filesystem>
#include <system_error>

namespace tintavo::platform {

namespace {
std::optional<std::string>& Override() {
    static std::optional<std::string> path;
    return path;
}
} // namespace

std::string ProgramFilePath() {
    if (Override()) {
        return *Override();
    }
    std::error_code ec;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

std::string PathForReading(const std::string& path) {
    constexpr const char* kSelf = "/proc/self/exe";
    std::error_code ec;
    const auto running = std::filesystem::read_symlink(kSelf, ec);
    return !ec && !path.empty() && running.string() == path ? std::string(kSelf) : path;
}

std::string ProgramFolder() {
    return ExtractFilePath(ProgramFilePath());
}

ScopedProgramPathOverride::ScopedProgramPathOverride(std::string programFilePath)
    : previous_(Override()) {
    Override() = std::move(programFilePath);
}

ScopedProgramPathOverride::~ScopedProgramPathOverride() {
    Override() = previous_;
}

} // namespace tintavo::platform
