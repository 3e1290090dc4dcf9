#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>

namespace tintavo::cli {

namespace {

// The temporary files being written, for the signal handler: fixed buffers, since the handler
// may only call async-signal-safe functions. Outputs beyond the slots are still written whole
// or not at all; an interrupt just leaves their temporary file behind.
struct PendingSlot {
    char path[4096];
    volatile std::sig_atomic_t used;
};
constexpr std::size_t SlotCount = 64;
PendingSlot pendingSlots[SlotCount];
std::mutex slotsMutex;

extern "C" void RemovePendingAndDie(int signal) {
    for (PendingSlot& slot : pendingSlots) {
        if (slot.used != 0) {
            unlink(slot.path);
        }
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

int ClaimSlot(const std::string& path) {
    if (path.size() >= sizeof pendingSlots[0].path) {
        return -1;
    }
    const std::lock_guard lock(slotsMutex);
    for (std::size_t i = 0; i < SlotCount; ++i) {
        if (pendingSlots[i].used == 0) {
            std::memcpy(pendingSlots[i].path, path.c_str(), path.size() + 1);
            std::atomic_signal_fence(std::memory_order_seq_cst);
            pendingSlots[i].used = 1;
            return static_cast<int>(i);
        }
    }
    return -1;
}

void ReleaseSlot(int slot) {
    if (slot >= 0) {
        const std::lock_guard lock(slotsMutex);
        pendingSlots[slot].used = 0;
    }
}

[[noreturn]] void Fail(const std::string& target, const std::string& reason) {
    throw std::runtime_error(target + ": " + reason);
}

std::string Reason() {
    return std::strerror(errno);
}

mode_t DefaultFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

} // namespace

struct OutputFile::State {
    std::filesystem::path target;
    std::string name; // as errors give it
    bool toStandardOutput = false;
    std::FILE* file = nullptr;
    // A file: the temporary one and its signal slot.
    std::string temporary;
    int fd = -1;
    int slot = -1;
    // Standard output: the memory stream's block.
    char* memory = nullptr;
    std::size_t memorySize = 0;
    bool committed = false;
};

OutputFile::OutputFile(const std::filesystem::path& target) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.target = target;
    if (target == StandardStream) {
        s.name = "standard output";
        s.toStandardOutput = true;
        s.file = open_memstream(&s.memory, &s.memorySize);
        if (s.file == nullptr) {
            Fail(s.name, "cannot gather the output: " + Reason());
        }
        return;
    }
    s.name = target.string();
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    s.temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    s.fd = mkstemp(s.temporary.data());
    if (s.fd < 0) {
        Fail(s.name, "cannot create the file: " + Reason());
    }
    s.slot = ClaimSlot(s.temporary);
    s.file = fdopen(s.fd, "wb");
    if (s.file == nullptr) {
        const std::string reason = Reason();
        close(s.fd);
        unlink(s.temporary.c_str());
        ReleaseSlot(s.slot);
        Fail(s.name, "cannot create the file: " + reason);
    }
}

OutputFile::~OutputFile() {
    State& s = *state_;
    if (s.file != nullptr) {
        std::fclose(s.file);
    }
    if (!s.toStandardOutput && !s.committed) {
        unlink(s.temporary.c_str());
    }
    ReleaseSlot(s.slot);
    std::free(s.memory);
}

const std::filesystem::path& OutputFile::Target() const {
    return state_->target;
}

std::FILE* OutputFile::File() {
    return state_->file;
}

void OutputFile::Commit() {
    State& s = *state_;
    if (s.toStandardOutput) {
        const int closed = std::fclose(s.file);
        s.file = nullptr;
        if (closed != 0) {
            Fail(s.name, "cannot gather the output: " + Reason());
        }
        if (std::fwrite(s.memory, 1, s.memorySize, stdout) != s.memorySize ||
            std::fflush(stdout) != 0) {
            Fail(s.name, "cannot write: " + Reason());
        }
        s.committed = true;
        return;
    }
    if (std::fflush(s.file) != 0 || fchmod(s.fd, DefaultFileMode()) != 0 || fsync(s.fd) != 0) {
        Fail(s.name, "cannot write the file: " + Reason());
    }
    const int closed = std::fclose(s.file);
    s.file = nullptr;
    if (closed != 0) {
        Fail(s.name, "cannot write the file: " + Reason());
    }
    if (std::rename(s.temporary.c_str(), s.target.c_str()) != 0) {
        Fail(s.name, "cannot replace the file: " + Reason());
    }
    s.committed = true;
}

void PrepareOutputSignals() {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the caller ignores (a job started in the background) stays ignored.
        if (std::signal(signal, RemovePendingAndDie) == SIG_IGN) {
            std::signal(signal, SIG_IGN);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace tintavo::cli
