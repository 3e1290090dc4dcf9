#include "program/TApplication.h"

#include <exception>
#include <utility>

namespace tintavo {

namespace {

void ShowCaught(std::exception_ptr error) {
    try {
        std::rethrow_exception(std::move(error));
    } catch (const std::exception& e) {
        ShowErrorReport(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowErrorReport(QStringLiteral("Unknown error"));
    }
}

} // namespace

QString ErrorReportText(const QString& message) {
    if (!message.isEmpty() && message.back() > u'.') {
        return message + u'.';
    }
    return message;
}

void ShowPlainMessage(QWidget* owner, const QString& text, MsgIcon icon) {
    ShowMessageBox({owner, ApplicationTitle, text.toStdString(), MsgOk, icon});
}

void ShowErrorReport(const QString& message) {
    ShowPlainMessage(QApplication::activeWindow(), ErrorReportText(message), MsgIcon::Error);
}

void RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        ShowCaught(std::current_exception());
    }
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCaught(std::current_exception());
    }
    return false;
}

} // namespace tintavo
