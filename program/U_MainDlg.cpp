#include "program/U_MainDlg.h"

#include "engine/MaskFilter.h"
#include "engine/PictureReader.h"
#include "engine/RenderPass.h"
#include "engine/TBitmap32.h"
#include "engine/ViewSampling.h"
#include "files/C_WideDialogs.h"
#include "platform/ProgramPath.h"
#include "program/Artwork.h"
#include "program/IntegerField.h"
#include "program/SelectionHistory.h"
#include "program/TApplication.h"
#include "program/TImage32.h"
#include "program/ZoomWindow.h"
#include "services/U_Log.h"
#include "services/U_TovikUtils.h"
#include "ui/DialogStyle.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace tintavo {

namespace {

template <typename T> T* Place(T* widget, int left, int top, int width, int height) {
    widget->setGeometry(left, top, width, height);
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const QString& caption, int left, int top, int width = 60,
                  int height = 13) {
    auto* label = new QLabel(caption, parent);
    return Place(label, left, top, width, height);
}

QPushButton* MakeButton(QWidget* parent, const QString& caption, int left, int top, int width = 75,
                        int height = 25) {
    auto* button = new QPushButton(caption, parent);
    button->setAutoDefault(false);
    return Place(button, left, top, width, height);
}

QSlider* MakeTrackbar(QWidget* parent, int left, int top) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(0, 255);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(10);
    slider->setValue(0);
    return Place(slider, left, top, 164, 33);
}

QToolButton* MakeImageButton(QWidget* parent, const QPixmap& picture) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setIcon(QIcon(picture));
    button->setIconSize(picture.size());
    button->setFocusPolicy(Qt::TabFocus);
    // Decorative: a flat picture with no frame, even under the pointer.
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    return Place(button, 4, 13, 68, 100);
}

IntegerField* MakeNumberEdit(QWidget* parent, int left, int top) {
    return Place(new IntegerField(parent), left, top, 49, 21);
}

QGroupBox* MakeGroup(QWidget* parent, const QString& caption, int left, int top, int width,
                     int height) {
    return Place(new QGroupBox(caption, parent), left, top, width, height);
}

std::string ToLocal(const QString& text) {
    return text.toStdString();
}

// Runs a member handler through the general error report when the signal fires.
template <typename Sender, typename Signal>
void Wire(TMainDlg* window, Sender* sender, Signal signal, void (TMainDlg::*handler)()) {
    QObject::connect(sender, signal, window, [window, handler] {
        RunHandler([window, handler] { (window->*handler)(); });
    });
}

// A slider's change handler runs for every change of its position and, besides, for every
// scroll action of the user that leaves the position where it was (Home at 0, a click on the
// thumb): touching a slider renders again, for instance after typing a Central Color.
void WireTrackbar(TMainDlg* window, QSlider* slider, void (TMainDlg::*handler)()) {
    Wire(window, slider, &QSlider::valueChanged, handler);
    const auto unchanged = [window, slider, handler] {
        if (slider->sliderPosition() == slider->value()) {
            RunHandler([window, handler] { (window->*handler)(); });
        }
    };
    // The action has moved the slider's position but not yet its value: a move shows as a
    // difference between the two, and valueChanged follows.
    QObject::connect(slider, &QAbstractSlider::actionTriggered, window, unchanged);
    QObject::connect(slider, &QAbstractSlider::sliderReleased, window, unchanged);
}

} // namespace

TApplicationEvents::TApplicationEvents(QObject* parent) : QObject(parent) {
    QCoreApplication::instance()->installEventFilter(this);
}

bool TApplicationEvents::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ApplicationActivate && watched == QCoreApplication::instance()) {
        Fire();
    } else if (event->type() == QEvent::Show && watched == parent()) {
        // Some desktops never activate a new window (no window manager, some Wayland
        // compositors): shortly after the window is shown the handler runs all the same.
        // Whichever comes first runs it; a handler that unbinds itself runs once.
        QTimer::singleShot(ShownActivationDelayMs, this, &TApplicationEvents::Fire);
    }
    return false;
}

