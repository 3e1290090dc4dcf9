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

// A number after `key` in a file of "key value" lines (meminfo, a cgroup's memory.stat).
std::optional<std::uint64_t> KeyedNumber(const std::string& path, const std::string& key) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
            (line[key.size()] == ' ' || line[key.size()] == ':')) {
            return Number(line.substr(key.size() + 1));
        }
    }
    return std::nullopt;
}

std::uint64_t SystemAvailable() {
    if (const auto kib = KeyedNumber("/proc/meminfo", "MemAvailable")) {
        return *kib * 1024;
    }
    const long pages = sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) {
        return Unlimited;
    }
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

// What is left under a cgroup's limit. Its usage counts the file cache, which the kernel gives
// back before it refuses memory, so that is left out.
std::uint64_t CgroupLeft(const std::string& folder, const char* limitFile, const char* usageFile,
                         const char* cacheKey) {
    const auto limit = FileNumber(folder + limitFile); // "max" reads as no number: no limit
    const auto used = FileNumber(folder + usageFile);
    if (!limit || !used) {
        return Unlimited;
    }
    const std::uint64_t cache = KeyedNumber(folder + "/memory.stat", cacheKey).value_or(0);
    const std::uint64_t held = *used > cache ? *used - cache : 0;
    return *limit > held ? *limit - held : 0;
}

// What is left under the memory cgroup the process runs in: version 2 ("0::/path") or the
// version 1 memory controller ("N:memory:/path").
std::uint64_t CgroupAvailable() {
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    std::uint64_t left = Unlimited;
    while (std::getline(in, line)) {
        if (line.rfind("0::", 0) == 0) {
            left = std::min(left, CgroupLeft("/sys/fs/cgroup" + line.substr(3), "/memory.max",
                                             "/memory.current", "file"));
        } else if (const std::size_t at = line.find(":memory:"); at != std::string::npos) {
            left = std::min(left, CgroupLeft("/sys/fs/cgroup/memory" + line.substr(at + 8),
                                             "/memory.limit_in_bytes", "/memory.usage_in_bytes",
                                             "total_cache"));
        }
    }
    return left;
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
