// The main window's lifecycle: first activation, dropped files, closing, the update
// outcome and the "?" menu commands.

#include "program/U_MainDlg.h"

namespace tintavo {

void TMainDlg::AppEvtActivate() {}

bool TMainDlg::FormClose() {
    return true;
}

void TMainDlg::FormDestroy() {}

void TMainDlg::FilesDropped(QObject* /*Sender*/) {}

void TMainDlg::Checkforupdate1Click() {}

void TMainDlg::UpdateCheckDone() {}

void TMainDlg::About1Click() {}

void TMainDlg::ChangeLog1Click() {}

void TMainDlg::BugreportFeaturerequestKnownissues1Click() {}

void TMainDlg::Openlogfile1Click() {}

} // namespace tintavo
