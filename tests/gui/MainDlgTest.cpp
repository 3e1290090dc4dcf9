// The main window driven as a user would: loading, rendering, probing, presets, filter,
// display choice and export, with the file chooser and the message boxes answered by the
// test.

#include "common/TestSandbox.h"
#include "engine/BrushOverlay.h"
#include "engine/JpegWriter.h"
#include "engine/MaskFilter.h"
#include "engine/PictureReader.h"
#include "engine/RenderPass.h"
#include "engine/Selection.h"
#include "engine/ViewSampling.h"
#include "files/C_WideDialogs.h"
#include "files/PictureFiles.h"
#include "platform/ProgramPath.h"
#include "platform/Registry.h"
#include "program/IntegerField.h"
#include "program/SelectionHistory.h"
#include "program/TApplication.h"
#include "program/TImage32.h"
#include "program/U_MainDlg.h"
#include "program/ZoomWindow.h"
#include "services/U_Log.h"
#include "services/U_TovikUtils.h"
#include "ui/U_MsgDlg.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace tintavo;
namespace fs = std::filesystem;

namespace {

// A picture whose every pixel differs from its neighbours, so that an off-by-one in a
// coordinate mapping shows: red follows x, green follows y, blue mixes both.
TBitmap32 Pattern(int width, int height) {
    TBitmap32 picture;
    picture.Resize(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const TColor32 r = static_cast<TColor32>((x * 7) & 0xFF);
            const TColor32 g = static_cast<TColor32>((y * 5) & 0xFF);
            const TColor32 b = static_cast<TColor32>(((x + y) * 3) & 0xFF);
            picture.SetPixelAt(x, y, 0xFF000000u | r << 16 | g << 8 | b);
        }
    }
    return picture;
}

QString WriteJpeg(const fs::path& path, int width, int height) {
    WriteJpegFile(Pattern(width, height), path);
    return QString::fromStdString(path.string());
}

bool SameBitmap(const TBitmap32& a, const TBitmap32& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) {
        return false;
    }
    for (int y = 0; y < a.Height(); ++y) {
        for (int x = 0; x < a.Width(); ++x) {
            if (a.PixelAt(x, y) != b.PixelAt(x, y)) {
                return false;
            }
        }
    }
    return true;
}

// A red ball lit from the right (a quarter of its brightness at its left edge) and a blue
// square, on mid grey.
QString WriteBall(const fs::path& path) {
    TBitmap32 picture;
    picture.Resize(240, 160);
    for (int y = 0; y < 160; ++y) {
        for (int x = 0; x < 240; ++x) {
            TColor32 col = 0xFF808080u;
            if (std::hypot(x - 120, y - 80) <= 60) {
                const double k = 0.25 + 0.75 * (x - 60) / 120.0;
                col = 0xFF000000u | static_cast<TColor32>(250 * k) << 16 |
                      static_cast<TColor32>(30 * k) << 8 | static_cast<TColor32>(20 * k);
            } else if (x >= 8 && x < 40 && y >= 8 && y < 40) {
                col = 0xFF1E3CC8u;
            }
            picture.SetPixelAt(x, y, col);
        }
    }
    WriteJpegFile(picture, path);
    return QString::fromStdString(path.string());
}

int CountKept(const TBitmap32& mask, const std::function<bool(int, int)>& where) {
    int kept = 0;
    for (int y = 0; y < mask.Height(); ++y) {
        for (int x = 0; x < mask.Width(); ++x) {
            kept += where(x, y) && mask.PixelAt(x, y) == MaskKept ? 1 : 0;
        }
    }
    return kept;
}

TBitmap32 Copy(const TBitmap32& source) {
    TBitmap32 copy;
    copy.CopyFrom(&source);
    return copy;
}

} // namespace

class MainDlgTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TestSandbox> sandbox_;
    std::unique_ptr<platform::ScopedProgramPathOverride> program_;
    std::unique_ptr<ScopedMessageBoxAnswerer> boxes_;
    std::unique_ptr<TMainDlg> dlg_;
    std::vector<MessageBoxRequest> asked_;
    std::deque<std::optional<QString>> chooserAnswers_;
    std::vector<QString> chooserSaw_;
    int answer_ = IdYes;

    fs::path root() const { return sandbox_->root(); }

    // Occurrences of a message in the run log.
    int Count(const QString& message) const {
        int n = 0;
        for (const std::string& line : dlg_->RunLog->Lines()) {
            if (QString::fromStdString(line).endsWith(u'\t' + message)) {
                ++n;
            }
        }
        return n;
    }
    int Renders() const { return Count(QStringLiteral("Rendering...")); }

    // The chooser answers the next queued path (nothing: cancel) and records what it showed.
    void Choose(std::optional<QString> answer) { chooserAnswers_.push_back(std::move(answer)); }

    void Load(const QString& path) {
        Choose(path);
        dlg_->load_btnClick();
    }

    void SetThresholds(int value) {
        for (QSlider* s : {dlg_->dist_r, dlg_->dist_g, dlg_->dist_b}) {
            s->setValue(value);
        }
    }

    // The full-resolution results, built as Filter and Save build them.
    const TBitmap32& Render() const {
        dlg_->BuildResults();
        return *dlg_->RenderBitmap;
    }
    const TBitmap32& Mask() const {
        dlg_->BuildResults();
        return *dlg_->MaskBitmap;
    }

    // The left view shows `full`: a picture of its size, drawn as nearest-neighbour samples
    // of exactly its pixels.
    bool ShowsInLeftView(const TBitmap32& full) const {
        const ViewContent shown = dlg_->img->Shown();
        const TBitmap32& drawn = dlg_->img->Sampled();
        TBitmap32 expected;
        SamplePicture(full, FitSampling(full.Width(), full.Height(), drawn.Width(), drawn.Height()),
                      expected);
        return shown.Width == full.Width() && shown.Height == full.Height() &&
               SameBitmap(drawn, expected);
    }

    TBitmap32 Expected(int r, int g, int b, int t) const {
        TBitmap32 render;
        TBitmap32 mask;
        RenderPixels(dlg_->orgimg->Bitmap, CentralColor{r, g, b}, Thresholds{t, t, t}, render,
                     mask);
        return render;
    }

    // The zoom window at 100 %, and the view point over a picture pixel.
    TZoomView* ZoomAtOneToOne() {
        dlg_->ZoomWindow1Click();
        TZoomView* view = dlg_->ZoomWindow->View;
        QTest::keyClick(view, Qt::Key_1);
        view->grab();
        return view;
    }
    static QPointF Over(TZoomView* view, int x, int y) {
        return view->DrawnRect().topLeft() + QPointF(x + 0.5, y + 0.5);
    }
    static void Click(TZoomView* view, QPointF at, Qt::KeyboardModifiers modifiers = {}) {
        SendMouse(view, QEvent::MouseMove, at, Qt::NoButton);
        SendMouse(view, QEvent::MouseButtonPress, at, Qt::LeftButton, modifiers);
        SendMouse(view, QEvent::MouseButtonRelease, at, Qt::LeftButton, modifiers);
    }
    TBitmap32 ExpectedSelection(const BrushOverlay* brush = nullptr) const {
        TBitmap32 render;
        TBitmap32 mask;
        RenderSelection(dlg_->orgimg->Bitmap, dlg_->PassOptions(), render, mask, brush);
        return render;
    }

