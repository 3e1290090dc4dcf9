#pragma once

// The end of the session: SIGTERM, SIGHUP, SIGINT (Ctrl+C in the starting terminal) and the
// desktop's logout request close the main window the normal way (its closing step runs: a
// portable copy cleans up), through the event loop, so that whatever a handler is doing (a
// full export) ends first.

#include "platform/PosixIo.h"

#include <QObject>

#include <csignal>
#include <memory>

class QSocketNotifier;
class QWidget;

namespace tintavo {

class TSessionEnd : public QObject {
    Q_OBJECT
public:
    // Watches for the life of the object; the previous signal dispositions come back after.
    // One watcher at a time.
    explicit TSessionEnd(QWidget* window);
    ~TSessionEnd() override;
    TSessionEnd(const TSessionEnd&) = delete;
    TSessionEnd& operator=(const TSessionEnd&) = delete;

private:
    void SignalArrived();
    void CloseWindow();

    QWidget* window_;
    platform::Fd readEnd_;
    platform::Fd writeEnd_;
    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previousTerm_ {};
    struct sigaction previousHangUp_ {};
    struct sigaction previousInterrupt_ {};
    bool watching_ = false;
};

} // namespace tintavo
