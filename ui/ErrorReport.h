#pragma once

// What every window part shares for telling the user: the application title, the plain
// message box and the general error report.

#include "platform/ProductIdentity.h"
#include "ui/U_MsgDlg.h"

#include <QString>

#include <exception>
#include <functional>

class QWidget;

namespace tintavo {

// The text of the general error report: the error's text with a full stop appended when its
// last character sorts after the full stop.
QString ErrorReportText(const QString& message);

// The plain message box: the text, the application title as caption, one OK button. Like
// every message box it goes to the installed answerer when there is one (U_MsgDlg).
void ShowPlainMessage(QWidget* owner, const QString& text, MsgIcon icon = MsgIcon::None);

// Shows the general error report (error icon, OK) for an error that escaped a handler.
void ShowErrorReport(const QString& message);

// Shows the general error report for a caught error: its text, or "Unknown error".
void ShowCaughtError(std::exception_ptr error);

// Runs a handler; an error escaping it is shown in the general error report and the
// program carries on.
void RunHandler(const std::function<void()>& handler);

} // namespace tintavo
