// Tintavo: the program entry. Creates the application and the main window and runs the
// event loop until the main window has closed.

#include "about/U_about.h"
#include "program/SessionEnd.h"
#include "program/TApplication.h"
#include "program/U_MainDlg.h"
#include "ui/U_MsgDlg.h"

#include <QStyleFactory>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

// The desktop entry's file name without ".desktop": docks and task bars find the entry, and so
// the icon, by it (the window's app id under Wayland). The entry's StartupWMClass names the
// window class X11 sees, the application title.
constexpr char DesktopFileName[] = "orvane-tintavo";

} // namespace

int main(int argc, char* argv[]) {
    // Asked before the application object exists, so it needs no display and opens no window.
    // Any other first parameter is only logged, as before.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << "tintavo " << TINTAVO_VERSION << '\n';
        return 0;
    }
    // Qt takes its own options (-style, -reverse...) out of argv: the start-up report shows the
    // command line as it was given.
    const std::vector<std::string> given(argv, argv + argc);
    tintavo::TApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(tintavo::ApplicationTitle));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(DesktopFileName));
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
    // SIGTERM, SIGHUP, SIGINT and logging out close the window the normal way.
    const tintavo::TSessionEnd sessionEnd(&MainDlg);
    MainDlg.show();
    // Asks for the focus as a window manager gives it to a new window, so the application
    // becomes active (and the window prepares itself) also on a display without one.
    MainDlg.activateWindow();
    return QApplication::exec();
}