void TApplicationEvents::Fire() {
    // A copy: the handler may unbind itself while it runs.
    const std::function<void()> handler = OnActivate;
    if (handler) {
        handler();
    }
}

TMainDlg::TMainDlg(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QString::fromLatin1(ApplicationTitle));
    setWindowIcon(QIcon(TintavoLogo(128)));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogFont(11));

    BuildLayout();
    BuildMenus();
    SetTabOrder();

    WOD = std::make_unique<TWideOpenDialog>(this);
    WOD->Filter = QStringLiteral("JPEG|*.jpg;*.jpeg");
    WOD->FilterIndex = 1;

    AppEvt = new TApplicationEvents(this);
    AppEvt->OnActivate = [this] { RunHandler([this] { AppEvtActivate(); }); };

    // Fixed size: the client area plus the menu bar, no resizing, no maximising.
    adjustSize();
    setFixedSize(sizeHint());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.left() + (area.width() - width()) / 2,
             area.top() + (area.height() - height()) / 2);
    }

    // The first control of the tab order that takes the focus has it when the window opens.
    showpic_btn->setFocus();

    RunHandler([this] { FormCreate(); });
}

TMainDlg::~TMainDlg() {
    // The soft edge under way reads the picture, which goes with the window.
    CancelCoverage();
    RunHandler([this] { FormDestroy(); });
}

void TMainDlg::BuildLayout() {
    Client = new QWidget(this);
    Client->setFixedSize(825, 660);
    setCentralWidget(Client);
    QWidget* c = Client;
    // Group boxes as the layout expects them: the frame line half a line below the box's
    // top with the caption sitting on it, so controls placed from y = 13 fall inside.
    Client->setStyleSheet(GroupBoxStyleSheet());
    // Built in the form's order, which is also the order of the controls among their siblings.
    BuildTopBand(c);
    BuildPictureAndThresholds(c);
    BuildColorGroups(c);
    BuildActionAndViews(c);
    WireControls();
}

void TMainDlg::BuildTopBand(QWidget* c) {
    Shape1 = Place(new QWidget(c), 0, 0, 825, 97);
    Shape1->setAutoFillBackground(true);
    QPalette white = Shape1->palette();
    white.setColor(QPalette::Window, Qt::white);
    Shape1->setPalette(white);

    title_lbl = MakeLabel(c, QStringLiteral("Welcome to Tintavo !"), 8, 8, 400, 16);
    title_lbl->setFont(DialogFont(13, true));
    instructions_lbl = MakeLabel(c, QStringLiteral("instructions_lbl"), 16, 24, 673, 73);
    instructions_lbl->setWordWrap(true);
    instructions_lbl->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Dark text on the white band whatever the desktop's colours (a dark theme's text is
    // near white).
    for (QLabel* onWhite : {title_lbl, instructions_lbl}) {
        QPalette dark = onWhite->palette();
        dark.setColor(QPalette::WindowText, Qt::black);
        dark.setColor(QPalette::Text, Qt::black);
        onWhite->setPalette(dark);
    }
    Image1 = MakeLabel(c, QString(), 696, -18, 128, 128);
    Image1->setPixmap(TintavoLogo(128));
    Image1->setScaledContents(true);
}

