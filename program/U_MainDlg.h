#pragma once

// The main window: every control of the form, the main-window state and all handlers.
// Handler bodies live in program/: the form, the sliders, the colour fields and the render
// in U_MainDlg.cpp; the picture files (Load, loading the working copy, Save and the export)
// in U_MainDlg_Files.cpp; the lifecycle group (activation, drops, closing, update outcome,
// the "?" menu) in U_MainDlg_Lifecycle.cpp; the Edit menu (undo and redo of the selection)
// in U_MainDlg_Undo.cpp.

#include <QCoreApplication>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include "engine/BrushOverlay.h"
#include "engine/RenderPass.h"
#include "engine/Selection.h"
#include "engine/ViewSampling.h"
#include "program/CoverageWorker.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QAction;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QSlider;
class QToolButton;
class QWidget;

namespace tintavo {

class IntegerField;
class SelectionHistory;
struct Selection;
class TBitmap32;
class TImage32;
class TTovikLog;
class TWideOpenDialog;
class TZelkLite;
class TZoomWindow;

// The application-events component: forwards the application's activation to whatever
// handler is bound. The handler may unbind itself (clear OnActivate) to run only once.
// Where the desktop never activates the window, the handler runs shortly after the parent
// window is shown.
class TApplicationEvents : public QObject {
    Q_OBJECT
public:
    explicit TApplicationEvents(QObject* parent);
    std::function<void()> OnActivate;
    static constexpr int ShownActivationDelayMs = 500;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Fire();
};

class TMainDlg : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainDlg(QWidget* parent = nullptr);
    ~TMainDlg() override;
    TMainDlg(const TMainDlg&) = delete;
    TMainDlg& operator=(const TMainDlg&) = delete;

    // ---- Controls (owned by Qt's parent chain) -------------------------------------------
    QWidget* Client = nullptr; // the 825 x 660 client area
    QWidget* Shape1 = nullptr;
    QLabel* title_lbl = nullptr;
    QLabel* instructions_lbl = nullptr;
    QLabel* Image1 = nullptr;

    QGroupBox* GroupBox6 = nullptr; // "Picture"
    QLineEdit* filename_txt = nullptr;
    QPushButton* load_btn = nullptr;

    QGroupBox* GroupBox2 = nullptr; // "Thresholds"
    QToolButton* temp_btn = nullptr;
    QSlider* dist_r = nullptr;
    QSlider* dist_g = nullptr;
    QSlider* dist_b = nullptr;
    QLabel* distr_lbl = nullptr;
    QLabel* distg_lbl = nullptr;
    QLabel* distb_lbl = nullptr;
    QPushButton* narrow_btn = nullptr;
    QPushButton* medium_btn = nullptr;
    QPushButton* large_btn = nullptr;

    QGroupBox* GroupBox3 = nullptr; // "Central Color (CC)"
    QToolButton* JvImgBtn1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    IntegerField* rbase_txt = nullptr;
    IntegerField* gbase_txt = nullptr;
    IntegerField* bbase_txt = nullptr;
    QLabel* Label9 = nullptr;

    QGroupBox* GroupBox4 = nullptr; // "On the fly Color"
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    IntegerField* r_txt = nullptr;
    IntegerField* g_txt = nullptr;
    IntegerField* b_txt = nullptr;
    QLabel* diffr_lbl = nullptr;
    QLabel* diffg_lbl = nullptr;
    QLabel* diffb_lbl = nullptr;

    QGroupBox* GroupBox5 = nullptr; // "Action"
    QPushButton* process_btn = nullptr;
    QPushButton* filter_btn = nullptr;
    QPushButton* reset_btn = nullptr;
    QPushButton* save_btn = nullptr;
    QProgressBar* pb = nullptr;

    QGroupBox* GroupBox1 = nullptr; // "Display"
    QPushButton* showpic_btn = nullptr;
    QPushButton* showmask_btn = nullptr;

    TImage32* img = nullptr;
    TImage32* orgimg = nullptr;

    // Menu bar (MainMenu1 is the window's menu bar).
    QMenu* File1 = nullptr;
    QAction* LoadFile1 = nullptr;
    QAction* Close1 = nullptr;
    QMenu* Edit1 = nullptr;
    QAction* Undo1 = nullptr;
    QAction* Redo1 = nullptr;
    QMenu* View1 = nullptr;
    QAction* ZoomWindow1 = nullptr;
    QMenu* N1 = nullptr;
    QAction* Openlogfile1 = nullptr;
    QAction* Checkforupdate1 = nullptr;
    QAction* N2 = nullptr;
    QAction* ChangeLog1 = nullptr;
    QAction* BugreportFeaturerequestKnownissues1 = nullptr;
    QAction* N3 = nullptr;
    QAction* About1 = nullptr;

    // Non-visual components.
    std::unique_ptr<TWideOpenDialog> WOD;
    TApplicationEvents* AppEvt = nullptr;
    // The zoom window, made when first opened (owned by Qt's parent chain).
    TZoomWindow* ZoomWindow = nullptr;

