// The window on large photographs (a benchmark, not a test: `make window-bench`). For each size
// (6, 24 and 96 megapixels, or the sizes given as WIDTHxHEIGHT arguments) it times a slider
// step up to the repainted left view, and up to the repainted zoom window at fit and at
// 100 %, each as a ratio to one decode of the same photograph measured in the same run; the
// longest single step of the GUI thread; and what the window holds per picture pixel after
// loading and rendering, beyond what it held before; then the same step with the Hue model,
// hard and with a soft edge (up to the hard edge shown at once, and up to the soft one built
// off the GUI thread), and one brush disc. The photographs are generated once into the build
// folder.

#include "engine/JpegWriter.h"
#include "engine/PictureReader.h"
#include "engine/TBitmap32.h"
#include "program/TApplication.h"
#include "program/TImage32.h"
#include "program/U_MainDlg.h"
#include "program/ZoomWindow.h"

#include "PhotoMaker.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using tintavo::TBitmap32;

std::filesystem::path PhotographFile(std::int32_t width, std::int32_t height) {
    const std::filesystem::path file =
        std::filesystem::path(TINTAVO_BENCH_DIR) /
        ("window-photo-" + std::to_string(width) + "x" + std::to_string(height) + ".jpg");
    if (!std::filesystem::exists(file)) {
        const std::vector<std::uint8_t> stream =
            tintavo::EncodeJpeg(tintavo::bench::MakePhotograph(width, height));
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(stream.data()),
                   static_cast<std::streamsize>(stream.size()));
    }
    return file;
}

double Milliseconds(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double DecodeMs(const std::filesystem::path& file) {
    std::vector<double> times;
    for (int i = 0; i < 3; ++i) {
        TBitmap32 picture;
        QElapsedTimer timer;
        timer.start();
        tintavo::ReadPictureFile(picture, file);
        times.push_back(Milliseconds(timer));
    }
    return Median(times);
}

std::uint64_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0;
    std::uint64_t resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// Counts a widget's paints, so a step is timed up to the paint that shows it; with `counts`
// set, only the paints for which it holds.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(std::function<bool()> counts = {}) : counts_(std::move(counts)) {}
    int paints = 0;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Paint && (!counts_ || counts_())) {
            ++paints;
        }
        return false;
    }

private:
    std::function<bool()> counts_;
};

// Processor time of the GUI thread: less disturbed than elapsed time by other work sharing
// the machine.
double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct Steps {
    double median = 0;
    double fastest = 0;
    double cpu = 0; // median processor time of the GUI thread
};