void TMainDlg::BuildPictureAndThresholds(QWidget* c) {
    // "Picture".
    GroupBox6 = MakeGroup(c, QStringLiteral("Picture"), 8, 104, 808, 57);
    filename_txt = Place(new QLineEdit(GroupBox6), 8, 19, 457, 21);
    load_btn = MakeButton(GroupBox6, QStringLiteral("Load"), 472, 16);

    // "Thresholds".
    GroupBox2 = MakeGroup(c, QStringLiteral("Thresholds"), 8, 168, 345, 121);
    temp_btn = MakeImageButton(GroupBox2, PaletteArt(64));
    dist_r = MakeTrackbar(GroupBox2, 64, 16);
    dist_g = MakeTrackbar(GroupBox2, 64, 48);
    dist_b = MakeTrackbar(GroupBox2, 64, 80);
    distr_lbl = MakeLabel(GroupBox2, QStringLiteral("distr_lbl"), 232, 16, 52);
    distg_lbl = MakeLabel(GroupBox2, QStringLiteral("distr_lbl"), 232, 48, 52);
    distb_lbl = MakeLabel(GroupBox2, QStringLiteral("distr_lbl"), 232, 80, 52);
    narrow_btn = MakeButton(GroupBox2, QStringLiteral("Narrow"), 286, 13, 51);
    medium_btn = MakeButton(GroupBox2, QStringLiteral("Medium"), 286, 45, 51);
    large_btn = MakeButton(GroupBox2, QStringLiteral("Large"), 286, 77, 51);
}

void TMainDlg::BuildColorGroups(QWidget* c) {
    // "Central Color (CC)".
    GroupBox3 = MakeGroup(c, QStringLiteral("Central Color (CC)"), 360, 168, 217, 121);
    JvImgBtn1 = MakeImageButton(GroupBox3, DropperArt(64));
    Label1 = MakeLabel(GroupBox3, QStringLiteral("Red"), 104, 16, 38);
    Label2 = MakeLabel(GroupBox3, QStringLiteral("Green"), 104, 40, 38);
    Label3 = MakeLabel(GroupBox3, QStringLiteral("Blue"), 104, 64, 38);
    rbase_txt = MakeNumberEdit(GroupBox3, 144, 16);
    gbase_txt = MakeNumberEdit(GroupBox3, 144, 40);
    bbase_txt = MakeNumberEdit(GroupBox3, 144, 64);
    // Centred on the same axis as the classic 123-pixel box, a little wider so that the
    // fallback face still breaks the hint into two lines.
    Label9 = MakeLabel(GroupBox3, QStringLiteral("Click on the picture to set the Central Color"),
                       77, 89, 135, 26);
    Label9->setWordWrap(true);
    Label9->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    // "On the fly Color".
    GroupBox4 = MakeGroup(c, QStringLiteral("On the fly Color"), 584, 168, 233, 121);
    QFont heading = DialogFont(11, true);
    heading.setUnderline(true);
    Label7 = MakeLabel(GroupBox4, QStringLiteral("Color"), 48, 16, 50);
    Label7->setFont(heading);
    Label8 = MakeLabel(GroupBox4, QStringLiteral("Distance from CC"), 104, 16, 120);
    Label8->setFont(heading);
    Label4 = MakeLabel(GroupBox4, QStringLiteral("Red"), 8, 40, 38);
    Label5 = MakeLabel(GroupBox4, QStringLiteral("Green"), 8, 64, 38);
    Label6 = MakeLabel(GroupBox4, QStringLiteral("Blue"), 8, 88, 38);
    r_txt = MakeNumberEdit(GroupBox4, 48, 37);
    g_txt = MakeNumberEdit(GroupBox4, 48, 61);
    b_txt = MakeNumberEdit(GroupBox4, 48, 85);
    for (IntegerField* probe : {r_txt, g_txt, b_txt}) {
        probe->setEnabled(false);
    }
    diffr_lbl = MakeLabel(GroupBox4, QStringLiteral("diffr_lbl"), 120, 36, 100);
    diffg_lbl = MakeLabel(GroupBox4, QStringLiteral("Label1"), 121, 60, 100);
    diffb_lbl = MakeLabel(GroupBox4, QStringLiteral("Label1"), 121, 84, 100);
}