    // ---- Main-window state (all empty, zero or false at creation) ------------------------
    std::unique_ptr<TBitmap32> RenderBitmap;
    std::unique_ptr<TBitmap32> MaskBitmap;
    int PictureWidth = 0;
    int PictureHeight = 0;
    bool ShowMask = false;
    bool RenderLock = false;
    QString WorkFile;
    std::unique_ptr<QStringList> DroppedFiles;
    std::unique_ptr<TTovikLog> RunLog;
    // Shared only so that this header needs no definition of the client; the window is its
    // one owner.
    std::shared_ptr<TZelkLite> Updater;
    bool QuietUpdateCheck = false;
    // Undo and redo of the selection (owned by the window).
    SelectionHistory* History = nullptr;

    // ---- Operations used across the window ----------------------------------------------
    void LoadPicture(const QString& Path);
    // Makes the render the one rebuilt from the picture and the current mask (the engine's
    // RecomposePicture) when both exist; it is built at full resolution when needed.
    void RecomposeRender();
    // The full-resolution RenderBitmap and MaskBitmap of the last pass (and filter). A pass
    // brings the views up to date from the pixels they show only; whatever reads the two
    // buffers calls this first (Filter and Save do). Does nothing when they are built.
    void BuildResults();
    // Lets go of full-resolution results that can be built again from the picture.
    void ReleaseResults();
    // The colour probe at picture pixel (px, py): the picture as read into the "On the fly
    // Color" fields, and the distances to the Central Color. Outside the picture: nothing.
    void ProbeAt(int px, int py);
    // The Central Color becomes the colour the probe last showed, and the pass runs.
    void PickCentralColor();
    // The selection chosen in the zoom window's panel (U_MainDlg_Selection.cpp): the model,
    // its tolerances, the soft edge, the grey and the strength. Its Colours and Box take no
    // part: the kept colours are the Central Color and MoreColours, the box the thresholds.
    SelectionOptions Choice;
    // The kept colours after the Central Color (several colours, from the zoom window).
    std::vector<CentralColor> MoreColours;
    // A change of the panel: one pass, one undo step, kept as settings.
    void SetChoice(const SelectionOptions& choice);
    // The colour the probe last showed joins the kept colours, or the kept colour nearest
    // to it leaves them (the last one stays); the pass runs.
    void AddKeptColour();
    void RemoveKeptColour();
    // The options of the pass: the choice with the kept colours and the thresholds.
    SelectionOptions PassOptions() const;
    // Touch-up strokes from the zoom window, laid over the computed selection: they stay
    // across renders, filters and choices until the next Load; each is one undo step.
    // A stroke starts at a press, takes a disc at each point (picture coordinates, pixel
    // centres at whole numbers) and ends at the release. Without a rendered picture nothing
    // is painted.
    void BeginStroke(BrushMode mode, double radius, double softness);
    void PaintStroke(const std::vector<std::pair<double, double>>& points);
    void EndStroke();
    // Takes every stroke away (one undo step).
    void ClearStrokes();
    // True while strokes lie on the picture.
    bool HasStrokes() const;
    // The strokes laid on the picture, for the undo history.
    std::size_t StrokeCount() const { return strokeCount_; }
    // Lays exactly the first `count` strokes of those painted since the load (undo, redo).
    void ReplayStrokes(std::size_t count);
    // Adds a line to the run log when it exists (it is created at first activation).
    void Log(const QString& message, int level) const;
    // True while the soft edge of the last pass or filter is being built: the views show the
    // selection with a hard edge until then.
    bool SoftEdgePending() const { return coverageWorker_.Held(); }

public slots:
    // Window creation.
    void FormCreate();

    // Render pass, filter, thresholds, display choice.
    void process_btnClick();
    void filter_btnClick();
    void dist_rChange();
    void dist_gChange();
    void dist_bChange();
    void narrow_btnClick();
    void medium_btnClick();
    void large_btnClick();
    void reset_btnClick();
    void showpic_btnClick();
    void showmask_btnClick();

    // Colour probe and central colour (sender is the view that saw the event).
    void imgMouseMove(tintavo::TImage32* Sender, Qt::KeyboardModifiers Shift, int X, int Y);
    void imgMouseDown(tintavo::TImage32* Sender, Qt::MouseButton Button,
                      Qt::KeyboardModifiers Shift, int X, int Y);

    // Picture files.
    void load_btnClick();
    void save_btnClick();

    // Menu commands handled with the window.
    void Close1Click();
    void ZoomWindow1Click();
    void Undo1Click();
    void Redo1Click();

