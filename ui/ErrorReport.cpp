#include "ui/ErrorReport.h"

#include <QApplication>

#include <utility>

namespace tintavo {

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

void ShowCaughtError(std::exception_ptr error) {
    try {
        std::rethrow_exception(std::move(error));
    } catch (const std::exception& e) {
        ShowErrorReport(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowErrorReport(QStringLiteral("Unknown error"));
    }
}

void RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        ShowCaughtError(std::current_exception());
    }
}

} // namespace tintavo