void TMainDlg::BuildActionAndViews(QWidget* c) {
    // "Action".
    GroupBox5 = MakeGroup(c, QStringLiteral("Action"), 8, 296, 369, 60);
    process_btn = MakeButton(GroupBox5, QStringLiteral("Render"), 14, 15);
    process_btn->setFont(DialogFont(11, true));
    filter_btn = MakeButton(GroupBox5, QStringLiteral("Filter"), 102, 15);
    reset_btn = MakeButton(GroupBox5, QStringLiteral("Reset"), 190, 15);
    save_btn = MakeButton(GroupBox5, QStringLiteral("Save"), 278, 15);
    save_btn->setEnabled(false);
    pb = Place(new QProgressBar(GroupBox5), 16, 45, 337, 9);
    pb->setTextVisible(false);
    pb->setRange(0, 100);
    pb->setValue(0);

    // "Display".
    GroupBox1 = MakeGroup(c, QStringLiteral("Display"), 384, 296, 193, 60);
    showpic_btn = MakeButton(GroupBox1, QStringLiteral("Picture"), 6, 20);
    showmask_btn = MakeButton(GroupBox1, QStringLiteral("Mask"), 102, 20);

    // Picture views.
    img = Place(new TImage32(c), 8, 360, 400, 300);
    orgimg = Place(new TImage32(c), 416, 360, 400, 300);
}

void TMainDlg::WireControls() {
    Wire(this, load_btn, &QPushButton::clicked, &TMainDlg::load_btnClick);
    WireTrackbar(this, dist_r, &TMainDlg::dist_rChange);
    WireTrackbar(this, dist_g, &TMainDlg::dist_gChange);
    WireTrackbar(this, dist_b, &TMainDlg::dist_bChange);
    Wire(this, narrow_btn, &QPushButton::clicked, &TMainDlg::narrow_btnClick);
    Wire(this, medium_btn, &QPushButton::clicked, &TMainDlg::medium_btnClick);
    Wire(this, large_btn, &QPushButton::clicked, &TMainDlg::large_btnClick);
    Wire(this, process_btn, &QPushButton::clicked, &TMainDlg::process_btnClick);
    Wire(this, filter_btn, &QPushButton::clicked, &TMainDlg::filter_btnClick);
    Wire(this, reset_btn, &QPushButton::clicked, &TMainDlg::reset_btnClick);
    Wire(this, save_btn, &QPushButton::clicked, &TMainDlg::save_btnClick);
    Wire(this, showpic_btn, &QPushButton::clicked, &TMainDlg::showpic_btnClick);
    Wire(this, showmask_btn, &QPushButton::clicked, &TMainDlg::showmask_btnClick);
    for (TImage32* view : {img, orgimg}) {
        connect(view, &TImage32::MouseMove, this,
                [this](TImage32* sender, Qt::KeyboardModifiers shift, int x, int y) {
                    RunHandler([&] { imgMouseMove(sender, shift, x, y); });
                });
        connect(view, &TImage32::MouseDown, this,
                [this](TImage32* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x,
                       int y) { RunHandler([&] { imgMouseDown(sender, button, shift, x, y); }); });
    }
}

void TMainDlg::BuildMenus() {
    QMenuBar* bar = menuBar();
    File1 = bar->addMenu(QStringLiteral("File"));
    LoadFile1 = File1->addAction(QStringLiteral("Load File"));
    LoadFile1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    Close1 = File1->addAction(QStringLiteral("Close"));
    Close1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    BuildEditMenu();

    View1 = bar->addMenu(QStringLiteral("View"));
    ZoomWindow1 = View1->addAction(QStringLiteral("Zoom Window"));
    ZoomWindow1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));

    N1 = bar->addMenu(QStringLiteral("?"));
    Openlogfile1 = N1->addAction(QStringLiteral("Open log file"));
    Openlogfile1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    Checkforupdate1 = N1->addAction(QStringLiteral("Check for update..."));
    Checkforupdate1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    N2 = N1->addSeparator();
    ChangeLog1 = N1->addAction(QStringLiteral("Change Log"));
    BugreportFeaturerequestKnownissues1 =
        N1->addAction(QStringLiteral("Bug report, Feature request, Known issues"));
    N3 = N1->addSeparator();
    About1 = N1->addAction(QStringLiteral("About..."));
    About1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));

    // The actions live in the menu bar of this window, so their shortcuts reach them from
    // any control of the window.
    for (QAction* action :
         {LoadFile1, Close1, ZoomWindow1, Openlogfile1, Checkforupdate1, About1}) {
        action->setShortcutContext(Qt::WindowShortcut);
    }
    Wire(this, LoadFile1, &QAction::triggered, &TMainDlg::load_btnClick);
    Wire(this, Close1, &QAction::triggered, &TMainDlg::Close1Click);
    Wire(this, ZoomWindow1, &QAction::triggered, &TMainDlg::ZoomWindow1Click);
    Wire(this, Openlogfile1, &QAction::triggered, &TMainDlg::Openlogfile1Click);
    Wire(this, Checkforupdate1, &QAction::triggered, &TMainDlg::Checkforupdate1Click);
    Wire(this, ChangeLog1, &QAction::triggered, &TMainDlg::ChangeLog1Click);
    Wire(this, BugreportFeaturerequestKnownissues1, &QAction::triggered,
         &TMainDlg::BugreportFeaturerequestKnownissues1Click);
    Wire(this, About1, &QAction::triggered, &TMainDlg::About1Click);
}

