// Draws the main window into a PNG, before or after loading a picture, to check the layout
// by eye: grab_window OUT.png [PICTURE [X Y [ZOOM.png]]]. X Y: a press on the right view
// there; ZOOM.png: the zoom window too, at fit. A seventh word, "touched", chooses the Hue
// model with a soft edge and paints a grey stroke across the picture's middle first.

#include "program/TApplication.h"
#include "program/U_MainDlg.h"
#include "program/ZoomWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QMenuBar>
#include <QPixmap>
#include <QSlider>
#include <QSpinBox>
#include <QStyleFactory>

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

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
    if (argc >= 7 && QString::fromLocal8Bit(argv[6]) == QStringLiteral("touched")) {
        window.ZoomWindow1Click();
        window.ZoomWindow->ModelBox->setCurrentIndex(1);
        window.ZoomWindow->SoftEdge->setValue(4);
        window.ZoomWindow->BrushBox->setCurrentIndex(2);
        const double w = window.PictureWidth;
        const double h = window.PictureHeight;
        const double radius = w / 30;
        window.BeginStroke(tintavo::BrushMode::Grey, radius, radius / 2);
        std::vector<std::pair<double, double>> discs;
        for (int i = 0; i <= 200; ++i) {
            discs.emplace_back(w * (0.2 + 0.6 * i / 200), h / 2);
        }
        window.PaintStroke(discs);
        window.EndStroke();
        // The soft edge arrives from its worker through the event loop.
        while (window.SoftEdgePending()) {
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (argc >= 6) {
        window.ZoomWindow1Click();
        QApplication::processEvents();
        if (!window.ZoomWindow->grab().save(QString::fromLocal8Bit(argv[5]))) {
            return 1;
        }
    }
    return window.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
