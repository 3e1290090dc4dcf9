#include "platform/Registry.h"

#include "platform/PosixIo.h"
#include "platform/ProductIdentity.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
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

std::string ConfigHome() {
    const char* value = std::getenv("XDG_CONFIG_HOME");
    if (value != nullptr && value[0] == '/') {
        return value;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return (fs::path(home) / ".config").string();
    }
    return {};
}

// A file descriptor that closes itself.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_;
};

enum class ReadResult { Ok, Missing, Failed };

// Reads a whole file through its descriptor, never past its end and never more than the
// size limit.
ReadResult ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxHiveSize) {
        return ReadResult::Failed;
    }
    char buffer[65536];
    while (true) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return ReadResult::Failed;
        }
        if (got == 0) {
            return ReadResult::Ok;
        }
        content.append(buffer, static_cast<std::size_t>(got));
        if (content.size() > static_cast<std::size_t>(kMaxHiveSize)) {
            return ReadResult::Failed;
        }
    }
}

// Writes the text to a fresh file beside the target and puts it in the target's place.
bool ReplaceFile(const std::string& folder, const std::string& target, const std::string& text) {
    std::string temp = folder + "/." + kHiveName + ".XXXXXX";
    Fd fd(::mkstemp(temp.data()));
    if (fd.Get() < 0) {
        return false;
    }
    ::fchmod(fd.Get(), 0600);
    const bool written = WriteAll(fd.Get(), text);
    const bool closed = ::close(fd.Release()) == 0;
    if (!written || !closed || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

// Holds the exclusive lock on the hive's lock file. Lock files may be removed by the process
// that leaves the hive empty, so after locking, the file is checked to still be the one at
// the path; otherwise the lock is taken again on the new file.
class HiveLock {
public:
    explicit HiveLock(const std::string& folder) : lockPath_(folder + "/" + kLockName) {
        for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
            std::error_code ec;
            fs::create_directories(folder, ec);
            Fd fd(::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
            if (fd.Get() < 0) {
                if (errno == ENOENT) {
                    continue; // the folder went away between the two calls
                }
                return;
            }
            int locked = 0;
            while ((locked = ::flock(fd.Get(), LOCK_EX)) != 0 && errno == EINTR) {
            }
            if (locked != 0) {
                return;
            }
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
    std::string lockPath_;
    Fd fd_;
};

RegHive ParseOrEmpty(const std::string& text, RegRoot root) {
    auto hive = RegHive::Parse(text, RegRootName(root));
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
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    const std::string list = dirs != nullptr && dirs[0] != '\0' ? dirs : "/etc/xdg";
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto end = std::min(list.find(':', start), list.size());
        const std::string dir = list.substr(start, end - start);
        if (!dir.empty() && dir[0] == '/') {
            const std::string path = dir + "/" + kCompanyFolder + "/" + kHiveName;
            std::error_code ec;
            if (fs::is_regular_file(path, ec)) {
                return path;
            }
        }
        start = end + 1;
    }
    return {};
}

RegHive ReadHive(RegRoot root) {
    const std::string path = root == RegRoot::CurrentUser ? UserHivePath() : MachineHivePath();
    std::string text;
    if (path.empty() || ReadWholeFile(path, text) != ReadResult::Ok) {
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
    const ReadResult read = ReadWholeFile(hivePath, text);
    bool present = read == ReadResult::Ok;
    RegHive hive;
    if (read == ReadResult::Ok) {
        auto parsed = RegHive::Parse(text, RegRootName(RegRoot::CurrentUser));
        if (parsed) {
            hive = std::move(*parsed);
        } else {
            // Keep the unreadable file for whoever wants to look at it; start afresh.
            if (::rename(hivePath.c_str(), (hivePath + ".bad").c_str()) != 0) {
                return false;
            }
            present = false;
        }
    } else if (read == ReadResult::Failed) {
        struct stat info {};
        if (::stat(hivePath.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_size > kMaxHiveSize &&
            ::rename(hivePath.c_str(), (hivePath + ".bad").c_str()) == 0) {
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
    return ReplaceFile(folder, hivePath, hive.Serialize(RegRootName(RegRoot::CurrentUser)));
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