void TMainDlg::SetTabOrder() {
    // Views first (they take no focus, so Tab passes them by), then the groups in the order
    // Display, Thresholds, Central Color, On the fly Color, Action, Picture; inside each
    // group the controls in reading order with the decorative picture buttons last.
    const QList<QWidget*> order = std::initializer_list<QWidget*>{
        img,         orgimg,     showpic_btn, showmask_btn, dist_r,       dist_g,
        dist_b,      narrow_btn, medium_btn,  large_btn,    temp_btn,     rbase_txt,
        gbase_txt,   bbase_txt,  JvImgBtn1,   r_txt,        g_txt,        b_txt,
        process_btn, filter_btn, reset_btn,   save_btn,     filename_txt, load_btn};
    for (qsizetype i = 0; i + 1 < order.size(); ++i) {
        QWidget::setTabOrder(order[i], order[i + 1]);
    }
}

void TMainDlg::Log(const QString& message, int level) const {
    AddToLog(RunLog.get(), ToLocal(message), level);
}

void TMainDlg::FormCreate() {
    if (!IsInstalled(ProductName)) {
        // Not even the chooser's visited folders go into the profile of a portable copy.
        WOD->PrivateState = true;
        // A settings value that cannot be written is reported; the window is prepared anyway.
        try {
            ImportSettings(ApplicationTitle, platform::ProgramFolder() + "settings.ini");
        } catch (const RegistryError& error) {
            ReportSettingsFailure(error);
        }
    }
    QString text;
    for (const char* step : {"Step 1 : Load your picture", "Step 2 : Set the Central Color",
                             "Step 3 : Adjust thresholds to select to proper neighbourhood",
                             "Step 4 : Save your work"}) {
        text += QStringLiteral("\r\n") + QString::fromLatin1(step);
    }
    instructions_lbl->setText(text);
    ReadChoiceSettings();
}

void TMainDlg::closeEvent(QCloseEvent* event) {
    // Kept before closing hands the settings on (and, portable, takes them away).
    if (ZoomWindow != nullptr && ZoomWindow->isVisible()) {
        ZoomWindow->Keep();
    }
    bool proceed = false;
    RunHandler([&] { proceed = FormClose(); });
    if (proceed) {
        CancelCoverage();
        if (ZoomWindow != nullptr) {
            ZoomWindow->hide();
        }
        event->accept();
    } else {
        event->ignore();
    }
}

void TMainDlg::Close1Click() {
    close();
}

void TMainDlg::ZoomWindow1Click() {
    if (ZoomWindow == nullptr) {
        ZoomWindow = new TZoomWindow(this);
    }
    ZoomWindow->Open();
}

// ---- Render pass ------------------------------------------------------------------------

namespace {

// What the window holds per picture pixel besides the picture itself: the full-resolution
// render and mask while they are built.
constexpr std::uint64_t ResultBytesPerPixel = 2 * sizeof(TColor32);

} // namespace

