#include "platform/Registry.h"

#include "platform/PosixIo.h"
#include "platform/ProductIdentity.h"
#include "platform/SpecialFolders.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace tintavo::platform {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCompanyFolder = CompanyName;
constexpr const char* kHiveName = "registry.reg";
constexpr const char* kLockName = "registry.lock";
// A hive is a small text; anything larger is not taken for one.
constexpr off_t kMaxHiveSize = 64 * 1024 * 1024;
// How often the lock is tried again when another process removed the lock file meanwhile.
constexpr int kLockAttempts = 1000;
// How long a change waits for another process to let go of the lock: a copy that hangs while
// holding it must not hang this one, window included. The change then fails as a write would.
constexpr std::chrono::milliseconds kDefaultLockWait{5000};
// The pauses between two tries grow from the first to the longest.
constexpr std::chrono::milliseconds kFirstLockPause{1};
constexpr std::chrono::milliseconds kLongestLockPause{50};

std::atomic<std::chrono::milliseconds::rep> lockWaitMs{kDefaultLockWait.count()};
std::atomic<bool> lockTimedOut{false};

std::string ConfigHome() {
    return XdgBaseFolder("XDG_CONFIG_HOME", ".config");
}

// A file descriptor that closes itself.

enum class ReadResult { Ok, Missing, Failed };

ReadResult ReadHiveFile(const std::string& path, std::string& content) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        content.clear();
        return ReadResult::Failed;
    }
    FileContent read = ReadWholeFile(path, static_cast<std::size_t>(kMaxHiveSize));
    content = read.status == ReadStatus::Ok ? std::move(read.bytes) : std::string();
    switch (read.status) {
    case ReadStatus::Ok:
        return ReadResult::Ok;
    case ReadStatus::Missing:
        return ReadResult::Missing;
    default:
        return ReadResult::Failed;
    }
}

// Writes the text to a fresh file beside the target and puts it in the target's place; a new
// hive is readable by its owner only.
bool ReplaceFile(const std::string& target, const std::string& text) {
    return ReplaceThroughTemp(target, std::string(".") + kHiveName + ".", text, 0600) ==
           ReplaceResult::Replaced;
}

