// Draws the main window into a PNG, before or after loading a picture, to check the layout
// by eye: grab_window OUT.png [PICTURE [X Y [ZOOM.png]]]. X Y: a press on the right view
// there; ZOOM.png: the zoom window too, at fit.

#include "program/TApplication.h"
#include "program/U_MainDlg.h"
#include "program/ZoomWindow.h"

#include <QApplication>
#include <QMenuBar>
#include <QPixmap>
#include <QSlider>
#include <QStyleFactory>

int main(int argc, char* argv[]) {
    tintavo::TApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (argc < 2) {
        return 2;
    }
    tintavo::TMainDlg window;
    window.show();
    QApplication::processEvents();
    for (QSlider* s : {window.dist_r, window.dist_g, window.dist_b}) {
        s->setValue(40);
    }
    if (argc >= 3) {
        window.LoadPicture(QString::fromLocal8Bit(argv[2]));
    }
    if (argc >= 5) {
        const int x = QString::fromLocal8Bit(argv[3]).toInt();
        const int y = QString::fromLocal8Bit(argv[4]).toInt();
        window.imgMouseMove(window.orgimg, {}, x, y);
        window.imgMouseDown(window.orgimg, Qt::LeftButton, {}, x, y);
        window.imgMouseMove(window.orgimg, {}, x + 5, y + 5);
    }
    QApplication::processEvents();
    if (argc >= 6) {
        window.ZoomWindow1Click();
        QApplication::processEvents();
        if (!window.ZoomWindow->grab().save(QString::fromLocal8Bit(argv[5]))) {
            return 1;
        }
    }
    return window.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