private slots:
    void init() {
        sandbox_ = std::make_unique<test::TestSandbox>();
        fs::create_directories(root() / "bin");
        program_ = std::make_unique<platform::ScopedProgramPathOverride>(
            (root() / "bin/tintavo").string());
        asked_.clear();
        chooserAnswers_.clear();
        chooserSaw_.clear();
        answer_ = IdYes;
        boxes_ = std::make_unique<ScopedMessageBoxAnswerer>([this](const MessageBoxRequest& r) {
            asked_.push_back(r);
            return answer_;
        });
        TWideOpenDialog::SetAnswerer([this](const TWideOpenDialog& chooser) {
            chooserSaw_.push_back(chooser.FileName);
            std::optional<QString> answer;
            if (!chooserAnswers_.empty()) {
                answer = chooserAnswers_.front();
                chooserAnswers_.pop_front();
            }
            return answer;
        });
        dlg_ = std::make_unique<TMainDlg>();
        // The first activation belongs to the lifecycle tests: here it would replace the log.
        dlg_->AppEvt->OnActivate = nullptr;
        dlg_->RunLog = std::make_unique<TTovikLog>((root() / "test.log").string(), false, 10000);
    }

    void cleanup() {
        dlg_.reset();
        TWideOpenDialog::SetAnswerer({});
        boxes_.reset();
        program_.reset();
        sandbox_.reset();
    }

    void windowAtCreation() {
        QCOMPARE(dlg_->windowTitle(), QStringLiteral("Tintavo"));
        QCOMPARE(dlg_->Client->size(), QSize(825, 660));
        QCOMPARE(dlg_->minimumSize(), dlg_->maximumSize());
        QVERIFY(!(dlg_->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!dlg_->save_btn->isEnabled());
        QVERIFY(dlg_->img->Shown().IsEmpty());
        QVERIFY(dlg_->orgimg->Bitmap.IsEmpty());
        QCOMPARE(dlg_->instructions_lbl->text(),
                 QStringLiteral("\r\nStep 1 : Load your picture\r\nStep 2 : Set the Central "
                                "Color\r\nStep 3 : Adjust thresholds to select to proper "
                                "neighbourhood\r\nStep 4 : Save your work"));
        // A few positions of the layout, relative to their group or the client area.
        QCOMPARE(dlg_->GroupBox2->geometry(), QRect(8, 168, 345, 121));
        QCOMPARE(dlg_->dist_b->geometry(), QRect(64, 80, 164, 33));
        QCOMPARE(dlg_->rbase_txt->geometry(), QRect(144, 16, 49, 21));
        QCOMPARE(dlg_->pb->geometry(), QRect(16, 45, 337, 9));
        QCOMPARE(dlg_->img->geometry(), QRect(8, 360, 400, 300));
        QCOMPARE(dlg_->orgimg->geometry(), QRect(416, 360, 400, 300));
        QCOMPARE(dlg_->dist_r->maximum(), 255);
        QCOMPARE(dlg_->dist_r->tickInterval(), 10);
        QVERIFY(!dlg_->r_txt->isEnabled());
        QVERIFY(dlg_->RenderBitmap == nullptr);
        QCOMPARE(dlg_->save_btn->shortcut(), QKeySequence());
    }

    void aPortableCopyImportsItsSettingsAtCreation() {
        test::writeFile(root() / "bin" / "settings.ini", "[Settings]\r\nColour=blue\r\n");
        dlg_ = std::make_unique<TMainDlg>();
        const std::string hive = test::readFile(sandbox_->configHome() / "Orvane/registry.reg");
        QVERIFY(QString::fromStdString(hive).contains(QStringLiteral("\"Colour\"=\"blue\"")));
        QVERIFY(dlg_->instructions_lbl->text().startsWith(QStringLiteral("\r\nStep 1")));
    }

    void tabOrderFollowsTheGroups() {
        dlg_->show();
        // The views come first but take no focus; the focusable controls follow in order.
        QCOMPARE(dlg_->img->focusPolicy(), Qt::NoFocus);
        QList<QWidget*> chain;
        for (QWidget* w = dlg_->showpic_btn; chain.size() < 22; w = w->nextInFocusChain()) {
            if ((w->focusPolicy() & Qt::TabFocus) != 0) {
                chain.append(w);
            }
        }
        const QList<QWidget*> expected = std::initializer_list<QWidget*>{
            dlg_->showpic_btn,  dlg_->showmask_btn, dlg_->dist_r,     dlg_->dist_g,
            dlg_->dist_b,       dlg_->narrow_btn,   dlg_->medium_btn, dlg_->large_btn,
            dlg_->temp_btn,     dlg_->rbase_txt,    dlg_->gbase_txt,  dlg_->bbase_txt,
            dlg_->JvImgBtn1,    dlg_->r_txt,        dlg_->g_txt,      dlg_->b_txt,
            dlg_->process_btn,  dlg_->filter_btn,   dlg_->reset_btn,  dlg_->save_btn,
            dlg_->filename_txt, dlg_->load_btn};
        QCOMPARE(chain, expected);
    }

    void shortcutsReachTheirCommandsFromAnyControl() {
        dlg_->show();
        QVERIFY(QTest::qWaitForWindowActive(dlg_.get()));
        const QList<std::pair<QAction*, QKeySequence>> shortcuts = {
            {dlg_->LoadFile1, QKeySequence(QStringLiteral("Ctrl+O"))},
            {dlg_->Close1, QKeySequence(QStringLiteral("Ctrl+Q"))},
            {dlg_->Openlogfile1, QKeySequence(QStringLiteral("Ctrl+L"))},
            {dlg_->Checkforupdate1, QKeySequence(QStringLiteral("Ctrl+G"))},
            {dlg_->About1, QKeySequence(QStringLiteral("Ctrl+B"))},
            {dlg_->Undo1, QKeySequence(QStringLiteral("Ctrl+Z"))},
            {dlg_->Redo1, QKeySequence(QStringLiteral("Ctrl+Shift+Z"))}};
        for (const auto& [action, keys] : shortcuts) {
            QCOMPARE(action->shortcut(), keys);
        }
        QVERIFY(dlg_->Redo1->shortcuts().contains(QKeySequence(QStringLiteral("Ctrl+Y"))));
        // Edit sits between File and "?".
        const QList<QAction*> menus = dlg_->menuBar()->actions();
        QCOMPARE(menus.indexOf(dlg_->Edit1->menuAction()),
                 menus.indexOf(dlg_->File1->menuAction()) + 1);
        // Undo and redo from a slider, and from a number field with no typing of its own.
        dlg_->narrow_btnClick();
        QTest::keyClick(dlg_->dist_r, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(dlg_->dist_b->value(), 0);
        dlg_->rbase_txt->setFocus();
        QTest::keyClick(dlg_->rbase_txt, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(dlg_->dist_b->value(), 15);
        QTest::keyClick(dlg_->rbase_txt, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(dlg_->dist_b->value(), 0);
        QTest::keyClick(dlg_->rbase_txt, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(dlg_->dist_b->value(), 15);
        // A field with typing of its own undoes that first.
        const QString typedOver = dlg_->rbase_txt->text();
        QTest::keyClicks(dlg_->rbase_txt, QStringLiteral("7"));
        QTest::keyClick(dlg_->rbase_txt, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(dlg_->rbase_txt->text(), typedOver);
        QCOMPARE(dlg_->dist_b->value(), 15);
        // From inside a number field, Ctrl+O still opens the chooser.
        dlg_->rbase_txt->setFocus();
        QTest::keyClick(dlg_->rbase_txt, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(chooserSaw_.size(), size_t{1});
        // Ctrl+Q closes the window as its close box does.
        QTest::keyClick(dlg_->filename_txt, Qt::Key_Q, Qt::ControlModifier);
        QTRY_VERIFY(!dlg_->isVisible());
    }

    void loadRendersOnceWhenThresholdsAreAt40() {
        SetThresholds(40);
        const QString picture = WriteJpeg(root() / "photo.jpg", 64, 48);
        Load(picture);
        QCOMPARE(Renders(), 1);
        QCOMPARE(Count(QStringLiteral("Loading : ") + picture), 1);
        // The newest line is first: the render comes after the load.
        QVERIFY(QString::fromStdString(dlg_->RunLog->Lines()[0])
                    .endsWith(QStringLiteral("Rendering...")));
        QCOMPARE(dlg_->filename_txt->text(), picture);
        const QString work = DataFilePath(QStringLiteral(".jpg"));
        QCOMPARE(dlg_->WorkFile, work);
        QVERIFY(work.endsWith(QStringLiteral("/Orvane/Tintavo/Tintavo.jpg")));
        QCOMPARE(test::readFile(work.toStdString()), test::readFile(picture.toStdString()));
        QCOMPARE(dlg_->PictureWidth, 64);
        QCOMPARE(dlg_->PictureHeight, 48);
        QVERIFY(dlg_->save_btn->isEnabled());
        QVERIFY(!dlg_->img->isHidden());
        QVERIFY(!dlg_->orgimg->isHidden());
        QCOMPARE(dlg_->pb->value(), 0);
        QCOMPARE(dlg_->pb->maximum(), 48);
        QVERIFY(SameBitmap(Render(), Expected(0, 0, 0, 40)));
        QVERIFY(ShowsInLeftView(Render()));
        // The chooser offers the loaded picture next time, for a load or an export.
        Choose(std::nullopt);
        dlg_->save_btnClick();
        QCOMPARE(chooserSaw_.back(), picture);
    }

    void loadAfterNarrowRendersFourTimes() {
        SetThresholds(15);
        Load(WriteJpeg(root() / "photo.jpg", 32, 32));
        QCOMPARE(Renders(), 4);
        QCOMPARE(dlg_->distb_lbl->text(), QStringLiteral("40"));
        QVERIFY(SameBitmap(Render(), Expected(0, 0, 0, 40)));
    }

    void loadKeepsTheCentralColourAndClearsMask() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "a.jpg", 32, 32));
        dlg_->rbase_txt->setText(QStringLiteral("120"));
        dlg_->showmask_btnClick();
        Load(WriteJpeg(root() / "b.jpg", 48, 16));
        QCOMPARE(dlg_->rbase_txt->text(), QStringLiteral("120"));
        QVERIFY(!dlg_->ShowMask);
        QVERIFY(ShowsInLeftView(Render()));
    }

    void renderFollowsTheCentralColourAndThresholds() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 40, 30));
        dlg_->rbase_txt->setText(QStringLiteral("100"));
        dlg_->gbase_txt->setText(QStringLiteral("80"));
        dlg_->bbase_txt->setText(QStringLiteral("60"));
        // Typing the Central Color renders nothing.
        QCOMPARE(Renders(), 1);
        dlg_->process_btnClick();
        QVERIFY(SameBitmap(Render(), Expected(100, 80, 60, 40)));
        // A Central Color out of range keeps no pixel with a threshold below 45.
        dlg_->rbase_txt->setText(QStringLiteral("300"));
        dlg_->process_btnClick();
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 40; ++x) {
                QCOMPARE(Mask().PixelAt(x, y), MaskGreyed);
            }
        }
        // Reset: thresholds 255 keep every pixel of a Central Color in range.
        dlg_->rbase_txt->setText(QStringLiteral("10"));
        dlg_->reset_btnClick();
        QCOMPARE(dlg_->distr_lbl->text(), QStringLiteral("255"));
        QVERIFY(SameBitmap(Render(), dlg_->orgimg->Bitmap));
    }

    void presetsRenderAtMostOnce() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 16, 16));
        int before = Renders();
        dlg_->narrow_btnClick();
        QCOMPARE(Renders(), before + 1);
        for (QLabel* label : {dlg_->distr_lbl, dlg_->distg_lbl, dlg_->distb_lbl}) {
            QCOMPARE(label->text(), QStringLiteral("15"));
        }
        QVERIFY(!dlg_->RenderLock);
        // Again: nothing moves, nothing renders.
        dlg_->narrow_btnClick();
        QCOMPARE(Renders(), before + 1);
        // Blue already at the preset: red and green change, no render follows.
        dlg_->dist_r->setValue(40);
        before = Renders();
        dlg_->narrow_btnClick();
        QCOMPARE(Renders(), before);
        QCOMPARE(dlg_->distr_lbl->text(), QStringLiteral("15"));
        dlg_->medium_btnClick();
        dlg_->large_btnClick();
        dlg_->reset_btnClick();
        QCOMPARE(Renders(), before + 3);
        QCOMPARE(dlg_->dist_g->value(), 255);
        // A slider moved by the user renders at each step.
        dlg_->dist_g->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(Renders(), before + 4);
        QCOMPARE(dlg_->distg_lbl->text(), QStringLiteral("254"));
        // ... and also when the step leaves it where it was, or the thumb is let go,
        dlg_->dist_g->triggerAction(QAbstractSlider::SliderToMaximum);
        dlg_->dist_g->triggerAction(QAbstractSlider::SliderToMaximum);
        QCOMPARE(Renders(), before + 6);
        dlg_->dist_g->setSliderDown(true);
        dlg_->dist_g->setSliderDown(false);
        QCOMPARE(Renders(), before + 7);
        QCOMPARE(dlg_->distg_lbl->text(), QStringLiteral("255"));
        // ... but the program setting a slider where it stands runs nothing.
        dlg_->dist_g->setValue(255);
        QCOMPARE(Renders(), before + 7);
    }

    // A drag brings the left view up to date from the pixels it shows; whatever reads the
    // full results right after it (Save, Filter) gets those of the final settings.
    void aDragShowsAndExportsItsFinalSettings() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 640, 480));
        dlg_->rbase_txt->setText(QStringLiteral("120"));
        dlg_->gbase_txt->setText(QStringLiteral("90"));
        const int before = Renders();
        for (int i = 0; i < 7; ++i) {
            dlg_->dist_r->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            dlg_->dist_g->triggerAction(QAbstractSlider::SliderSingleStepSub);
        }
        QCOMPARE(Renders(), before + 14);
        TBitmap32 render;
        TBitmap32 mask;
        RenderPixels(dlg_->orgimg->Bitmap, CentralColor{120, 90, 0}, Thresholds{47, 33, 40}, render,
                     mask);
        QVERIFY(ShowsInLeftView(render));
        dlg_->showmask_btnClick();
        QVERIFY(ShowsInLeftView(mask));

        const fs::path target = root() / "drag.jpg";
        Choose(QString::fromStdString(target.string()));
        dlg_->save_btnClick();
        const std::vector<std::uint8_t> expected = EncodeJpeg(render);
        QCOMPARE(test::readFile(target), std::string(expected.begin(), expected.end()));

        dlg_->dist_r->triggerAction(QAbstractSlider::SliderSingleStepSub);
        dlg_->filter_btnClick();
        RenderPixels(dlg_->orgimg->Bitmap, CentralColor{120, 90, 0}, Thresholds{46, 33, 40}, render,
                     mask);
        FilterMask(mask);
        QVERIFY(ShowsInLeftView(mask));
        QVERIFY(SameBitmap(Mask(), mask));
        tintavo::RecomposePicture(dlg_->orgimg->Bitmap, mask, render);
        QVERIFY(SameBitmap(Render(), render));
    }

    // The picture is decoded once, and again as soon as the working copy changes on disk,
    // even in place, to the same size, within the same second.
    void aChangedWorkingCopyIsReadAgain() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 64, 48));
        const fs::path work = dlg_->WorkFile.toStdString();
        struct stat before {};
        QCOMPARE(::stat(work.c_str(), &before), 0);
        TBitmap32 other = Pattern(64, 48);
        for (int y = 0; y < 48; ++y) {
            for (int x = 0; x < 64; ++x) {
                other.SetPixelAt(x, y, ~other.PixelAt(x, y) | 0xFF000000u);
            }
        }
        const std::vector<std::uint8_t> bytes = EncodeJpeg(other);
        test::writeFile(work, std::string(bytes.begin(), bytes.end()));
        timespec times[2] = {before.st_atim, before.st_mtim};
        times[1].tv_nsec = (times[1].tv_nsec + 1) % 1000000000;
        QCOMPARE(::utimensat(AT_FDCWD, work.c_str(), times, 0), 0);
        dlg_->process_btnClick();
        TBitmap32 read;
        ReadPictureFile(read, work);
        QVERIFY(SameBitmap(dlg_->orgimg->Bitmap, read));
        QVERIFY(ShowsInLeftView(Expected(0, 0, 0, 40)));
        // Replaced by a file that is no picture: read again, and reported.
        const fs::path text = root() / "notes.txt";
        test::writeFile(text, "no picture\n");
        fs::rename(text, work);
        dlg_->process_btnClick();
        QCOMPARE(Count(QStringLiteral("Unable to load file")), 1);
        QVERIFY(dlg_->WorkFile.isEmpty());
    }

    // A pointer event as the zoom window's picture area receives it.
    static void SendMouse(QWidget* view, QEvent::Type type, QPointF at, Qt::MouseButton button,
                          Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
        QMouseEvent event(type, at, view->mapToGlobal(at), button, held, modifiers);
        QCoreApplication::sendEvent(view, &event);
    }

    // At 100 % the zoom window probes the very pixel drawn under the pointer, and a click
    // there sets the Central Color and renders as the same pixel pressed on a main view.
    void zoomWindowProbesAndPicksAsTheMainViews() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 1000, 800));
        // "View" sits right before "?".
        const QList<QAction*> menus = dlg_->menuBar()->actions();
        QCOMPARE(menus.at(menus.size() - 2)->text(), QStringLiteral("View"));
        QCOMPARE(dlg_->ZoomWindow1->shortcut(), QKeySequence(QStringLiteral("Ctrl+E")));
        dlg_->ZoomWindow1->trigger();
        TZoomWindow* zoom = dlg_->ZoomWindow;
        QVERIFY(zoom != nullptr && zoom->isVisible());
        QCOMPARE(zoom->windowTitle(), QStringLiteral("Zoom - Tintavo"));
        QTest::keyClick(zoom->View, Qt::Key_1);
        QCOMPARE(zoom->View->Zoom(), 1.0);
        const QPoint corner = *zoom->View->PictureAt(QPointF(0, 0));
        // The picture as read (Space held) drawn 1:1: the probe reads what is drawn there.
        QTest::keyPress(zoom->View, Qt::Key_Space);
        zoom->View->grab();
        const QPointF at(266 - corner.x(), 266 - corner.y());
        SendMouse(zoom->View, QEvent::MouseMove, at, Qt::NoButton);
        const TColor32 col = dlg_->orgimg->Bitmap.PixelAt(266, 266);
        QCOMPARE(zoom->View->Drawn().PixelAt(static_cast<int>(at.x()), static_cast<int>(at.y())),
                 col);
        QCOMPARE(dlg_->r_txt->Value(), static_cast<int>(RedOf(col)));
        QCOMPARE(dlg_->b_txt->Value(), static_cast<int>(BlueOf(col)));
        QVERIFY(zoom->Status->text().contains(QStringLiteral("x 266  y 266")));
        QTest::keyRelease(zoom->View, Qt::Key_Space);

        const int before = Renders();
        SendMouse(zoom->View, QEvent::MouseButtonPress, at, Qt::LeftButton);
        SendMouse(zoom->View, QEvent::MouseButtonRelease, at, Qt::LeftButton);
        QCOMPARE(Renders(), before + 1);
        const fs::path fromZoom = root() / "zoom.jpg";
        Choose(QString::fromStdString(fromZoom.string()));
        dlg_->save_btnClick();
        const QString cc = dlg_->rbase_txt->text() + dlg_->gbase_txt->text();

        // The same pixel on the main view: 1000 x 800 is drawn 375 x 300 there.
        dlg_->rbase_txt->setText(QStringLiteral("0"));
        dlg_->imgMouseMove(dlg_->img, {}, 100, 100);
        dlg_->imgMouseDown(dlg_->img, Qt::LeftButton, {}, 100, 100);
        QCOMPARE(dlg_->rbase_txt->text() + dlg_->gbase_txt->text(), cc);
        const fs::path fromView = root() / "view.jpg";
        Choose(QString::fromStdString(fromView.string()));
        dlg_->save_btnClick();
        QCOMPARE(test::readFile(fromZoom), test::readFile(fromView));
        // A drag pans instead of picking.
        SendMouse(zoom->View, QEvent::MouseButtonPress, at, Qt::LeftButton);
        SendMouse(zoom->View, QEvent::MouseMove, at + QPointF(30, 20), Qt::LeftButton);
        SendMouse(zoom->View, QEvent::MouseButtonRelease, at + QPointF(30, 20), Qt::LeftButton);
        QCOMPARE(Renders(), before + 2);
        QCOMPARE(*zoom->View->PictureAt(QPointF(0, 0)), corner - QPoint(30, 20));
    }

    // Zoom and pan stop at their limits, a tiny window still draws, and the zoom window
    // follows the left view and keeps its zoom as a setting.
    void zoomWindowClampsFollowsAndKeepsItsZoom() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 300, 200));
        dlg_->ZoomWindow1Click();
        TZoomView* view = dlg_->ZoomWindow->View;
        view->ZoomTo(1000, QPointF(5, 5));
        QCOMPARE(view->Zoom(), TZoomView::MaxZoom);
        view->ZoomTo(0, QPointF(5, 5));
        QCOMPARE(view->Zoom(), TZoomView::MinZoom);
        QTest::keyClick(view, Qt::Key_0);
        QVERIFY(view->Fits());
        dlg_->showmask_btnClick();
        view->grab();
        TBitmap32 mask;
        TBitmap32 render;
        RenderPixels(dlg_->orgimg->Bitmap, CentralColor{}, Thresholds{40, 40, 40}, render, mask);
        const TBitmap32& drawn = view->Drawn();
        QVERIFY(drawn.Width() > 300);
        const QPointF origin = view->DrawnRect().topLeft();
        for (int y = 0; y < drawn.Height(); y += 7) {
            for (int x = 0; x < drawn.Width(); x += 5) {
                const QPoint at = *view->PictureAt(origin + QPointF(x, y));
                QCOMPARE(drawn.PixelAt(x, y), mask.PixelAt(at.x(), at.y()));
            }
        }
        QTest::keyClick(view, Qt::Key_Plus);
        QTest::keyClick(view, Qt::Key_Plus);
        dlg_->ZoomWindow->resize(2, 2);
        QVERIFY(!dlg_->ZoomWindow->grab().isNull());
        const QString kept = view->ZoomText();
        dlg_->ZoomWindow->close();
        const auto value = platform::RegReadValue(platform::RegRoot::CurrentUser,
                                                  ProductKeyPath("Tintavo"), "ZoomWindowZoom");
        QVERIFY(value.has_value());
        QCOMPARE(QString::fromStdString(value->data), kept);
    }

    // A panel change renders once and is one undo step; the choice outlives the window.
    void selectionPanelRendersUndoesAndIsKept() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 300, 200));
        dlg_->ZoomWindow1Click();
        TZoomWindow* zoom = dlg_->ZoomWindow;
        const int before = Renders();
        zoom->ModelBox->setCurrentIndex(1);
        QCOMPARE(Renders(), before + 1);
        QVERIFY(dlg_->Choice.Model == ColourModel::Hue);
        TBitmap32 render;
        TBitmap32 mask;
        RenderSelection(dlg_->orgimg->Bitmap, dlg_->PassOptions(), render, mask);
        QVERIFY(SameBitmap(Render(), render));
        dlg_->Undo1Click();
        QVERIFY(dlg_->Choice.Model == ColourModel::RgbBox);
        QCOMPARE(zoom->ModelBox->currentIndex(), 0);
        dlg_->Redo1Click();
        zoom->close();
        dlg_ = std::make_unique<TMainDlg>();
        QVERIFY(dlg_->Choice.Model == ColourModel::Hue);
    }

    // One Hue pick keeps the ball from its shadow to its light, the RGB box far less, no grey
    // is kept, and the export is the chosen selection's.
    void hueKeepsTheShadedBallWhole() {
        Load(WriteBall(root() / "ball.jpg"));
        TZoomView* view = ZoomAtOneToOne();
        Click(view, Over(view, 150, 80));
        const auto inBall = [](int x, int y) { return std::hypot(x - 120, y - 80) <= 57; };
        const auto onGrey = [](int x, int y) {
            return std::hypot(x - 120, y - 80) >= 64 && (x >= 44 || y >= 44);
        };
        int area = 0;
        for (int y = 0; y < 160; ++y) {
            for (int x = 0; x < 240; ++x) {
                area += inBall(x, y) ? 1 : 0;
            }
        }
        const int byBox = CountKept(Mask(), inBall);
        dlg_->ZoomWindow->ModelBox->setCurrentIndex(1);
        const int byHue = CountKept(Mask(), inBall);
        QVERIFY2(byHue >= area * 97 / 100, qPrintable(QString::number(byHue)));
        QVERIFY2(byBox < area * 60 / 100, qPrintable(QString::number(byBox)));
        QCOMPARE(CountKept(Mask(), onGrey), 0);
        QVERIFY(SameBitmap(Render(), ExpectedSelection()));
        QVERIFY(ShowsInLeftView(Render()));
        const fs::path out = root() / "hue.jpg";
        Choose(QString::fromStdString(out.string()));
        dlg_->save_btnClick();
        const std::vector<std::uint8_t> expected = EncodeJpeg(ExpectedSelection());
        QCOMPARE(test::readFile(out), std::string(expected.begin(), expected.end()));
    }

    // Shift+press adds a kept colour, Ctrl+press takes the nearest away; the soft edge and
    // the filter work on the chosen selection, and the views show its results.
    void severalColoursSoftEdgeAndFilter() {
        Load(WriteBall(root() / "ball.jpg"));
        TZoomView* view = ZoomAtOneToOne();
        Click(view, Over(view, 150, 80));
        QCOMPARE(dlg_->MoreColours.size(), std::size_t{0});
        Click(view, Over(view, 24, 24), Qt::ShiftModifier);
        QCOMPARE(dlg_->PassOptions().Colours.size(), std::size_t{2});
        QCOMPARE(Mask().PixelAt(24, 24), MaskKept);
        QCOMPARE(Mask().PixelAt(150, 80), MaskKept);
        QVERIFY(SameBitmap(Render(), ExpectedSelection()));

        dlg_->ZoomWindow->SoftEdge->setValue(6);
        QVERIFY(SameBitmap(Render(), ExpectedSelection()));
        QVERIFY(ShowsInLeftView(Render()));
        const TColor32 edge = Mask().PixelAt(8, 24); // on the square's left edge
        QVERIFY(edge != MaskKept && edge != MaskGreyed);

        dlg_->filter_btnClick();
        TBitmap32 hard;
        BuildHardMask(dlg_->orgimg->Bitmap, SelectionRule(dlg_->PassOptions()), hard);
        FilterMask(hard);
        TBitmap32 render;
        TBitmap32 mask;
        FinishSelection(dlg_->orgimg->Bitmap, hard, dlg_->PassOptions(), nullptr, render, mask);
        QVERIFY(SameBitmap(Render(), render));
        QVERIFY(SameBitmap(Mask(), mask));
        dlg_->showmask_btnClick();
        QVERIFY(ShowsInLeftView(mask));
        dlg_->showpic_btnClick();

        Click(view, Over(view, 24, 24), Qt::ControlModifier);
        QCOMPARE(dlg_->PassOptions().Colours.size(), std::size_t{1});
        QVERIFY(Mask().PixelAt(24, 24) == MaskGreyed);
        QVERIFY(SameBitmap(Render(), ExpectedSelection()));
    }

    // The soft edge follows the pass: the views show the hard edge at once and the soft one
    // once it is built; a pass while it is being built shows only its own soft edge.
    void softEdgeFollowsTheHardEdge() {
        Load(WriteBall(root() / "ball.jpg"));
        TZoomView* view = ZoomAtOneToOne();
        Click(view, Over(view, 150, 80));
        const auto selection = [&](int feather) {
            SelectionOptions options = dlg_->PassOptions();
            options.Feather = feather;
            TBitmap32 render;
            TBitmap32 mask;
            RenderSelection(dlg_->orgimg->Bitmap, options, render, mask);
            return render;
        };
        QSpinBox* softEdge = dlg_->ZoomWindow->SoftEdge;
        softEdge->setValue(8);
        QVERIFY(dlg_->SoftEdgePending());
        QVERIFY(ShowsInLeftView(selection(0)));
        QTRY_VERIFY(ShowsInLeftView(selection(8)));
        QVERIFY(!dlg_->SoftEdgePending());

        softEdge->setValue(20);
        softEdge->setValue(3);
        QVERIFY(ShowsInLeftView(selection(0)));
        QTRY_VERIFY(!dlg_->SoftEdgePending());
        QTest::qWait(20); // nothing of the earlier pass arrives afterwards
        QVERIFY(ShowsInLeftView(selection(3)));
        QVERIFY(SameBitmap(Render(), selection(3)));
    }

    // A stroke greys (or keeps) what it covers, stays across renders, filters and undo steps
    // of other kinds, is an undo step itself, is exported, and goes with the next Load.
    void brushStrokesStayUntilTheNextLoad() {
        const QString ball = WriteBall(root() / "ball.jpg");
        Load(ball);
        TZoomView* view = ZoomAtOneToOne();
        Click(view, Over(view, 150, 80));
        const TBitmap32 unpainted = Copy(Render());
        TZoomWindow* zoom = dlg_->ZoomWindow;
        zoom->BrushBox->setCurrentIndex(2); // grey
        zoom->BrushRadius->setValue(6);
        zoom->BrushSoftness->setValue(0);
        const int steps = dlg_->History->Stack().count();
        const int renders = Renders();
        SendMouse(view, QEvent::MouseButtonPress, Over(view, 150, 80), Qt::LeftButton);
        SendMouse(view, QEvent::MouseMove, Over(view, 170, 80), Qt::LeftButton);
        SendMouse(view, QEvent::MouseButtonRelease, Over(view, 170, 80), Qt::LeftButton);
        QCOMPARE(Renders(), renders); // painting needs no pass
        QCOMPARE(dlg_->History->Stack().count(), steps + 1);
        QCOMPARE(dlg_->rbase_txt->Value(), static_cast<int>(RedOf(unpainted.PixelAt(150, 80))));
        const auto painted = [&] {
            return Mask().PixelAt(160, 80) == MaskGreyed && Mask().PixelAt(150, 86) == MaskGreyed &&
                   Mask().PixelAt(160, 90) == MaskKept &&
                   Render().PixelAt(220, 140) == unpainted.PixelAt(220, 140);
        };
        QVERIFY(painted());
        QVERIFY(ShowsInLeftView(Render()));

        // A render and a filter keep it; undo takes it away only at its own step.
        dlg_->dist_r->setValue(60);
        QVERIFY(painted());
        QVERIFY(ShowsInLeftView(Render()));
        dlg_->filter_btnClick();
        QVERIFY(painted());
        const fs::path out = root() / "painted.jpg";
        Choose(QString::fromStdString(out.string()));
        dlg_->save_btnClick();
        const std::vector<std::uint8_t> expected = EncodeJpeg(Render());
        QCOMPARE(test::readFile(out), std::string(expected.begin(), expected.end()));
        dlg_->Undo1Click(); // the filter
        dlg_->Undo1Click(); // the threshold
        QVERIFY(painted());
        dlg_->Undo1Click(); // the stroke
        QVERIFY(SameBitmap(Render(), unpainted));
        dlg_->Redo1Click();
        QVERIFY(painted());

        // Keep paints colour back onto the grey background; Clear takes every stroke away.
        zoom->BrushBox->setCurrentIndex(1);
        SendMouse(view, QEvent::MouseButtonPress, Over(view, 20, 140), Qt::LeftButton);
        SendMouse(view, QEvent::MouseButtonRelease, Over(view, 20, 140), Qt::LeftButton);
        QCOMPARE(Mask().PixelAt(20, 140), MaskKept);
        zoom->ClearStrokes->click();
        QVERIFY(SameBitmap(Render(), unpainted));
        QCOMPARE(Mask().PixelAt(160, 80), MaskKept);
        dlg_->Undo1Click();
        QCOMPARE(Mask().PixelAt(20, 140), MaskKept);

        // A load starts with no strokes: the written render, byte for byte.
        Load(ball);
        QVERIFY(!dlg_->HasStrokes());
        QCOMPARE(Mask().PixelAt(160, 80), MaskKept);
        QVERIFY(SameBitmap(Render(), unpainted));
        // The brush's size and softness outlive the window; it starts switched off.
        zoom->close();
        dlg_ = std::make_unique<TMainDlg>();
        dlg_->ZoomWindow1Click();
        QCOMPARE(dlg_->ZoomWindow->BrushRadius->value(), 6);
        QCOMPARE(dlg_->ZoomWindow->BrushSoftness->value(), 0);
        QCOMPARE(dlg_->ZoomWindow->BrushBox->currentIndex(), 0);
    }

    void probeMapsViewPointsToPicturePixels() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 800, 600));
        const TBitmap32& source = dlg_->orgimg->Bitmap;
        const auto probe = [&] {
            return QStringList{dlg_->r_txt->text(), dlg_->g_txt->text(), dlg_->b_txt->text()};
        };
        const auto expect = [&](int px, int py) {
            const TColor32 col = source.PixelAt(px, py);
            return QStringList{QString::number(RedOf(col)), QString::number(GreenOf(col)),
                               QString::number(BlueOf(col))};
        };
        const QList<std::pair<QPoint, QPoint>> cases = {
            {{0, 0}, {0, 0}}, {{200, 150}, {400, 300}}, {{399, 299}, {798, 598}}};
        for (const auto& [view, pixel] : cases) {
            dlg_->imgMouseMove(dlg_->orgimg, {}, view.x(), view.y());
            QCOMPARE(probe(), expect(pixel.x(), pixel.y()));
            // The left view probes the picture as read too, also while it shows the mask.
            dlg_->showmask_btnClick();
            dlg_->r_txt->clear();
            dlg_->imgMouseMove(dlg_->img, {}, view.x(), view.y());
            QCOMPARE(probe(), expect(pixel.x(), pixel.y()));
        }
        // Distances are absolute, an empty Central Color counting as 0.
        dlg_->imgMouseMove(dlg_->orgimg, {}, 200, 150);
        const int red = dlg_->r_txt->Value();
        QCOMPARE(dlg_->diffr_lbl->text(), QString::number(red));
        dlg_->rbase_txt->SetValue(red + 20);
        dlg_->gbase_txt->SetValue(dlg_->g_txt->Value() - 20);
        dlg_->imgMouseMove(dlg_->orgimg, {}, 200, 150);
        QCOMPARE(dlg_->diffr_lbl->text(), QStringLiteral("20"));
        QCOMPARE(dlg_->diffg_lbl->text(), QStringLiteral("20"));
    }

    void probeIgnoresPointsOutsideThePicture() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "square.jpg", 100, 100));
        dlg_->imgMouseMove(dlg_->orgimg, {}, 299, 299);
        QCOMPARE(dlg_->r_txt->Value(),
                 static_cast<int>(RedOf(dlg_->orgimg->Bitmap.PixelAt(99, 99))));
        dlg_->r_txt->setText(QStringLiteral("7"));
        dlg_->imgMouseMove(dlg_->orgimg, {}, 350, 10);
        dlg_->imgMouseMove(dlg_->orgimg, {}, -1, 10);
        QCOMPARE(dlg_->r_txt->text(), QStringLiteral("7"));

        Load(WriteJpeg(root() / "wide.jpg", 1920, 1080));
        dlg_->imgMouseMove(dlg_->orgimg, {}, 399, 224);
        QCOMPARE(dlg_->g_txt->Value(),
                 static_cast<int>(GreenOf(dlg_->orgimg->Bitmap.PixelAt(1915, 1075))));
        dlg_->g_txt->setText(QStringLiteral("7"));
        dlg_->imgMouseMove(dlg_->orgimg, {}, 100, 250);
        QCOMPARE(dlg_->g_txt->text(), QStringLiteral("7"));
    }

    void pressSetsTheCentralColourAndRenders() {
        // Before any picture: the zeros of the probe become the Central Color, nothing renders.
        for (IntegerField* f : {dlg_->r_txt, dlg_->g_txt, dlg_->b_txt}) {
            f->setText(QStringLiteral("0"));
        }
        dlg_->imgMouseDown(dlg_->img, Qt::LeftButton, {}, 0, 0);
        QCOMPARE(dlg_->rbase_txt->text(), QStringLiteral("0"));
        QCOMPARE(Renders(), 0);

        SetThresholds(40);
        Load(WriteJpeg(root() / "square.jpg", 100, 100));
        dlg_->show();
        QVERIFY(QTest::qWaitForWindowExposed(dlg_.get()));
        // Real pointer events on the right view: a move probes, a right-button press sets.
        QTest::mouseMove(dlg_->orgimg, QPoint(150, 60));
        const QString red = dlg_->r_txt->text();
        const int before = Renders();
        QTest::mousePress(dlg_->orgimg, Qt::RightButton, {}, QPoint(150, 60));
        QTest::mouseRelease(dlg_->orgimg, Qt::RightButton, {}, QPoint(150, 60));
        QCOMPARE(dlg_->rbase_txt->text(), red);
        QCOMPARE(Renders(), before + 1);
        // On the picture's right edge line the press counts; beyond it, not.
        dlg_->imgMouseDown(dlg_->orgimg, Qt::LeftButton, {}, 300, 300);
        QCOMPARE(Renders(), before + 2);
        dlg_->imgMouseDown(dlg_->orgimg, Qt::LeftButton, {}, 301, 10);
        QCOMPARE(Renders(), before + 2);
    }

    void viewReportsMovesOutsideWhileAButtonIsHeld() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "square.jpg", 100, 100));
        dlg_->show();
        QVERIFY(QTest::qWaitForWindowExposed(dlg_.get()));
        QList<std::pair<TImage32*, QPoint>> moves;
        connect(dlg_->img, &TImage32::MouseMove, this,
                [&](TImage32* s, Qt::KeyboardModifiers, int x, int y) {
                    moves.append({s, {x, y}});
                });
        QTest::mousePress(dlg_->img, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseMove(dlg_->img, QPoint(-30, 500));
        QTest::mouseRelease(dlg_->img, Qt::LeftButton, {}, QPoint(-30, 500));
        QVERIFY(!moves.isEmpty());
        QCOMPARE(moves.last().first, dlg_->img);
        QCOMPARE(moves.last().second, QPoint(-30, 500));
    }

    void filterCleansTheMaskAndRebuildsThePicture() {
        dlg_->filter_btnClick();
        QCOMPARE(Count(QStringLiteral("Filtering...")), 0);

        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 64, 64));
        dlg_->rbase_txt->setText(QStringLiteral("120"));
        dlg_->gbase_txt->setText(QStringLiteral("120"));
        dlg_->bbase_txt->setText(QStringLiteral("120"));
        dlg_->process_btnClick();
        TBitmap32 mask = Copy(Mask());
        FilterMask(mask);
        TBitmap32 render;
        tintavo::RecomposePicture(dlg_->orgimg->Bitmap, mask, render);

        dlg_->filter_btnClick();
        QCOMPARE(Count(QStringLiteral("Filtering...")), 1);
        QVERIFY(SameBitmap(Mask(), mask));
        QVERIFY(SameBitmap(Render(), render));
        QVERIFY(ShowsInLeftView(render));
        // "Picture" afterwards shows the recomposed picture; "Mask" the cleaned mask.
        dlg_->showmask_btnClick();
        QVERIFY(ShowsInLeftView(mask));
        dlg_->showpic_btnClick();
        QVERIFY(ShowsInLeftView(render));
    }

    void maskAndPictureChooseTheLeftView() {
        dlg_->showmask_btnClick();
        QVERIFY(dlg_->ShowMask);
        QVERIFY(dlg_->img->Shown().IsEmpty());
        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 32, 24));
        dlg_->showmask_btnClick();
        QVERIFY(ShowsInLeftView(Mask()));
        // A threshold change re-renders and keeps the mask on show.
        dlg_->dist_r->setValue(90);
        QVERIFY(ShowsInLeftView(Mask()));
        QVERIFY(SameBitmap(dlg_->orgimg->Bitmap, Copy(dlg_->orgimg->Bitmap)));
        dlg_->showpic_btnClick();
        QVERIFY(!dlg_->ShowMask);
        QVERIFY(ShowsInLeftView(Render()));
    }

    void aFileThatIsNoPictureIsReportedOnce() {
        SetThresholds(40);
        const fs::path text = root() / "notes.jpg";
        test::writeFile(text, "these are not the pixels you are looking for\n");
        Load(WriteJpeg(root() / "photo.jpg", 32, 24));
        Load(QString::fromStdString(text.string()));
        QCOMPARE(Renders(), 2);
        // The results of the earlier picture are gone: both buffers present and empty.
        QVERIFY(dlg_->RenderBitmap != nullptr && dlg_->RenderBitmap->IsEmpty());
        QVERIFY(dlg_->MaskBitmap != nullptr && dlg_->MaskBitmap->IsEmpty());
        QCOMPARE(Count(QStringLiteral("Unable to load file")), 1);
        QCOMPARE(asked_.size(), size_t{1});
        QCOMPARE(asked_[0].text, std::string("Unable to load file"));
        QCOMPARE(asked_[0].caption, std::string("Tintavo"));
        QCOMPARE(asked_[0].buttons, int{MsgOk});
        QCOMPARE(asked_[0].icon, MsgIcon::None);
        QVERIFY(dlg_->filename_txt->text().isEmpty());
        QVERIFY(dlg_->WorkFile.isEmpty());
        QVERIFY(dlg_->img->isHidden());
        QVERIFY(dlg_->orgimg->isHidden());
        QVERIFY(!dlg_->save_btn->isEnabled());
        QCOMPARE(dlg_->pb->value(), 0);
        // Render again: nothing happens at all.
        dlg_->process_btnClick();
        QCOMPARE(Renders(), 2);
        QCOMPARE(asked_.size(), size_t{1});
        // Filter still logs and empties the left view; nothing visible changes.
        dlg_->filter_btnClick();
        QCOMPARE(Count(QStringLiteral("Filtering...")), 1);
        QVERIFY(dlg_->img->Shown().IsEmpty());
    }

    void aMissingFileLeavesThePreviousPicture() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 32, 24));
        const QString missing = QString::fromStdString((root() / "nothing-here").string());
        Load(missing);
        QCOMPARE(dlg_->filename_txt->text(), missing);
        QCOMPARE(Renders(), 1);
        QVERIFY(asked_.empty());
        QVERIFY(dlg_->save_btn->isEnabled());
        QVERIFY(!dlg_->img->isHidden());
        QCOMPARE(dlg_->img->Shown().Width, 32);
    }

    void loadingTheWorkingCopyItselfKeepsIt() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 32, 24));
        const QString work = dlg_->WorkFile;
        Load(work);
        QVERIFY(QFile::exists(work));
        QCOMPARE(Renders(), 2);
        QVERIFY(dlg_->save_btn->isEnabled());
    }

    void cancelledChooserChangesNothing() {
        Choose(std::nullopt);
        dlg_->load_btnClick();
        QVERIFY(dlg_->WorkFile.isEmpty());
        QCOMPARE(dlg_->RunLog->Lines().size(), size_t{0});
    }

    void saveWritesTheRenderedPicture() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 96, 64));
        dlg_->rbase_txt->setText(QStringLiteral("100"));
        dlg_->process_btnClick();
        dlg_->showmask_btnClick(); // the export writes the picture, not the mask on show
        const fs::path chosen = root() / "out" / "result";
        fs::create_directories(chosen.parent_path());
        Choose(QString::fromStdString(chosen.string()));
        const mode_t mask = umask(022);
        dlg_->save_btnClick();
        umask(mask);

        const fs::path written = root() / "out" / "result.jpg";
        // A new export is readable as any new file of the user's is, not private.
        QVERIFY((fs::status(written).permissions() & fs::perms::others_read) != fs::perms::none);
        QCOMPARE(
            Count(QStringLiteral("Exporting to : ") + QString::fromStdString(written.string())), 1);
        const std::vector<std::uint8_t> expected = EncodeJpeg(Render());
        const std::string bytes = test::readFile(written);
        QCOMPARE(bytes.size(), expected.size());
        QVERIFY(
            std::equal(bytes.begin(), bytes.end(), expected.begin(),
                       [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
        QCOMPARE(test::readFile(DataFilePath(QStringLiteral("_save.jpg")).toStdString()), bytes);
        TBitmap32 back;
        ReadPictureFile(back, written);
        QCOMPARE(back.Width(), 96);
        QCOMPARE(back.Height(), 64);
        // The chooser keeps the name as confirmed, without the appended extension.
        Choose(std::nullopt);
        dlg_->load_btnClick();
        QCOMPARE(chooserSaw_.back(), QString::fromStdString(chosen.string()));
        QVERIFY(asked_.empty());
    }

    void saveAsksBeforeReplacingAFile() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 32, 32));
        const fs::path target = root() / "keep.jpg";
        test::writeFile(target, "precious");
        answer_ = IdNo;
        Choose(QString::fromStdString(target.string()));
        dlg_->save_btnClick();
        QCOMPARE(asked_.size(), size_t{1});
        QCOMPARE(asked_[0].icon, MsgIcon::Question);
        QVERIFY(QString::fromStdString(asked_[0].text)
                    .contains(QString::fromStdString(target.string())));
        QCOMPARE(test::readFile(target), std::string("precious"));
        QCOMPARE(Count(QStringLiteral("Exporting to : ") + QString::fromStdString(target.string())),
                 0);

        answer_ = IdYes;
        Choose(QString::fromStdString(target.string()));
        dlg_->save_btnClick();
        QCOMPARE(asked_.size(), size_t{2});
        QCOMPARE(test::readFile(target).size(), EncodeJpeg(Render()).size());
    }

    void anUnwritableTemporaryFileIsReportedAndTheTargetUntouched() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 32, 32));
        // A folder where the temporary export should go: it can be neither removed as a file
        // nor created, whoever runs the test.
        const QString temporary = DataFilePath(QStringLiteral("_save.jpg"));
        fs::create_directories(temporary.toStdString());
        const fs::path target = root() / "out.jpg";
        Choose(QString::fromStdString(target.string()));
        dlg_->save_btn->click();
        QVERIFY(!fs::exists(target));
        QCOMPARE(asked_.size(), size_t{1});
        QCOMPARE(asked_[0].caption, std::string("Tintavo"));
        QCOMPARE(asked_[0].icon, MsgIcon::Error);
        QVERIFY(QString::fromStdString(asked_[0].text)
                    .startsWith(QStringLiteral("Cannot create ") + temporary));
        QVERIFY(asked_[0].text.back() == '.');
        // The window carries on.
        QVERIFY(dlg_->save_btn->isEnabled());
    }

    // Every kind of step undoes to the selection and picture before it and redoes to the
    // one after it; runs of key steps and a drag are one step each, and undoing pushes none.
    void undoAndRedoEachKindOfStep() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 32, 24));
        QVERIFY(!dlg_->Undo1->isEnabled());
        QVERIFY(!dlg_->Redo1->isEnabled());
        struct State {
            QStringList values;
            TBitmap32 render;
        };
        const auto state = [this] {
            QStringList values;
            for (const IntegerField* f : {dlg_->rbase_txt, dlg_->gbase_txt, dlg_->bbase_txt}) {
                values.append(QString::number(f->Value()));
            }
            for (const QSlider* s : {dlg_->dist_r, dlg_->dist_g, dlg_->dist_b}) {
                values.append(QString::number(s->value()));
            }
            return State{values, Copy(Render())};
        };
        std::vector<State> states;
        states.push_back(state());
        // A press on the picture.
        dlg_->imgMouseMove(dlg_->orgimg, {}, 100, 60);
        dlg_->imgMouseDown(dlg_->orgimg, Qt::LeftButton, {}, 100, 60);
        states.push_back(state());
        // Typed values that a pass then uses.
        dlg_->rbase_txt->setText(QStringLiteral("120"));
        dlg_->process_btnClick();
        states.push_back(state());
        // A preset.
        dlg_->narrow_btnClick();
        states.push_back(state());
        // A run of key steps on one slider.
        for (int i = 0; i < 3; ++i) {
            dlg_->dist_r->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        }
        states.push_back(state());
        // A drag from press to release.
        dlg_->dist_g->setSliderDown(true);
        dlg_->dist_g->setSliderPosition(30);
        dlg_->dist_g->setSliderPosition(35);
        dlg_->dist_g->setSliderDown(false);
        states.push_back(state());
        // The filter, then Reset.
        dlg_->filter_btnClick();
        states.push_back(state());
        dlg_->reset_btnClick();
        states.push_back(state());
        QCOMPARE(dlg_->History->Stack().count(), 7);
        QVERIFY(!SameBitmap(states[5].render, states[6].render)); // the filter changed it

        const auto expect = [&](std::size_t i) {
            const State now = state();
            QCOMPARE(now.values, states[i].values);
            QVERIFY(SameBitmap(now.render, states[i].render));
            QVERIFY(ShowsInLeftView(states[i].render));
        };
        for (std::size_t i = states.size() - 1; i-- > 0;) {
            const int renders = Renders();
            dlg_->Undo1->trigger();
            QCOMPARE(Renders(), renders + 1);
            expect(i);
        }
        QVERIFY(!dlg_->Undo1->isEnabled());
        for (std::size_t i = 1; i < states.size(); ++i) {
            dlg_->Redo1->trigger();
            expect(i);
        }
        QVERIFY(!dlg_->Redo1->isEnabled());
        QCOMPARE(dlg_->History->Stack().count(), 7);

        // Key steps back to where the run began leave nothing to undo for that run.
        dlg_->dist_b->triggerAction(QAbstractSlider::SliderSingleStepSub);
        dlg_->dist_b->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(dlg_->History->Stack().count(), 7);
        // A new step after an undo drops what could be redone; a load empties the history.
        dlg_->Undo1->trigger();
        dlg_->large_btnClick();
        QVERIFY(!dlg_->Redo1->isEnabled());
        Load(WriteJpeg(root() / "other.jpg", 16, 16));
        QVERIFY(!dlg_->Undo1->isEnabled());
        QCOMPARE(dlg_->History->Stack().count(), 0);
    }

    // A dark desktop theme leaves the white band's title and instructions dark on white.
    void whiteBandKeepsDarkTextOnADarkTheme() {
        const QPalette saved = QApplication::palette();
        const auto restore = qScopeGuard([&] { QApplication::setPalette(saved); });
        QPalette dark(QColor(45, 45, 45));
        dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
        dark.setColor(QPalette::Text, QColor(235, 235, 235));
        QApplication::setPalette(dark);
        dlg_ = std::make_unique<TMainDlg>();
        dlg_->AppEvt->OnActivate = nullptr;
        const QImage band = dlg_->Client->grab(QRect(0, 0, 690, 97)).toImage();
        for (const QLabel* label : {dlg_->title_lbl, dlg_->instructions_lbl}) {
            int darkest = 255;
            const QRect r = label->geometry() & band.rect();
            for (int y = r.top(); y <= r.bottom(); ++y) {
                for (int x = r.left(); x <= r.right(); ++x) {
                    darkest = std::min(darkest, qGray(band.pixel(x, y)));
                }
            }
            QVERIFY2(darkest < 100, qPrintable(label->text()));
        }
        QCOMPARE(band.pixelColor(400, 2), QColor(Qt::white));
    }

    void applicationActivationReachesTheBoundHandlerOnly() {
        int calls = 0;
        dlg_->AppEvt->OnActivate = [&] {
            ++calls;
            dlg_->AppEvt->OnActivate = nullptr; // unbinds itself, as the real handler does
        };
        QEvent activate(QEvent::ApplicationActivate);
        QCoreApplication::sendEvent(QCoreApplication::instance(), &activate);
        QCoreApplication::sendEvent(QCoreApplication::instance(), &activate);
        QCOMPARE(calls, 1);
    }

    void aFailedCopyIsReportedAndLeavesNoFile() {
        SetThresholds(40);
        Load(WriteJpeg(root() / "photo.jpg", 32, 32));
        const fs::path target = root() / "no-such-folder" / "out.jpg";
        Choose(QString::fromStdString(target.string()));
        dlg_->save_btnClick();
        QVERIFY(!fs::exists(target));
        QCOMPARE(asked_.size(), size_t{1});
        QCOMPARE(asked_[0].icon, MsgIcon::Error);
        QVERIFY(QString::fromStdString(asked_[0].text)
                    .contains(QString::fromStdString(target.string())));
        const std::string newest = dlg_->RunLog->Lines()[0];
        QVERIFY(newest.rfind("Error\t", 0) == 0);

        // A read-only target stays as it was (the superuser may write anywhere: skip then).
        if (geteuid() != 0) {
            const fs::path locked = root() / "locked.jpg";
            test::writeFile(locked, "old");
            fs::permissions(locked, fs::perms::owner_read);
            Choose(QString::fromStdString(locked.string()));
            dlg_->save_btnClick();
            QCOMPARE(test::readFile(locked), std::string("old"));
            QCOMPARE(asked_.back().icon, MsgIcon::Error);
            QCOMPARE(fs::directory_iterator(root()) == fs::directory_iterator(), false);
            for (const auto& entry : fs::directory_iterator(root())) {
                QVERIFY2(entry.path().filename().string().find("locked.jpg.") == std::string::npos,
                         "a temporary file was left beside the target");
            }
        }
    }
};

