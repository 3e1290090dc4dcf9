#include "program/TApplication.h"

#include <QMessageBox>

#include <exception>
#include <utility>

namespace tintavo {

namespace {

QMessageBox::Icon QtIcon(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Warning:
        return QMessageBox::Warning;
    case MsgIcon::Error:
        return QMessageBox::Critical;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

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
    const MessageBoxRequest request{owner, ApplicationTitle, text.toStdString(), MsgOk, icon};
    // The installed answerer, if any, answers this box as it answers every other one.
    MessageBoxAnswerer answerer = SetMessageBoxAnswerer({});
    SetMessageBoxAnswerer(answerer);
    if (answerer) {
        answerer(request);
        return;
    }
    QMessageBox box(QtIcon(icon), QString::fromLatin1(ApplicationTitle), text, QMessageBox::Ok,
                    owner);
    box.exec();
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