    // Lifecycle (bodies in U_MainDlg_Lifecycle.cpp).
    void AppEvtActivate();
    // Runs on every attempt to close the window; returning false (or throwing) keeps it open.
    bool FormClose();
    // Runs once, when the window is destroyed.
    void FormDestroy();
    void FilesDropped(QObject* Sender);
    void Checkforupdate1Click();
    void UpdateCheckDone();
    void About1Click();
    void ChangeLog1Click();
    void BugreportFeaturerequestKnownissues1Click();
    void Openlogfile1Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildLayout();
    void BuildTopBand(QWidget* c);
    void BuildPictureAndThresholds(QWidget* c);
    void BuildColorGroups(QWidget* c);
    void BuildActionAndViews(QWidget* c);
    void WireControls();
    void BuildMenus();
    void BuildEditMenu();
    void RestoreSelection(const Selection& selection);
    void ReadChoiceSettings();
    void KeepChoiceSettings() const;
    void SetTabOrder();
    void ApplyPreset(int red, int green, int blue);
    bool ReadWorkingCopy();
    // Points the left view at what the results show (the picture or the mask).
    void ShowResult();

    // The working copy as it was when the right view's picture was read from it: a pass
    // reads it again only when it is another file or has changed since.
    struct FileStamp {
        dev_t Device = 0;
        ino_t Inode = 0;
        off_t Size = 0;
        std::timespec Modified{};
        friend bool operator==(const FileStamp& a, const FileStamp& b) {
            return a.Device == b.Device && a.Inode == b.Inode && a.Size == b.Size &&
                   a.Modified.tv_sec == b.Modified.tv_sec &&
                   a.Modified.tv_nsec == b.Modified.tv_nsec;
        }
    };
    std::optional<FileStamp> readStamp_;
    // Where the results come from: held as they are (before any pass, after a failed read),
    // the pixel rule over the picture, or the filtered mask with the render recomposed
    // from it. Unless built, the full-resolution buffers are empty.
    // Chosen: a selection beyond the render pass's own, by rule_; ChosenFiltered: the
    // filtered hardMask_, finished by the choice's edge, grey and strength.
    enum class ResultSource { Held, Rule, Mask, Chosen, ChosenFiltered };
    ResultSource resultSource_ = ResultSource::Held;
    bool resultsBuilt_ = true;
    CentralColor ruleCc_;
    Thresholds ruleThresholds_;
    std::shared_ptr<const SelectionRule> rule_;
    TBitmap32 hardMask_;
    // The coverage of the chosen selection before the strokes, when it is not the rule's own
    // hard decision: the soft edge of the rule's mask or of the filtered one. The views
    // sample it; empty otherwise.
    TBitmap32 coverage_;
    const TBitmap32* HeldCoverage() const;
    // Starts building coverage_ for the chosen selection as it stands; until it arrives the
    // views show the hard decision.
    void PrepareCoverage();
    // The soft edge is built on coverageWorker_'s thread. That thread reads only the picture
    // (orgimg->Bitmap), the rule (shared and const) and, for a filtered selection, hardMask_;
    // it writes only the worker's own buffer. So whatever rewrites the picture or hardMask_
    // (a pass, which also reads the working copy again, a filter, closing the window) calls
    // CancelCoverage() first. A worker runs only while the results are Chosen or
    // ChosenFiltered, and the full-resolution results are never built while it runs.
    // The result reaches coverage_ on this thread only: through a queued call carrying the
    // generation it was started for (a result for an older one is dropped), or through
    // FinishCoverage() when something needs the exact results at once.
    CoverageWorker coverageWorker_;
    std::uint64_t coverageGeneration_ = 0;
    void CancelCoverage();
    void CoverageBuilt(std::uint64_t generation);
    // Makes coverage_ what the synchronous build would have made: waits for the worker, or
    // builds it here when no worker has it (after a failed build).
    void FinishCoverage();
    // Makes the results of a pass or a filter by the written rule chosen ones, so that
    // strokes can lie on them.
    void MakeResultsChosen();
    void FilterChosen();
    // The strokes: each a brush and the discs it laid; strokes_[strokeCount_..] were undone.
    struct BrushStroke {
        BrushMode Mode = BrushMode::Keep;
        double Radius = 1;
        double Softness = 0;
        bool Clears = false; // takes away every stroke before it
        std::vector<std::pair<double, double>> Discs;
    };
    std::vector<BrushStroke> strokes_;
    std::size_t strokeCount_ = 0;
    bool stroking_ = false;
    BrushOverlay brush_;
    const BrushOverlay* Strokes() const;
    void StrokesChanged();
    void ForgetStrokes();
    void ThresholdChanged(const QSlider* slider, QLabel* label);

    // Lifecycle members (activation, drops, closing, update outcome)
public:
    // The program's command line as first activation reports it (the first parameter is
    // logged, and loaded when it names a JPEG file); tests replace it before the window is
    // activated.
    QStringList CommandLine = QCoreApplication::arguments();
    // A settings value that could not be written (a read-only or full configuration folder):
    // logged (once the log exists) and shown, the message box once per run at most.
    void ReportSettingsFailure(const std::exception& error);

private:
    void LoadCommandLinePicture();
    bool SettingsFailureShown = false;
    QStringList UnloggedFailures;
};

} // namespace tintavo
