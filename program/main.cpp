// Tintavo: the program entry. Creates the application and the main window and runs the
// event loop until the main window has closed.

#include "about/U_about.h"
#include "program/TApplication.h"
#include "program/U_MainDlg.h"
#include "ui/U_MsgDlg.h"

#include <QStyleFactory>

#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    // Qt takes its own options (-style, -reverse...) out of argv: the start-up report shows the
    // command line as it was given.
    const std::vector<std::string> given(argv, argv + argc);
    tintavo::TApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(tintavo::ApplicationTitle));
    // Fusion draws group boxes, trackbars and buttons the same on every desktop, so the
    // window's pixel layout looks as intended whatever the user's theme.
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) {
        QApplication::setStyle(style);
    }
    tintavo::UseDesktopServicesForLaunching();

    tintavo::TMainDlg MainDlg;
    MainDlg.CommandLine.clear();
    for (const std::string& argument : given) {
        MainDlg.CommandLine.append(QString::fromLocal8Bit(argument));
    }
    // Created hidden beside the main window; "About..." shows it.
    tintavo::TAboutDlg AboutDlg(&MainDlg);
    MainDlg.show();
    // Asks for the focus as a window manager gives it to a new window, so the application
    // becomes active (and the window prepares itself) also on a display without one.
    MainDlg.activateWindow();
    return QApplication::exec();
}
