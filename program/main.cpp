// Tintavo: the program entry. Creates the application and the main window and runs the
// event loop until the main window has closed.

#include "about/U_about.h"
#include "program/TApplication.h"
#include "program/U_MainDlg.h"
#include "program/U_MsgDlg.h"

#include <QStyleFactory>

int main(int argc, char* argv[]) {
    tintavo::TApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(tintavo::ApplicationTitle));
    // Fusion draws group boxes, trackbars and buttons the same on every desktop, so the
    // window's pixel layout looks as intended whatever the user's theme.
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) {
        QApplication::setStyle(style);
    }
    tintavo::UseDesktopServicesForLaunching();

    tintavo::TMainDlg MainDlg;
    // Created hidden beside the main window; "About..." shows it.
    tintavo::TAboutDlg AboutDlg(&MainDlg);
    MainDlg.show();
    // Ask for the focus: a desktop without a window manager never activates the window
    // by itself, and the first activation is what prepares it.
    MainDlg.activateWindow();
    return QApplication::exec();
}
