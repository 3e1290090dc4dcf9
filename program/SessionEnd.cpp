#include "program/SessionEnd.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#if QT_CONFIG(sessionmanager)
#include <QSessionManager>
#endif

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace tintavo {

namespace {

// How soon the window is tried again after a dialog of it was closed.
constexpr int ModalRetryMs = 20;

// The write end of the watcher's pipe, for the signal handler (-1: none).
std::atomic<int> signalPipe{-1};

extern "C" void OnSessionSignal(int number) {
    const int saved = errno;
    const int fd = signalPipe.load();
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(number);
        // A full pipe already holds a wake-up: losing this byte loses nothing.
        [[maybe_unused]] const ssize_t ignored = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

TSessionEnd::TSessionEnd(QWidget* window) : window_(window) {
    // Without a pipe (no descriptors left) the signals keep their usual effect.
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        readEnd_.Reset(fds[0]);
        writeEnd_.Reset(fds[1]);
        signalPipe.store(writeEnd_.Get());
        notifier_ = new QSocketNotifier(readEnd_.Get(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &TSessionEnd::SignalArrived);

        struct sigaction action {};
        action.sa_handler = OnSessionSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, &previousTerm_);
        ::sigaction(SIGHUP, &action, &previousHangUp_);
        ::sigaction(SIGINT, &action, &previousInterrupt_);
        watching_ = true;
    }

#if QT_CONFIG(sessionmanager)
    // Logging out: the window closes as if the user closed it; a close the window refuses
    // (its message stays on screen) keeps the session from ending half-way.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
        if (window_->isVisible() && !window_->close()) {
            manager.cancel();
        }
    });
#endif
    // Whoever ends the event loop, a window still open closes first.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (window_->isVisible()) {
            window_->close();
        }
    });
}

TSessionEnd::~TSessionEnd() {
    if (watching_) {
        ::sigaction(SIGTERM, &previousTerm_, nullptr);
        ::sigaction(SIGHUP, &previousHangUp_, nullptr);
        ::sigaction(SIGINT, &previousInterrupt_, nullptr);
        signalPipe.store(-1);
    }
}

void TSessionEnd::SignalArrived() {
    unsigned char bytes[64];
    while (::read(readEnd_.Get(), bytes, sizeof bytes) > 0) {
    }
    CloseWindow();
}

void TSessionEnd::CloseWindow() {
    // A dialog of the window (the chooser, a question) is answered "no" first; the window
    // closes once its handler has returned to the event loop.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
        QTimer::singleShot(ModalRetryMs, this, &TSessionEnd::CloseWindow);
        return;
    }
    if (window_->close()) {
        QCoreApplication::quit();
    }
}

} // namespace tintavo