void TMainDlg::process_btnClick() {
    if (RenderLock || WorkFile.isEmpty() || !QFile::exists(WorkFile)) {
        return;
    }
    // The working copy may be read again into the picture the soft edge is built from.
    CancelCoverage();
    History->PassStarts();
    const CentralColor cc{rbase_txt->Value(), gbase_txt->Value(), bbase_txt->Value()};

    img->setVisible(false);
    orgimg->setVisible(false);
    save_btn->setEnabled(false);

    // The results of the last pass are gone; this pass's are described below and built at
    // full resolution only when something reads them.
    if (!MaskBitmap) {
        MaskBitmap = std::make_unique<TBitmap32>();
    }
    if (!RenderBitmap) {
        RenderBitmap = std::make_unique<TBitmap32>();
    }
    MaskBitmap->Resize(0, 0);
    RenderBitmap->Resize(0, 0);
    resultSource_ = ResultSource::Held;
    resultsBuilt_ = true;

    // Whatever happens from here on, the progress bar ends at 0.
    const auto progressReset = qScopeGuard([bar = pb] { bar->setValue(0); });

    Log(QStringLiteral("Rendering..."), LogInfo);

    if (!ReadWorkingCopy()) {
        ShowResult();
        Log(QStringLiteral("Unable to load file"), LogInfo);
        ShowPlainMessage(this, QStringLiteral("Unable to load file"));
        filename_txt->clear();
        WorkFile.clear();
        return;
    }

    PictureWidth = orgimg->Bitmap.Width();
    PictureHeight = orgimg->Bitmap.Height();

    pb->setMinimum(0);
    pb->setValue(0);
    // A range of 0..0 would make the bar show a busy animation instead of progress.
    pb->setMaximum(std::max(PictureHeight, 1));

    ruleCc_ = cc;
    ruleThresholds_ = Thresholds{dist_r->value(), dist_g->value(), dist_b->value()};
    resultSource_ = ResultSource::Rule;
    resultsBuilt_ = false;
    rule_.reset();
    hardMask_.Resize(0, 0);
    coverage_.Resize(0, 0);
    const SelectionOptions options = PassOptions();
    if (!IsWrittenSelection(options) || HasStrokes()) {
        rule_ = std::make_shared<const SelectionRule>(options);
        resultSource_ = ResultSource::Chosen;
        PrepareCoverage();
    }
    ShowResult();
    img->setVisible(true);
    orgimg->setVisible(true);
    save_btn->setEnabled(true);
}

namespace {

std::optional<struct stat> StatOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return info;
}

} // namespace

bool TMainDlg::ReadWorkingCopy() {
    std::optional<FileStamp> stamp;
    if (const auto info = StatOf(WorkFile)) {
        stamp = FileStamp{info->st_dev, info->st_ino, info->st_size, info->st_mtim};
    }
    if (stamp && readStamp_ && *stamp == *readStamp_ && !orgimg->Bitmap.IsEmpty()) {
        return true;
    }
    // Taken before the read: a change while it reads is seen by the next pass.
    readStamp_.reset();
    try {
        PictureReadOptions options;
        options.HeldBytesPerPixel = ResultBytesPerPixel;
        ReadPictureFile(orgimg->Bitmap, QFile::encodeName(WorkFile).toStdString(), options);
    } catch (const std::exception&) {
        return false;
    }
    // A picture of the same size as the last one keeps the buffer: announce the new pixels.
    orgimg->Bitmap.Changed();
    readStamp_ = stamp;
    return true;
}

