#pragma once

// The main window: every control of the form, the main-window state and all handlers.
// Handler bodies live in program/: the form, the sliders, the colour fields and the render
// in U_MainDlg.cpp; the picture files (Load, loading the working copy, Save and the export)
// in U_MainDlg_Files.cpp; the lifecycle group (activation, drops, closing, update outcome,
// the "?" menu) in U_MainDlg_Lifecycle.cpp.

#include <QCoreApplication>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

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
class TBitmap32;
class TImage32;
class TTovikLog;
class TWideOpenDialog;
class TZelkLite;

// The application-events component: forwards the application's activation to whatever
// handler is bound. The handler may unbind itself (clear OnActivate) to run only once.
class TApplicationEvents : public QObject {
    Q_OBJECT
public:
    explicit TApplicationEvents(QObject* parent);
    std::function<void()> OnActivate;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
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

    // ---- Operations used across the window ----------------------------------------------
    void LoadPicture(const QString& Path);
    // Rebuilds the render from the picture and the current mask (the engine's RecomposePicture)
    // when both exist.
    void RecomposeRender();
    // Adds a line to the run log when it exists (it is created at first activation).
    void Log(const QString& message, int level) const;

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
    void SetTabOrder();
    void ApplyPreset(int red, int green, int blue);
    void ThresholdChanged(const QSlider* slider, QLabel* label);

    // Lifecycle members (activation, drops, closing, update outcome)
public:
    // The program's command line as first activation reports it (the first parameter is
    // logged, nothing else); tests replace it before the window is activated.
    QStringList CommandLine = QCoreApplication::arguments();
};

} // namespace tintavo