// Moves an unreadable hive aside for whoever wants to look at it: to registry.reg.bad, or,
// when an earlier one is kept there, to the first free registry.reg.bad.N, so that no kept
// copy is ever replaced.
bool MoveAside(const std::string& hivePath) {
    constexpr int kMaxKeptCopies = 100;
    for (int n = 1; n <= kMaxKeptCopies; ++n) {
        const std::string kept = hivePath + ".bad" + (n == 1 ? "" : "." + std::to_string(n));
        if (::renameat2(AT_FDCWD, hivePath.c_str(), AT_FDCWD, kept.c_str(), RENAME_NOREPLACE) ==
            0) {
            return true;
        }
        // A file system without the no-replace rename: a new name never replaces one either.
        if ((errno == EINVAL || errno == ENOSYS) && ::link(hivePath.c_str(), kept.c_str()) == 0) {
            return ::unlink(hivePath.c_str()) == 0;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

// Holds the exclusive lock on the hive's lock file. Lock files may be removed by the process
// that leaves the hive empty, so after locking, the file is checked to still be the one at
// the path; otherwise the lock is taken again on the new file.
class HiveLock {
public:
    explicit HiveLock(const std::string& folder) : lockPath_(folder + "/" + kLockName) {
        // Once a wait has run out, later changes try once and fail at once until the lock is
        // had again: a window writing several values must not stall for each of them.
        const auto deadline =
            std::chrono::steady_clock::now() +
            std::chrono::milliseconds(lockTimedOut.load() ? 0 : lockWaitMs.load());
        for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
            CreatePrivateFolders(folder);
            Fd fd(::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
            if (fd.Get() < 0) {
                if (errno == ENOENT) {
                    continue; // the folder went away between the two calls
                }
                return;
            }
            if (!LockBefore(fd.Get(), deadline)) {
                return;
            }
            lockTimedOut.store(false);
            struct stat held {};
            struct stat atPath {};
            if (::fstat(fd.Get(), &held) == 0 && ::stat(lockPath_.c_str(), &atPath) == 0 &&
                held.st_dev == atPath.st_dev && held.st_ino == atPath.st_ino) {
                fd_.Reset(fd.Release());
                return;
            }
        }
    }
    bool Held() const { return fd_.Get() >= 0; }
    // Removes the lock file while still holding it, so that no one else locks it again.
    void RemoveLockFile() { ::unlink(lockPath_.c_str()); }

private:
    // Tries the lock without blocking until it is had or the deadline has passed.
    static bool LockBefore(int fd, std::chrono::steady_clock::time_point deadline) {
        auto pause = kFirstLockPause;
        while (true) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                return true;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) {
                return false;
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                lockTimedOut.store(true);
                return false;
            }
            std::this_thread::sleep_for(
                std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
            pause = std::min(pause * 2, kLongestLockPause);
        }
    }

    std::string lockPath_;
    Fd fd_;
};

RegHive ParseOrEmpty(const std::string& text, RegRoot root) {
    auto hive = RegHive::Parse(text, RegRootName(root), RegParse::KeepUnreadLines);
    return hive ? std::move(*hive) : RegHive();
}

} // namespace

const char* RegRootName(RegRoot root) {
    return root == RegRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::string UserHivePath() {
    const std::string home = ConfigHome();
    return home.empty() ? std::string() : home + "/" + kCompanyFolder + "/" + kHiveName;
}

std::string MachineHivePath() {
    for (const std::string& dir : XdgFolderList("XDG_CONFIG_DIRS", "/etc/xdg")) {
        const std::string path = dir + "/" + kCompanyFolder + "/" + kHiveName;
        std::error_code ec;
        if (fs::is_regular_file(path, ec)) {
            return path;
        }
    }
    return {};
}

RegHive ReadHive(RegRoot root) {
    const std::string path = root == RegRoot::CurrentUser ? UserHivePath() : MachineHivePath();
    std::string text;
    if (path.empty() || ReadHiveFile(path, text) != ReadResult::Ok) {
        return RegHive();
    }
    return ParseOrEmpty(text, root);
}

bool RegKeyExists(RegRoot root, const std::string& path) {
    return ReadHive(root).KeyExists(path);
}

std::optional<std::vector<RegValue>> RegReadValues(RegRoot root, const std::string& path) {
    const RegHive hive = ReadHive(root);
    const RegKey* key = hive.FindKey(path);
    if (key == nullptr) {
        return std::nullopt;
    }
    return key->values;
}

std::optional<RegValue> RegReadValue(RegRoot root, const std::string& path,
                                     const std::string& name) {
    const auto values = RegReadValues(root, path);
    if (!values) {
        return std::nullopt;
    }
    for (const auto& value : *values) {
        if (RegNamesEqual(value.name, name)) {
            return value;
        }
    }
    return std::nullopt;
}

std::vector<std::string> RegSubkeyNames(RegRoot root, const std::string& path) {
    return ReadHive(root).SubkeyNames(path);
}

void SetHiveLockWaitForTests(std::chrono::milliseconds wait) {
    lockWaitMs.store(wait.count());
    lockTimedOut.store(false);
}

bool RegUpdateUserHive(const std::function<bool(RegHive&)>& change) {
    const std::string hivePath = UserHivePath();
    if (hivePath.empty()) {
        return false;
    }
    const std::string folder = hivePath.substr(0, hivePath.rfind('/'));
    HiveLock lock(folder);
    if (!lock.Held()) {
        return false;
    }
    std::string text;
    const ReadResult read = ReadHiveFile(hivePath, text);
    bool present = read == ReadResult::Ok;
    RegHive hive;
    if (read == ReadResult::Ok) {
        // Damaged lines are kept as they stand; only a file that is no hive at all is moved
        // aside, and a fresh hive started.
        auto parsed =
            RegHive::Parse(text, RegRootName(RegRoot::CurrentUser), RegParse::KeepUnreadLines);
        if (parsed) {
            hive = std::move(*parsed);
        } else {
            if (!MoveAside(hivePath)) {
                return false;
            }
            present = false;
        }
    } else if (read == ReadResult::Failed) {
        struct stat info {};
        if (::stat(hivePath.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_size > kMaxHiveSize && MoveAside(hivePath)) {
            present = false;
        } else {
            return false;
        }
    }
    const bool changed = change(hive);
    if (hive.IsEmpty()) {
        if (present && ::unlink(hivePath.c_str()) != 0) {
            return false;
        }
        lock.RemoveLockFile();
        ::rmdir(folder.c_str());
        return true;
    }
    if (!changed && present) {
        return true;
    }
    return ReplaceFile(hivePath, hive.Serialize(RegRootName(RegRoot::CurrentUser)));
}

bool RegCreateKey(const std::string& path) {
    return RegUpdateUserHive([&](RegHive& hive) { return hive.CreateKey(path); });
}

bool RegSetValue(const std::string& path, const RegValue& value) {
    bool done = false;
    const bool written = RegUpdateUserHive([&](RegHive& hive) {
        done = hive.SetValue(path, value);
        return done;
    });
    return written && done;
}

bool RegDeleteValue(const std::string& path, const std::string& name) {
    bool done = false;
    const bool written = RegUpdateUserHive([&](RegHive& hive) {
        done = hive.DeleteValue(path, name);
        return done;
    });
    return written && done;
}

bool RegDeleteKeyTree(const std::string& path) {
    bool done = false;
    const bool written = RegUpdateUserHive([&](RegHive& hive) {
        done = hive.DeleteKeyTree(path);
        return done;
    });
    return written && done;
}

bool RegDeleteKeyIfEmpty(const std::string& path) {
    bool done = false;
    const bool written = RegUpdateUserHive([&](RegHive& hive) {
        const RegKey* key = hive.FindKey(path);
        if (key == nullptr || !key->values.empty() || !hive.SubkeyNames(path).empty()) {
            return false;
        }
        done = hive.DeleteKeyTree(path);
        return done;
    });
    return written && done;
}

} // namespace tintavo::platform
