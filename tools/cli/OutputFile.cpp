#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

namespace tintavo::cli {

namespace {

// The temporary file being written, for the signal handler (a fixed buffer: the handler may
// only call async-signal-safe functions).
char pendingPath[4096];
volatile std::sig_atomic_t pendingSet = 0;

extern "C" void RemovePendingAndDie(int signal) {
    if (pendingSet != 0) {
        unlink(pendingPath);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

struct PendingFile {
    explicit PendingFile(const std::string& path) {
        if (path.size() < sizeof pendingPath) {
            std::memcpy(pendingPath, path.c_str(), path.size() + 1);
            pendingSet = 1;
        }
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            std::signal(signal, RemovePendingAndDie);
        }
    }
    ~PendingFile() {
        pendingSet = 0;
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            std::signal(signal, SIG_DFL);
        }
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

[[noreturn]] void Fail(const std::filesystem::path& target, const std::string& reason) {
    throw std::runtime_error(target.string() + ": " + reason);
}

mode_t DefaultFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

} // namespace

void WriteAtomically(const std::filesystem::path& target,
                     const std::function<void(std::FILE* file)>& write) {
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        Fail(target, std::string("cannot create the file: ") + std::strerror(errno));
    }
    const PendingFile pending(temporary);
    std::unique_ptr<std::FILE, FileCloser> file(fdopen(fd, "wb"));
    bool done = false;
    struct Cleanup {
        const std::string& path;
        const bool& done;
        ~Cleanup() {
            if (!done) {
                unlink(path.c_str());
            }
        }
    } cleanup{temporary, done};
    if (!file) {
        close(fd);
        Fail(target, std::string("cannot create the file: ") + std::strerror(errno));
    }
    try {
        write(file.get());
    } catch (const std::exception& error) {
        Fail(target, error.what());
    }
    if (std::fflush(file.get()) != 0 || fchmod(fd, DefaultFileMode()) != 0 || fsync(fd) != 0) {
        Fail(target, std::string("cannot write the file: ") + std::strerror(errno));
    }
    if (std::fclose(file.release()) != 0) {
        Fail(target, std::string("cannot write the file: ") + std::strerror(errno));
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        Fail(target, std::string("cannot replace the file: ") + std::strerror(errno));
    }
    done = true;
}

} // namespace tintavo::cli