void TMainDlg::BuildResults() {
    if (resultsBuilt_ || !MaskBitmap || !RenderBitmap) {
        return;
    }
    FinishCoverage();
    if (resultSource_ == ResultSource::Rule) {
        RenderPixels(orgimg->Bitmap, ruleCc_, ruleThresholds_, *RenderBitmap, *MaskBitmap);
    } else if (resultSource_ == ResultSource::Mask) {
        tintavo::RecomposePicture(orgimg->Bitmap, *MaskBitmap, *RenderBitmap);
    } else if (const TBitmap32* coverage = HeldCoverage()) {
        // What FinishSelection does after the soft edge, from the coverage the views sample.
        MaskBitmap->CopyFrom(coverage);
        if (const BrushOverlay* strokes = Strokes()) {
            strokes->ApplyTo(*MaskBitmap);
        }
        ComposeSelection(orgimg->Bitmap, *MaskBitmap, rule_->Options().Grey,
                         rule_->Options().Strength, *RenderBitmap);
    } else if (resultSource_ == ResultSource::Chosen) {
        RenderSelection(orgimg->Bitmap, *rule_, *RenderBitmap, *MaskBitmap, Strokes());
    }
    resultsBuilt_ = true;
}

void TMainDlg::ReleaseResults() {
    if (resultSource_ == ResultSource::Held || !MaskBitmap || !RenderBitmap) {
        return;
    }
    // Only the filtered mask of the written rule is a result that cannot be built again.
    if (resultSource_ != ResultSource::Mask) {
        MaskBitmap->Resize(0, 0);
    }
    RenderBitmap->Resize(0, 0);
    resultsBuilt_ = false;
}

void TMainDlg::ShowResult() {
    const bool mask = ShowMask;
    const TBitmap32* source = &orgimg->Bitmap;
    ViewContent content{source->Width(), source->Height(), {}};
    if (resultSource_ == ResultSource::Rule) {
        content.Sample = [source, mask, cc = ruleCc_,
                          t = ruleThresholds_](const ViewSampling& sampling, TBitmap32& out) {
            SampleRender(*source, cc, t, mask, sampling, out);
        };
    } else if (resultSource_ == ResultSource::Chosen ||
               resultSource_ == ResultSource::ChosenFiltered) {
        content.Sample = [source, mask, rule = rule_, coverage = HeldCoverage(),
                          strokes = Strokes()](const ViewSampling& sampling, TBitmap32& out) {
            SampleSelection(*source, *rule, coverage, strokes, mask, sampling, out);
        };
    } else if (resultSource_ == ResultSource::Mask) {
        const std::unique_ptr<TBitmap32>* held = &MaskBitmap;
        content.Sample = [source, mask, held](const ViewSampling& sampling, TBitmap32& out) {
            if (held->get() != nullptr) {
                SampleRecomposed(*source, **held, mask, sampling, out);
            }
        };
    } else {
        const std::unique_ptr<TBitmap32>* held = mask ? &MaskBitmap : &RenderBitmap;
        const TBitmap32* shown = held->get();
        content = shown == nullptr
                      ? ViewContent{}
                      : ViewContent{shown->Width(), shown->Height(),
                                    [held](const ViewSampling& sampling, TBitmap32& out) {
                                        if (held->get() != nullptr) {
                                            SamplePicture(**held, sampling, out);
                                        }
                                    }};
    }
    img->SetContent(std::move(content));
}

// ---- Mask filter -------------------------------------------------------------------------

void TMainDlg::filter_btnClick() {
    if (!MaskBitmap) {
        return;
    }
    const SelectionHistory::Step step(*History, SelectionHistory::Kind::Filter);
    Log(QStringLiteral("Filtering..."), LogInfo);
    if (resultSource_ == ResultSource::Chosen || resultSource_ == ResultSource::ChosenFiltered) {
        FilterChosen();
        return;
    }
    BuildResults();
    FilterMask(*MaskBitmap);
    RecomposeRender();
    ShowResult();
}

void TMainDlg::RecomposeRender() {
    // After a failed read the mask is empty while the picture buffer may hold whatever the
    // read left in it: there is nothing to rebuild then.
    if (!MaskBitmap || !RenderBitmap || MaskBitmap->IsEmpty()) {
        return;
    }
    // The render follows from the picture and the mask: built when something reads it.
    RenderBitmap->Resize(0, 0);
    resultSource_ = ResultSource::Mask;
    resultsBuilt_ = false;
}

// ---- Thresholds and display choice --------------------------------------------------------

