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

// How ReplaceThroughTemp went.
enum class ReplaceResult { Replaced, NoTempFile, WriteFailed, RenameFailed };

// Writes the bytes to a fresh file "<folder>/<stem>XXXXXX" with the mode, then puts it in the
// target's place in one step, so that a failed write never leaves half a file. The fresh
// file is removed again on any failure.
[[nodiscard]] inline ReplaceResult ReplaceThroughTemp(const std::string& folder,
                                                      const std::string& stem,
                                                      const std::string& target,
                                                      std::string_view bytes, mode_t mode) {
    std::string temp = folder + "/" + stem + "XXXXXX";
    Fd fd(::mkstemp(temp.data()));
    if (fd.Get() < 0) {
        return ReplaceResult::NoTempFile;
    }
    ::fchmod(fd.Get(), mode);
    const bool written = WriteAll(fd.Get(), bytes);
    const bool closed = ::close(fd.Release()) == 0;
    if (!written || !closed) {
        ::unlink(temp.c_str());
        return ReplaceResult::WriteFailed;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return ReplaceResult::RenameFailed;
    }
    return ReplaceResult::Replaced;
}

} // namespace tintavo::platform
