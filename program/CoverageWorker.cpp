#include "program/CoverageWorker.h"

#include <sys/resource.h>
#include <unistd.h>

#include <system_error>
#include <utility>

namespace tintavo {

namespace {

constexpr int BuildNiceness = 10;

} // namespace

CoverageWorker::~CoverageWorker() {
    Cancel();
}

void CoverageWorker::Start(Build build, std::function<void()> done) {
    Cancel();
    cancel_.store(false);
    error_ = nullptr;
    held_ = true;
    auto run = [this, build = std::move(build), done = std::move(done)] {
        try {
            build(out_, cancel_);
        } catch (...) {
            error_ = std::current_exception();
        }
        if (!cancel_.load()) {
            try {
                done();
            } catch (...) {
                // No notice: the result waits for the next Take.
            }
        }
    };
    try {
        thread_ = std::jthread([run] {
            // Below the window's thread, which must follow the hand; the threads the build
            // shares its rows with inherit this.
            (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), BuildNiceness);
            run();
        });
    } catch (const std::system_error&) {
        run();
    }
}

void CoverageWorker::Cancel() {
    cancel_.store(true);
    if (thread_.joinable()) {
        thread_.join();
    }
    held_ = false;
    error_ = nullptr;
    out_ = TBitmap32();
}

TBitmap32 CoverageWorker::Take() {
    if (thread_.joinable()) {
        thread_.join();
    }
    held_ = false;
    if (error_) {
        out_ = TBitmap32();
        std::rethrow_exception(std::exchange(error_, nullptr));
    }
    return std::exchange(out_, TBitmap32());
}

} // namespace tintavo
