#include "engine/MemoryBudget.h"

#include "engine/EngineError.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <optional>
#include <string>

namespace tintavo {

namespace {

constexpr std::uint64_t Unlimited = std::numeric_limits<std::uint64_t>::max();

std::optional<std::uint64_t> Number(const std::string& text) {
    std::uint64_t value = 0;
    const char* first = text.data();
    while (first != text.data() + text.size() && *first == ' ') {
        ++first;
    }
    const auto [end, error] = std::from_chars(first, text.data() + text.size(), value);
    if (error != std::errc() || end == first) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint64_t> FileNumber(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    if (!std::getline(in, text)) {
        return std::nullopt;
    }
    return Number(text);
}

std::uint64_t SystemAvailable() {
    std::ifstream in("/proc/meminfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("MemAvailable:", 0) == 0) {
            if (const auto kib = Number(line.substr(13))) {
                return *kib * 1024;
            }
        }
    }
    const long pages = sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) {
        return Unlimited;
    }
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

// What is left under the cgroup (version 2) the process runs in, when it has a limit.
std::uint64_t CgroupAvailable() {
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("0::", 0) != 0) {
            continue;
        }
        const std::string folder = "/sys/fs/cgroup" + line.substr(3);
        const auto limit = FileNumber(folder + "/memory.max"); // "max" reads as no number
        const auto used = FileNumber(folder + "/memory.current");
        if (limit && used) {
            return *limit > *used ? *limit - *used : 0;
        }
    }
    return Unlimited;
}

// What is left under the address-space limit (ulimit -v), when one is set.
std::uint64_t AddressSpaceAvailable() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return Unlimited;
    }
    std::ifstream in("/proc/self/statm");
    std::uint64_t pages = 0;
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (!(in >> pages) || pageSize <= 0) {
        return Unlimited;
    }
    const std::uint64_t used = pages * static_cast<std::uint64_t>(pageSize);
    return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

} // namespace

std::uint64_t AvailableMemory() {
    return std::min({SystemAvailable(), CgroupAvailable(), AddressSpaceAvailable()});
}

void RequireMemory(std::uint64_t bytes) {
    if (bytes > AvailableMemory()) {
        throw EngineError("Can't allocate the DIB handle");
    }
}

} // namespace tintavo
