#pragma once

#include "engine/TBitmap32.h"

#include <atomic>
#include <exception>
#include <functional>
#include <thread>

namespace tintavo {

// Builds one coverage mask on a thread of its own, so that the window's thread returns to the
// events at once. One build at a time: starting another, or cancelling, first stops the one
// under way and waits for it.
//
// The build writes only the buffer it is given and reads whatever its caller lets it read;
// the caller keeps those inputs unchanged until Cancel() or Take() has returned. The buffer
// and any error pass to the caller through the thread's join, so Take() sees them whole.
class CoverageWorker {
public:
    // Fills `out`; stops early, leaving `out` unspecified, once `cancel` turns true.
    using Build = std::function<void(TBitmap32& out, const std::atomic<bool>& cancel)>;

    CoverageWorker() = default;
    ~CoverageWorker();
    CoverageWorker(const CoverageWorker&) = delete;
    CoverageWorker& operator=(const CoverageWorker&) = delete;

    // Runs `build` on the worker thread, then `done` there too unless it was cancelled (also
    // after a build that threw): `done` should only hand a notice to another thread. Without
    // a thread to spare both run here, before Start returns.
    void Start(Build build, std::function<void()> done);
    // Asks the build under way to stop, waits for it and drops its buffer.
    void Cancel();
    // True from Start until Cancel or Take.
    bool Held() const { return held_; }
    // Waits for the build and hands its buffer over; raises what the build raised instead.
    TBitmap32 Take();

private:
    std::atomic<bool> cancel_{false};
    bool held_ = false;
    // Written by the build only, read after the join.
    TBitmap32 out_;
    std::exception_ptr error_;
    // Last, so that it is joined before the members the build uses go.
    std::jthread thread_;
};

} // namespace tintavo
