// Times the window on a large photograph (not a test): the render pass, and a slider step up
// to the repainted left view. measure_window PHOTO [WIDTH HEIGHT]: the photograph is scaled
// smoothly to WIDTH x HEIGHT (default 6000 x 4000, 24 megapixels) and saved as a JPEG first.

#include "engine/JpegWriter.h"
#include "engine/TBitmap32.h"
#include "program/TApplication.h"
#include "program/TImage32.h"
#include "program/U_MainDlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QSlider>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Counts the left view's paints, so a step is timed up to the paint that shows it.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    tintavo::TApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: measure_window PHOTO [WIDTH HEIGHT]\n");
        return 2;
    }
    const int width = argc >= 4 ? QString::fromLocal8Bit(argv[2]).toInt() : 6000;
    const int height = argc >= 4 ? QString::fromLocal8Bit(argv[3]).toInt() : 4000;
    QTemporaryDir folder;
    const QString photo = folder.filePath(QStringLiteral("large.jpg"));
    {
        const QImage scaled =
            QImage(QString::fromLocal8Bit(argv[1]))
                .convertToFormat(QImage::Format_RGB32)
                .scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        tintavo::TBitmap32 picture;
        picture.Resize(width, height);
        for (int y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const tintavo::TColor32*>(scaled.constScanLine(y));
            std::copy(row, row + width, picture.ScanLine(y));
        }
        tintavo::WriteJpegFile(picture, photo.toStdString());
    }

    tintavo::TMainDlg window;
    window.show();
    QApplication::processEvents();
    for (QSlider* s : {window.dist_r, window.dist_g, window.dist_b}) {
        s->setValue(40);
    }
    QElapsedTimer timer;
    timer.start();
    window.LoadPicture(photo);
    QApplication::processEvents();
    const double load = static_cast<double>(timer.nsecsElapsed()) / 1e6;

    std::vector<double> renders;
    for (int i = 0; i < 5; ++i) {
        timer.restart();
        window.process_btnClick();
        renders.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }

    PaintCounter counter;
    window.img->installEventFilter(&counter);
    std::vector<double> steps;
    for (int i = 0; i < 5; ++i) {
        const int before = counter.paints;
        timer.restart();
        window.dist_r->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        while (counter.paints == before) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        steps.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("picture %d x %d (%.1f megapixels)\n", width, height, width * height / 1e6);
    std::printf("load (copy + one render pass): %.0f ms\n", load);
    std::printf("render pass, median of 5: %.0f ms\n", Median(renders));
    std::printf("slider step to repainted view, median of 5: %.0f ms\n", Median(steps));
    return 0;
}
