#include "ui/U_MsgDlg.h"

#include "platform/PathUtils.h"
#include "platform/ShellLaunch.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QString>
#include <QUrl>

namespace tintavo {

namespace {

MessageBoxAnswerer& InstalledAnswerer() {
    static MessageBoxAnswerer answerer;
    return answerer;
}

QMessageBox::StandardButtons ButtonsOf(int buttons) {
    switch (buttons) {
    case MsgYesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MsgYesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MsgOkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    default:
        return QMessageBox::Ok;
    }
}

QMessageBox::Icon QtIconOf(MsgIcon icon) {
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

int AnswerOf(int standardButton) {
    switch (standardButton) {
    case QMessageBox::Ok:
        return IdOk;
    case QMessageBox::Cancel:
        return IdCancel;
    case QMessageBox::Yes:
        return IdYes;
    case QMessageBox::No:
        return IdNo;
    default:
        return 0;
    }
}

int ShowRealBox(const MessageBoxRequest& request) {
    QMessageBox box(QtIconOf(request.icon), QString::fromStdString(request.caption),
                    QString::fromStdString(request.text), ButtonsOf(request.buttons),
                    request.owner);
    // Plain text as the platform box shows it: no rich-text guessing.
    box.setTextFormat(Qt::PlainText);
    return AnswerOf(box.exec());
}

bool OpenWithDesktopServices(const std::string& target) {
    const QString text = QString::fromStdString(target);
    if (platform::IsLocalTarget(target)) {
        const QString path = QString::fromStdString(platform::LocalPathOf(target));
        return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    }
    return QDesktopServices::openUrl(QUrl(text, QUrl::TolerantMode));
}

} // namespace

MessageBoxAnswerer SetMessageBoxAnswerer(MessageBoxAnswerer answerer) {
    MessageBoxAnswerer previous = std::move(InstalledAnswerer());
    InstalledAnswerer() = std::move(answerer);
    return previous;
}

std::string MsgCaption(int kind) {
    switch (kind) {
    case MsgMessage:
        return "Message";
    case MsgWarning:
        return "Warning";
    case MsgError:
        return "Error";
    case MsgQuestion:
        return "Question";
    case MsgInformation:
        return "Information";
    default:
        return {};
    }
}

MsgIcon MsgKindIcon(int kind) {
    switch (kind) {
    case MsgWarning:
        return MsgIcon::Warning;
    case MsgError:
        return MsgIcon::Error;
    case MsgQuestion:
        return MsgIcon::Question;
    case MsgInformation:
        return MsgIcon::Information;
    default:
        return MsgIcon::None;
    }
}

int ShowMsg(QWidget* owner, const std::string& text, int buttons, int kind) {
    MessageBoxRequest request;
    request.owner = owner;
    request.caption = MsgCaption(kind);
    request.text = text;
    request.buttons = buttons >= MsgOk && buttons <= MsgOkCancel ? buttons : MsgOk;
    request.icon = MsgKindIcon(kind);
    return ShowMessageBox(request);
}

int ShowMessageBox(const MessageBoxRequest& request) {
    if (const MessageBoxAnswerer& answerer = InstalledAnswerer()) {
        return answerer(request);
    }
    return ShowRealBox(request);
}

int AskQuestion(QWidget* owner, const std::string& text) {
    return ShowMsg(owner, text, MsgYesNo, MsgQuestion);
}

bool LaunchFile(const std::string& file, const std::string& /*parameters*/,
                const std::string& /*verb*/, int /*showCommand*/) {
    return platform::ShellOpen(platform::ExpandEnvironmentReferences(file));
}

bool LaunchFromWindow(QWidget* /*owner*/, const std::string& /*verb*/, const std::string& file,
                      const std::string& /*parameters*/, const std::string& /*folder*/,
                      int /*showCommand*/) {
    return platform::ShellOpen(file);
}

void UseDesktopServicesForLaunching() {
    platform::SetShellOpener(OpenWithDesktopServices);
}

} // namespace tintavo
