#include "program/TApplication.h"

namespace tintavo {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCaughtError(std::current_exception());
    }
    return false;
}

} // namespace tintavo
