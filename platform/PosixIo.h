#pragma once

#include <cerrno>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tintavo::platform {

// An owned file descriptor, closed when the object ends.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    [[nodiscard]] int Get() const { return fd_; }
    [[nodiscard]] int Release() {
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

// How reading a whole file went.
enum class ReadStatus { Ok, Missing, Failed, TooLarge };

// What ReadWholeFile read: on TooLarge, the file's first `limit` bytes.
struct FileContent {
    ReadStatus status = ReadStatus::Failed;
    std::string bytes;
};

// Reads a whole file through its descriptor, never more than `limit` bytes. A folder or
// another file that cannot be read fails; a file that does not exist is Missing.
[[nodiscard]] inline FileContent ReadWholeFile(const std::string& path, std::size_t limit) {
    FileContent result;
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        result.status = errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
        return result;
    }
    char buffer[65536];
    while (true) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            result.bytes.clear();
            return result;
        }
        if (got == 0) {
            result.status = ReadStatus::Ok;
            return result;
        }
        result.bytes.append(buffer, static_cast<std::size_t>(got));
        if (result.bytes.size() > limit) {
            result.bytes.resize(limit);
            result.status = ReadStatus::TooLarge;
            return result;
        }
    }
}

// The whole file's bytes up to `limit` (a longer file is cut there), or nothing when the file
// cannot be read.
[[nodiscard]] inline std::optional<std::string> ReadFileUpTo(const std::string& path,
                                                             std::size_t limit) {
    FileContent content = ReadWholeFile(path, limit);
    if (content.status == ReadStatus::Ok || content.status == ReadStatus::TooLarge) {
        return std::move(content.bytes);
    }
    return std::nullopt;
}

// Writes every byte to the descriptor, going on after short writes and interruptions.
// False on the first real error.
[[nodiscard]] inline bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t done = ::write(fd, bytes.data(), bytes.size());
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(done));
    }
    return true;
}

// The file a path leads to: symbolic links followed, relative ones from their own folder, as
// the system follows them; the path itself when it is no link. Nothing when the links go
// round in a loop or one cannot be read.
[[nodiscard]] inline std::optional<std::string> FollowLinks(std::string path) {
    constexpr int kMaxLinks = 40; // the system's own limit
    for (int hops = 0; hops <= kMaxLinks; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return path;
        }
        std::string target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1,
                           '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
            return std::nullopt;
        }
        target.resize(static_cast<std::size_t>(length));
        if (target.empty()) {
            return std::nullopt;
        }
        if (target[0] != '/') {
            const auto slash = path.rfind('/');
            target =
                (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + target;
        }
        path = std::move(target);
    }
    return std::nullopt;
}

// The folder part of a path for opening files in it ("." when there is none).
[[nodiscard]] inline std::string FolderOfPath(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Makes what was written into a folder (a new name, a rename) survive a crash.
inline bool SyncFolder(const std::string& folder) {
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.Get() >= 0 && ::fsync(fd.Get()) == 0;
}

// How ReplaceThroughTemp went.
enum class ReplaceResult { Replaced, NoTempFile, WriteFailed, RenameFailed };

// Writes the bytes to a fresh file "<stem>XXXXXX" beside the file the target leads to, then
// puts it in that file's place in one step, so that a failed write never leaves half a file
// and a crash leaves either the old content or the new one, never an empty file: the new
// content reaches the disk before the rename, the rename before this returns. A symbolic
// link stays and the file it leads to gets the content. An existing file keeps its
// permissions (and, where allowed, its owner); a new one gets `mode`. The fresh file is
// removed again on any failure.
[[nodiscard]] inline ReplaceResult ReplaceThroughTemp(const std::string& target,
                                                      const std::string& stem,
                                                      std::string_view bytes, mode_t mode) {
    const std::optional<std::string> file = FollowLinks(target);
    if (!file) {
        return ReplaceResult::RenameFailed;
    }
    const std::string folder = FolderOfPath(*file);
    struct stat existing {};
    const bool exists = ::stat(file->c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    std::string temp = folder + "/" + stem + "XXXXXX";
    Fd fd(::mkstemp(temp.data()));
    if (fd.Get() < 0) {
        return ReplaceResult::NoTempFile;
    }
    if (exists && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())) {
        // Only the owner (or an administrator) may do this; elsewise the new file is ours.
        (void)::fchown(fd.Get(), existing.st_uid, existing.st_gid);
    }
    ::fchmod(fd.Get(), exists ? (existing.st_mode & 07777) : mode);
    const bool written = WriteAll(fd.Get(), bytes) && ::fsync(fd.Get()) == 0;
    const bool closed = ::close(fd.Release()) == 0;
    if (!written || !closed) {
        ::unlink(temp.c_str());
        return ReplaceResult::WriteFailed;
    }
    if (::rename(temp.c_str(), file->c_str()) != 0) {
        ::unlink(temp.c_str());
        return ReplaceResult::RenameFailed;
    }
    // The rename is done; a folder that cannot be synced changes nothing about the outcome.
    (void)SyncFolder(folder);
    return ReplaceResult::Replaced;
}

} // namespace tintavo::platform