// ---- Pieces of the window that need no window ----------------------------------------------

class WindowPartsTest : public QObject {
    Q_OBJECT
private slots:
    void exportNamesGetJpgUnlessTheyEndInExactlyJpgOrJpeg() {
        QCOMPARE(ExportFileName(QStringLiteral("/p/photo")), QStringLiteral("/p/photo.jpg"));
        QCOMPARE(ExportFileName(QStringLiteral("/p/photo.jpeg")), QStringLiteral("/p/photo.jpeg"));
        QCOMPARE(ExportFileName(QStringLiteral("/p/photo.jpg")), QStringLiteral("/p/photo.jpg"));
        QCOMPARE(ExportFileName(QStringLiteral("/p/photo.JPG")),
                 QStringLiteral("/p/photo.JPG.jpg"));
        QCOMPARE(ExportFileName(QStringLiteral("/p/photo.png")),
                 QStringLiteral("/p/photo.png.jpg"));
        QCOMPARE(ExportFileName(QStringLiteral("/p.jpg/photo")),
                 QStringLiteral("/p.jpg/photo.jpg"));
    }

    void chooserSitsCentredAndOneThirdDown() {
        QCOMPARE(ChooserPosition(QRect(0, 0, 1920, 1080), QSize(800, 600)), QPoint(560, 160));
        QCOMPARE(ChooserPosition(QRect(1920, 0, 1280, 1024), QSize(701, 500)), QPoint(2209, 174));
        // Larger than the monitor: the divisions round towards zero.
        QCOMPARE(ChooserPosition(QRect(0, 0, 800, 600), QSize(1001, 700)), QPoint(-100, -33));
        QCOMPARE(ChooserNameFilters(QStringLiteral("JPEG|*.jpg;*.jpeg")),
                 QStringList{QStringLiteral("JPEG (*.jpg *.jpeg)")});
    }