// Slider steps up to the next counted paint of `painted`; the longest single piece of
// GUI-thread work (the step's handler, or one round of events) is tracked as well. With
// `yield`, the GUI thread sleeps between rounds of events, leaving the processor to a worker.
Steps TimeSteps(tintavo::TMainDlg& window, QWidget* painted, double& longestGuiStep,
                PaintCounter&& counter = PaintCounter(), int rounds = 31, bool yield = false) {
    painted->installEventFilter(&counter);
    std::vector<double> steps;
    std::vector<double> cpu;
    for (int i = 0; i < rounds; ++i) {
        const int before = counter.paints;
        const double cpuStart = ThreadCpuMs();
        QElapsedTimer total;
        total.start();
        QElapsedTimer piece;
        piece.start();
        window.dist_r->triggerAction(i % 2 == 0 ? QAbstractSlider::SliderSingleStepAdd
                                                : QAbstractSlider::SliderSingleStepSub);
        longestGuiStep = std::max(longestGuiStep, Milliseconds(piece));
        while (counter.paints == before) {
            piece.restart();
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            longestGuiStep = std::max(longestGuiStep, Milliseconds(piece));
            if (yield && counter.paints == before) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        steps.push_back(Milliseconds(total));
        cpu.push_back(ThreadCpuMs() - cpuStart);
    }
    painted->removeEventFilter(&counter);
    return {Median(steps), *std::min_element(steps.begin(), steps.end()), Median(cpu)};
}

// Slider steps with a soft edge up to the repaint that shows it (the first repaint after a
// step shows the hard edge while the soft one is built).
Steps TimeSoftEdge(tintavo::TMainDlg& window, double& longestGuiStep) {
    return TimeSteps(window, window.img, longestGuiStep,
                     PaintCounter([&window] { return !window.SoftEdgePending(); }), 9, true);
}

void Measure(std::int32_t width, std::int32_t height) {
    const std::filesystem::path file = PhotographFile(width, height);
    const double decode = DecodeMs(file);
    const double pixels = static_cast<double>(width) * height;

    tintavo::TMainDlg window;
    window.show();
    for (QSlider* s : {window.dist_r, window.dist_g, window.dist_b}) {
        s->setValue(40);
    }
    QApplication::processEvents();
    const std::uint64_t before = ResidentBytes();
    window.LoadPicture(QString::fromStdString(file.string()));
    QApplication::processEvents();
    const std::uint64_t after = ResidentBytes();

    double longest = 0;
    const Steps left = TimeSteps(window, window.img, longest);
    const double longestWithoutZoom = longest;
    window.ZoomWindow1Click();
    window.ZoomWindow->resize(800, 600);
    QApplication::processEvents();
    const Steps fit = TimeSteps(window, window.ZoomWindow->View, longest);
    window.ZoomWindow->View->ZoomTo(1, QPointF(400, 300));
    const Steps actual = TimeSteps(window, window.ZoomWindow->View, longest);

    std::printf("%5.1f MP: decode %.1f ms; slider step to the repainted left view %.2f ms "
                "(fastest %.2f, GUI-thread processor time %.2f) = %.4f decode; to the zoom window "
                "at fit %.2f ms = %.4f decode, "
                "at 100 %% %.2f ms = %.4f decode; longest GUI-thread step %.1f ms (with the "
                "zoom window %.1f ms); held %.2f bytes per picture pixel\n",
                pixels / 1e6, decode, left.median, left.fastest, left.cpu, left.median / decode,
                fit.median, fit.median / decode, actual.median, actual.median / decode,
                longestWithoutZoom, longest,
                (static_cast<double>(after) - static_cast<double>(before)) / pixels);

    // The chosen selections: Hue with a hard edge and with a soft one, each a slider step
    // (the thresholds take no part in Hue, but a step still runs the pass), and one brush disc
    // to the repainted zoom window.
    window.ZoomWindow->View->FitToWindow();
    window.ZoomWindow->ModelBox->setCurrentIndex(1);
    QApplication::processEvents();
    double longestChosen = 0;
    const Steps hue = TimeSteps(window, window.img, longestChosen);
    window.ZoomWindow->SoftEdge->setValue(10);
    QApplication::processEvents();
    const Steps soft = TimeSteps(window, window.img, longestChosen);
    const Steps softShown = TimeSoftEdge(window, longestChosen);
    std::vector<double> discs;
    PaintCounter counter;
    window.ZoomWindow->View->installEventFilter(&counter);
    window.BeginStroke(tintavo::BrushMode::Grey, 20, 10);
    for (int i = 0; i < 31; ++i) {
        const int paints = counter.paints;
        QElapsedTimer timer;
        timer.start();
        window.PaintStroke({{width / 2.0 + i * 5, height / 2.0}});
        while (counter.paints == paints) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        discs.push_back(Milliseconds(timer));
    }
    window.EndStroke();
    window.ZoomWindow->View->removeEventFilter(&counter);
    std::printf("%5.1f MP: Hue slider step %.2f ms = %.4f decode; with a 10 px soft edge "
                "%.2f ms = %.4f decode to the repainted hard edge (GUI-thread processor time "
                "%.2f ms = %.4f decode), %.2f ms = %.4f decode until the soft edge shows "
                "(GUI-thread processor time %.2f ms = %.4f decode); a brush disc to the "
                "repainted zoom window %.2f ms = %.4f decode; longest GUI-thread step %.1f ms\n",
                pixels / 1e6, hue.median, hue.median / decode, soft.median, soft.median / decode,
                soft.cpu, soft.cpu / decode, softShown.median, softShown.median / decode,
                softShown.cpu, softShown.cpu / decode, Median(discs), Median(discs) / decode,
                longestChosen);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    // Large buffers go straight back to the system when freed, as they do by default until
    // the allocator raises its threshold: the resident size then tells what the window holds.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    // The window's settings, log and working copy go to a folder of its own.
    QTemporaryDir home;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        setenv(name, home.path().toLocal8Bit().constData(), 1);
    }
    tintavo::TApplication app(argc, argv);
    std::vector<std::pair<int, int>> sizes = {{3000, 2000}, {6000, 4000}, {12000, 8000}};
    if (argc > 1) {
        sizes.clear();
        for (int i = 1; i < argc; ++i) {
            int w = 0;
            int h = 0;
            if (std::sscanf(argv[i], "%dx%d", &w, &h) == 2 && w > 0 && h > 0) {
                sizes.emplace_back(w, h);
            }
        }
    }
    for (const auto& [w, h] : sizes) {
        Measure(w, h);
    }
    return 0;
}