void TMainDlg::ThresholdChanged(const QSlider* slider, QLabel* label) {
    label->setText(QString::number(slider->value()));
    process_btnClick();
}

void TMainDlg::dist_rChange() {
    ThresholdChanged(dist_r, distr_lbl);
}
void TMainDlg::dist_gChange() {
    ThresholdChanged(dist_g, distg_lbl);
}
void TMainDlg::dist_bChange() {
    ThresholdChanged(dist_b, distb_lbl);
}

void TMainDlg::ApplyPreset(int red, int green, int blue) {
    const SelectionHistory::Step step(*History, SelectionHistory::Kind::Preset);
    // Red and green change under the lock; the blue change, unlocked, renders once for all.
    RenderLock = true;
    const auto unlock = qScopeGuard([this] { RenderLock = false; });
    dist_r->setValue(red);
    dist_g->setValue(green);
    RenderLock = false;
    dist_b->setValue(blue);
}

void TMainDlg::narrow_btnClick() {
    ApplyPreset(15, 15, 15);
}
void TMainDlg::medium_btnClick() {
    ApplyPreset(30, 30, 30);
}
void TMainDlg::large_btnClick() {
    ApplyPreset(50, 50, 50);
}
void TMainDlg::reset_btnClick() {
    ApplyPreset(dist_r->maximum(), dist_g->maximum(), dist_b->maximum());
}

void TMainDlg::showpic_btnClick() {
    ShowMask = false;
    ShowResult();
}

void TMainDlg::showmask_btnClick() {
    ShowMask = true;
    ShowResult();
}

// ---- Colour probe and central colour -------------------------------------------------------

void TMainDlg::imgMouseMove(TImage32* Sender, Qt::KeyboardModifiers /*Shift*/, int X, int Y) {
    const TRect r = orgimg->PictureRect();
    if (X < 0 || X >= r.Right || Y < 0 || Y >= r.Bottom) {
        return;
    }
    const TRect s = Sender != nullptr ? Sender->PictureRect() : r;
    if (s.Right <= 0 || s.Bottom <= 0) {
        return;
    }
    const std::int64_t px = std::int64_t{X} * PictureWidth / s.Right;
    const std::int64_t py = std::int64_t{Y} * PictureHeight / s.Bottom;
    ProbeAt(static_cast<int>(std::min<std::int64_t>(px, INT32_MAX)),
            static_cast<int>(std::min<std::int64_t>(py, INT32_MAX)));
}

void TMainDlg::ProbeAt(int px, int py) {
    // The picture read last is what the views show; never read outside it.
    if (px < 0 || py < 0 || px >= orgimg->Bitmap.Width() || py >= orgimg->Bitmap.Height()) {
        return;
    }
    const TColor32 col = orgimg->Bitmap.PixelAt(px, py);
    r_txt->setText(QString::number(RedOf(col)));
    g_txt->setText(QString::number(GreenOf(col)));
    b_txt->setText(QString::number(BlueOf(col)));
    const auto distance = [](const IntegerField* probe, const IntegerField* central) {
        return QString::number(std::llabs(std::int64_t{probe->Value()} - central->Value()));
    };
    diffr_lbl->setText(distance(r_txt, rbase_txt));
    diffg_lbl->setText(distance(g_txt, gbase_txt));
    diffb_lbl->setText(distance(b_txt, bbase_txt));
}

void TMainDlg::imgMouseDown(TImage32* /*Sender*/, Qt::MouseButton /*Button*/,
                            Qt::KeyboardModifiers /*Shift*/, int X, int Y) {
    const TRect r = orgimg->PictureRect();
    if (X > r.Right || Y > r.Bottom) {
        return;
    }
    PickCentralColor();
}

void TMainDlg::PickCentralColor() {
    MoreColours.clear();
    rbase_txt->SetValue(r_txt->Value());
    gbase_txt->SetValue(g_txt->Value());
    bbase_txt->SetValue(b_txt->Value());
    process_btnClick();
}

} // namespace tintavo
