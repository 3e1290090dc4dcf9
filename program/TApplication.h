#pragma once

#include "program/U_MsgDlg.h"

#include <QApplication>
#include <QString>

#include <functional>

namespace tintavo {

// The application title: the taskbar entry, the caption of message boxes, and the stem of
// the program's files in its data folder.
inline constexpr char ApplicationTitle[] = "Tintavo";

// The text of the general error report: the error's text with a full stop appended when its
// last character sorts after the full stop.
QString ErrorReportText(const QString& message);

// The plain message box: the text, the application title as caption, one OK button. Like
// every message box it goes to the installed answerer when there is one (U_MsgDlg).
void ShowPlainMessage(QWidget* owner, const QString& text, MsgIcon icon = MsgIcon::None);

// Shows the general error report (error icon, OK) for an error that escaped a handler.
void ShowErrorReport(const QString& message);

// Runs a handler; an error escaping it is shown in the general error report and the
// program carries on.
void RunHandler(const std::function<void()>& handler);

// The application object: any error escaping an event handler ends in the general error
// report instead of ending the program.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace tintavo