    void chooserListsJpegsWhateverTheCaseOfTheirExtension() {
        // Not a sandbox: the chooser's listing thread sometimes never delivered the folder
        // when HOME and the XDG variables were changed under a running application.
        QTemporaryDir tmp;
        const fs::path folder = fs::path(tmp.path().toStdString()) / "pictures";
        for (const char* name : {"a.jpg", "b.JPG", "c.Jpeg", "d.png", "e.txt"}) {
            test::writeFile(folder / name, "x");
        }
        TWideOpenDialog chooser(nullptr);
        chooser.Filter = QStringLiteral("JPEG|*.jpg;*.jpeg");
        chooser.InitialDir = QString::fromStdString(folder.string());
        QFileDialog dialog;
        // The listing comes from the file-system model's own thread, which a loaded machine
        // may keep waiting well past QTRY's usual five seconds: wait for the model to say it
        // has read the folder, then for the view to show it.
        chooser.Configure(dialog);
        // Its signals reach this thread only through the event loop, so none is missed yet.
        auto* model = dialog.findChild<QFileSystemModel*>();
        QVERIFY(model != nullptr);
        QSignalSpy loaded(model, &QFileSystemModel::directoryLoaded);
        // As the program does: a chooser that is never shown may never list its folder.
        dialog.show();
        auto* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
        QVERIFY(list != nullptr);
        const QString shownFolder = QDir(QString::fromStdString(folder.string())).canonicalPath();
        const auto folderLoaded = [&] {
            for (const QList<QVariant>& arguments : loaded) {
                if (QDir(arguments.value(0).toString()).canonicalPath() == shownFolder) {
                    return true;
                }
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(folderLoaded(), 60000);
        const auto names = [&] {
            QStringList shown;
            const QModelIndex rootIndex = list->rootIndex();
            for (int i = 0; i < list->model()->rowCount(rootIndex); ++i) {
                shown.append(list->model()->index(i, 0, rootIndex).data().toString());
            }
            shown.sort();
            return shown;
        };
        // The model may have read the folder's entries yet not judged them against the name
        // filters (a race inside the model): the same filters set again have it judge every
        // entry it holds.
        const QStringList expected{"a.jpg", "b.JPG", "c.Jpeg"};
        if (!QTest::qWaitFor([&] { return names() == expected; }, 5000)) {
            dialog.setNameFilters(dialog.nameFilters());
        }
        QTRY_COMPARE_WITH_TIMEOUT(names(), expected, 60000);
    }

    void chooserOpensOnTheActiveWindowsMonitor() {
        TWideOpenDialog chooser(nullptr);
        chooser.Filter = QStringLiteral("JPEG|*.jpg;*.jpeg");
        chooser.FileName = QStringLiteral("/tmp/some.jpg");
        QPoint placed;
        QPoint expected;
        QString offered;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog != nullptr);
            placed = dialog->pos();
            expected =
                ChooserPosition(dialog->screen()->geometry(), dialog->frameGeometry().size());
            offered = dialog->selectedFiles().value(0);
            dialog->reject();
        });
        QVERIFY(!chooser.Execute());
        QCOMPARE(placed, expected);
        QCOMPARE(offered, QStringLiteral("/tmp/some.jpg"));
        QCOMPARE(chooser.FileName, QStringLiteral("/tmp/some.jpg"));
    }

    void numberFieldsKeepDigitsAndALeadingSign() {
        IntegerField field;
        QTest::keyClicks(&field, QStringLiteral("a1b-2 3"));
        QCOMPARE(field.text(), QStringLiteral("123"));
        field.clear();
        QTest::keyClicks(&field, QStringLiteral("-42"));
        QCOMPARE(field.Value(), -42);
        field.clear();
        field.insert(QStringLiteral("x+7y"));
        QCOMPARE(field.text(), QStringLiteral("+7"));
        QCOMPARE(field.Value(), 7);
        QCOMPARE(IntegerField::Filtered(QStringLiteral("12-3+")), QStringLiteral("123"));
        QCOMPARE(IntegerField::ValueOf(QString()), 0);
        QCOMPARE(IntegerField::ValueOf(QStringLiteral("-")), 0);
        QCOMPARE(IntegerField::ValueOf(QStringLiteral("99999999999")), 0);
        QCOMPARE(IntegerField::ValueOf(QStringLiteral("-2147483648")), -2147483647 - 1);
        QCOMPARE(IntegerField::ValueOf(QStringLiteral("300")), 300);
        field.SetValue(-3);
        QCOMPARE(field.text(), QStringLiteral("-3"));
    }

    void errorsEscapingHandlersAreReportedAndTheProgramGoesOn() {
        QCOMPARE(ErrorReportText(QStringLiteral("Disk full")), QStringLiteral("Disk full."));
        QCOMPARE(ErrorReportText(QStringLiteral("Done.")), QStringLiteral("Done."));
        QCOMPARE(ErrorReportText(QStringLiteral("Really!")), QStringLiteral("Really!"));
        QCOMPARE(ErrorReportText(QStringLiteral("code 9")), QStringLiteral("code 9."));
        QCOMPARE(ErrorReportText(QString()), QString());

        std::vector<MessageBoxRequest> shown;
        ScopedMessageBoxAnswerer answer([&](const MessageBoxRequest& r) {
            shown.push_back(r);
            return int{IdOk};
        });
        RunHandler([] { throw std::runtime_error("Can't allocate the DIB handle"); });
        // Through the event loop too: an event handler that throws.
        struct Throwing : QObject {
            bool event(QEvent* e) override {
                if (e->type() == QEvent::User) {
                    throw std::runtime_error("Impossible d'écrire dans /x");
                }
                return QObject::event(e);
            }
        } target;
        QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
        QCoreApplication::processEvents();
        QCOMPARE(shown.size(), size_t{2});
        QCOMPARE(shown[0].text, std::string("Can't allocate the DIB handle."));
        QCOMPARE(shown[0].caption, std::string("Tintavo"));
        QCOMPARE(shown[0].icon, MsgIcon::Error);
        QCOMPARE(shown[0].buttons, int{MsgOk});
        QCOMPARE(shown[1].text, std::string("Impossible d'écrire dans /x."));
    }
};

int main(int argc, char* argv[]) {
    TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tintavo"));
    int failures = 0;
    {
        WindowPartsTest parts;
        failures += QTest::qExec(&parts, argc, argv);
    }
    {
        MainDlgTest window;
        failures += QTest::qExec(&window, argc, argv);
    }
    return failures;
}

#include "MainDlgTest.moc"
