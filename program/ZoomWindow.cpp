#include "program/ZoomWindow.h"

#include "engine/ViewSampling.h"
#include "platform/ProductIdentity.h"
#include "platform/Registry.h"
#include "program/TImage32.h"
#include "program/U_MainDlg.h"
#include "services/U_TovikUtils.h"
#include "ui/ErrorReport.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace tintavo {

namespace {

// A left press that moves less than this stays a click.
constexpr double ClickSlop = 4;
// Sub-samples per device pixel and axis, at most, of the smooth reduction.
constexpr int MaxReduction = 2;

constexpr char PlaceSetting[] = "ZoomWindowPlace";
constexpr char ZoomSetting[] = "ZoomWindowZoom";
constexpr char BrushRadiusSetting[] = "BrushRadius";
constexpr char BrushSoftnessSetting[] = "BrushSoftness";

QString ReadSetting(const char* name) {
    return QString::fromStdString(ReadProductString(ApplicationTitle, name));
}

} // namespace

// ---- The window ---------------------------------------------------------------------------

TZoomWindow::TZoomWindow(TMainDlg* owner) : QWidget(owner, Qt::Window), owner_(owner) {
    setWindowTitle(QStringLiteral("Zoom - ") + QString::fromLatin1(ApplicationTitle));
    setAttribute(Qt::WA_QuitOnClose, false);
    View = new TZoomView(owner, this);
    Status = new QLabel(this);
    Status->setText(QStringLiteral(" "));
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* layout = new QVBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(View, 1);
    layout->addWidget(Status);
    outer->addLayout(layout, 1);
    QWidget* panel = BuildPanel();
    View->CurrentBrush = [this]() -> std::optional<TZoomView::Brush> {
        const int mode = BrushBox->currentIndex();
        if (mode <= 0) {
            return std::nullopt;
        }
        const double radius = BrushRadius->value();
        return TZoomView::Brush{mode == 2, radius, radius * BrushSoftness->value() / 100.0};
    };
    outer->addWidget(panel);
    setFocusProxy(View);
    resize(640 + panel->sizeHint().width(), 480);
    layout->activate();
    outer->activate();

    keepTimer_ = new QTimer(this);
    keepTimer_->setSingleShot(true);
    keepTimer_->setInterval(500);
    connect(keepTimer_, &QTimer::timeout, this, [this] { Keep(); });
    connect(View, &TZoomView::ZoomChanged, this, [this] { KeepSoon(); });
    connect(View, &TZoomView::StatusChanged, Status, &QLabel::setText);
    // It follows whatever the left view shows, and the picture as read.
    for (TImage32* view : {owner->img, owner->orgimg}) {
        connect(view, &TImage32::ContentChanged, View, [this] {
            View->Redraw();
            View->ShowStatus();
        });
    }
}

TZoomWindow::~TZoomWindow() = default;

QWidget* TZoomWindow::BuildPanel() {
    auto* panel = new QWidget(this);
    auto* form = new QFormLayout(panel);
    const auto spin = [panel](int max, const QString& suffix) {
        auto* box = new QSpinBox(panel);
        box->setRange(0, max);
        box->setSuffix(suffix);
        box->setKeyboardTracking(false);
        return box;
    };
    ModelBox = new QComboBox(panel);
    ModelBox->addItems(
        {QStringLiteral("RGB box"), QStringLiteral("Hue"), QStringLiteral("Perceptual")});
    HueTolerance = spin(MaxHueTolerance, QString::fromUtf8(" \xc2\xb0"));
    ChromaFloor = spin(MaxChromaFloor, {});
    PerceptualRadius = spin(MaxPerceptualRadius, {});
    SoftEdge = spin(MaxFeather, QStringLiteral(" px"));
    GreyBox = new QComboBox(panel);
    GreyBox->addItems({QStringLiteral("Average"), QStringLiteral("Luminance")});
    Strength = spin(MaxStrength, QStringLiteral(" %"));
    form->addRow(QStringLiteral("Colour model"), ModelBox);
    form->addRow(QStringLiteral("Hue tolerance"), HueTolerance);
    form->addRow(QStringLiteral("Chroma floor"), ChromaFloor);
    form->addRow(QStringLiteral("Perceptual radius"), PerceptualRadius);
    form->addRow(QStringLiteral("Soft edge"), SoftEdge);
    form->addRow(QStringLiteral("Grey"), GreyBox);
    form->addRow(QStringLiteral("Strength"), Strength);

    // The touch-up brush: how it paints is the panel's own, not part of the selection.
    BrushBox = new QComboBox(panel);
    BrushBox->addItems({QStringLiteral("Off"), QStringLiteral("Keep"), QStringLiteral("Grey")});
    BrushRadius = spin(1000, QStringLiteral(" px"));
    BrushRadius->setMinimum(1);
    BrushSoftness = spin(100, QStringLiteral(" %"));
    // The brush's size and softness are remembered; it starts switched off, so that a click
    // always does what it did before the brush was chosen.
    const auto kept = [](const char* name, int fallback, QSpinBox* box) {
        bool ok = false;
        const int value = ReadSetting(name).toInt(&ok);
        box->setValue(ok && value >= box->minimum() && value <= box->maximum() ? value : fallback);
        connect(box, &QSpinBox::valueChanged, box, [name](int v) {
            (void)KeepProductString(ApplicationTitle, name, std::to_string(v));
        });
    };
    kept(BrushRadiusSetting, 20, BrushRadius);
    kept(BrushSoftnessSetting, 50, BrushSoftness);
    ClearStrokes = new QPushButton(QStringLiteral("Clear strokes"), panel);
    auto* title = new QLabel(QStringLiteral("Touch-up brush"), panel);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    form->addRow(title);
    form->addRow(QStringLiteral("Brush"), BrushBox);
    form->addRow(QStringLiteral("Brush radius"), BrushRadius);
    form->addRow(QStringLiteral("Brush softness"), BrushSoftness);
    form->addRow(ClearStrokes);
    connect(ClearStrokes, &QPushButton::clicked, this,
            [this] { RunHandler([this] { owner_->ClearStrokes(); }); });
    connect(BrushBox, &QComboBox::currentIndexChanged, this, [this] {
        View->setCursor(BrushBox->currentIndex() > 0 ? Qt::CrossCursor : Qt::ArrowCursor);
        View->update();
    });
    ShowChoice();
    for (QComboBox* box : {ModelBox, GreyBox}) {
        connect(box, &QComboBox::currentIndexChanged, this, [this] { ChoiceEdited(); });
    }
    for (QSpinBox* box : {HueTolerance, ChromaFloor, PerceptualRadius, SoftEdge, Strength}) {
        connect(box, &QSpinBox::valueChanged, this, [this] { ChoiceEdited(); });
    }
    return panel;
}

void TZoomWindow::ShowChoice() {
    showingChoice_ = true;
    const SelectionOptions& c = owner_->Choice;
    ModelBox->setCurrentIndex(static_cast<int>(c.Model));
    HueTolerance->setValue(c.HueTolerance);
    ChromaFloor->setValue(c.ChromaFloor);
    PerceptualRadius->setValue(c.PerceptualRadius);
    SoftEdge->setValue(c.Feather);
    GreyBox->setCurrentIndex(static_cast<int>(c.Grey));
    Strength->setValue(c.Strength);
    showingChoice_ = false;
    // Only the chosen model's tolerances take part.
    HueTolerance->setEnabled(c.Model == ColourModel::Hue);
    ChromaFloor->setEnabled(c.Model == ColourModel::Hue);
    PerceptualRadius->setEnabled(c.Model == ColourModel::Perceptual);
}

void TZoomWindow::ChoiceEdited() {
    if (showingChoice_) {
        return;
    }
    SelectionOptions c = owner_->Choice;
    c.Model = static_cast<ColourModel>(std::max(ModelBox->currentIndex(), 0));
    c.HueTolerance = HueTolerance->value();
    c.ChromaFloor = ChromaFloor->value();
    c.PerceptualRadius = PerceptualRadius->value();
    c.Feather = SoftEdge->value();
    c.Grey = static_cast<GreyModel>(std::max(GreyBox->currentIndex(), 0));
    c.Strength = Strength->value();
    RunHandler([&] { owner_->SetChoice(c); });
    ShowChoice();
}

void TZoomWindow::Open() {
    if (!restored_) {
        restored_ = true;
        Restore();
    }
    View->ShowStatus();
    show();
    raise();
    activateWindow();
}

void TZoomWindow::Restore() {
    // Created while the program runs, so that later keeping only sets values of a key that
    // exists: once closing has taken the key away, nothing brings it back.
    (void)platform::RegCreateKey(ProductKeyPath(ApplicationTitle));
    const QStringList place = ReadSetting(PlaceSetting).split(u',');
    if (place.size() == 4) {
        bool ok[4] = {};
        const QRect r(place[0].toInt(&ok[0]), place[1].toInt(&ok[1]), place[2].toInt(&ok[2]),
                      place[3].toInt(&ok[3]));
        if (ok[0] && ok[1] && ok[2] && ok[3] && r.width() > 0 && r.height() > 0 &&
            r.width() <= 16384 && r.height() <= 16384) {
            resize(r.size());
            // A place on no screen any more would leave the window out of reach.
            if (QGuiApplication::screenAt(r.center()) != nullptr) {
                move(r.topLeft());
            }
        }
    }
    View->SetZoomText(ReadSetting(ZoomSetting));
}

void TZoomWindow::Keep() {
    if (!restored_) {
        return;
    }
    const QRect r = geometry();
    const QString place =
        QStringLiteral("%1,%2,%3,%4").arg(r.left()).arg(r.top()).arg(r.width()).arg(r.height());
    (void)KeepProductString(ApplicationTitle, PlaceSetting, place.toStdString());
    (void)KeepProductString(ApplicationTitle, ZoomSetting, View->ZoomText().toStdString());
}

void TZoomWindow::KeepSoon() {
    if (restored_ && isVisible()) {
        keepTimer_->start();
    }
}

void TZoomWindow::closeEvent(QCloseEvent* event) {
    keepTimer_->stop();
    Keep();
    event->accept();
}

void TZoomWindow::hideEvent(QHideEvent* event) {
    keepTimer_->stop();
    View->FinishStroke(); // no release reaches a hidden window
    QWidget::hideEvent(event);
}

void TZoomWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    KeepSoon();
}

void TZoomWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    KeepSoon();
}

// ---- The picture area ---------------------------------------------------------------------

TZoomView::TZoomView(TMainDlg* owner, QWidget* parent) : QWidget(parent), owner_(owner) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    setMinimumSize(1, 1);
}

QSize TZoomView::PictureSize() const {
    const ViewContent content = owner_->img->Shown();
    if (!content.IsEmpty()) {
        return {content.Width, content.Height};
    }
    return {owner_->orgimg->Bitmap.Width(), owner_->orgimg->Bitmap.Height()};
}

double TZoomView::Zoom() const {
    if (!fit_) {
        return zoom_;
    }
    const QSize picture = PictureSize();
    if (picture.isEmpty() || width() <= 0 || height() <= 0) {
        return 1;
    }
    const double fit = std::min(static_cast<double>(width()) / picture.width(),
                                static_cast<double>(height()) / picture.height());
    return std::clamp(fit, MinZoom, MaxZoom);
}

void TZoomView::Clamp() {
    const QSize picture = PictureSize();
    const double z = Zoom();
    const auto axis = [z](double origin, double view, double size) {
        const double visible = view / z;
        // A picture smaller than the view sits in its middle; a larger one covers it.
        return visible >= size ? (size - visible) / 2 : std::clamp(origin, 0.0, size - visible);
    };
    origin_.setX(axis(origin_.x(), width(), picture.width()));
    origin_.setY(axis(origin_.y(), height(), picture.height()));
}

void TZoomView::FitToWindow() {
    fit_ = true;
    Clamp();
    Redraw();
    emit ZoomChanged();
    ShowStatus();
}

void TZoomView::ZoomTo(double zoom, QPointF around) {
    if (!std::isfinite(zoom)) {
        return;
    }
    const double before = Zoom();
    const QPointF at = origin_ + around / before;
    fit_ = false;
    zoom_ = std::clamp(zoom, MinZoom, MaxZoom);
    origin_ = at - around / zoom_;
    Clamp();
    Redraw();
    emit ZoomChanged();
    ShowStatus();
}

std::optional<QPoint> TZoomView::PictureAt(QPointF point) const {
    const QSize picture = PictureSize();
    if (picture.isEmpty() || point.x() < 0 || point.y() < 0 || point.x() >= width() ||
        point.y() >= height()) {
        return std::nullopt;
    }
    // The point's pixel centre, mapped as the drawing maps device pixels.
    const double z = Zoom();
    const double x = std::floor(origin_.x() + (std::floor(point.x()) + 0.5) / z);
    const double y = std::floor(origin_.y() + (std::floor(point.y()) + 0.5) / z);
    if (x < 0 || y < 0 || x >= picture.width() || y >= picture.height()) {
        return std::nullopt;
    }
    return QPoint(static_cast<int>(x), static_cast<int>(y));
}

void TZoomView::SetShowPicture(bool shown) {
    if (showPicture_ != shown) {
        showPicture_ = shown;
        Redraw();
    }
}

QString TZoomView::ZoomText() const {
    return fit_ ? QStringLiteral("fit") : QString::number(zoom_, 'g', 8);
}

void TZoomView::SetZoomText(const QString& text) {
    bool ok = false;
    const double zoom = text.toDouble(&ok);
    if (ok && std::isfinite(zoom) && zoom > 0) {
        fit_ = false;
        zoom_ = std::clamp(zoom, MinZoom, MaxZoom);
    } else {
        fit_ = true;
    }
    Clamp();
    Redraw();
}

void TZoomView::Render() {
    Clamp();
    const ViewContent content = showPicture_ ? owner_->orgimg->Shown() : owner_->img->Shown();
    const double ratio = devicePixelRatioF();
    const double z = Zoom();
    // The part of the view the picture covers, in device pixels.
    const auto span = [&](double origin, double view, int size) {
        const double first = std::max(0.0, -origin * z);
        const double last = std::min(view, (size - origin) * z);
        return std::pair<long, long>(std::lround(first * ratio), std::lround(last * ratio));
    };
    const auto [x0, x1] = span(origin_.x(), width(), content.Width);
    const auto [y0, y1] = span(origin_.y(), height(), content.Height);
    drawnRect_ = {};
    if (content.IsEmpty() || x1 <= x0 || y1 <= y0) {
        drawn_.Resize(0, 0);
        return;
    }
    const double deviceZoom = z * ratio;
    // Below one picture pixel per device pixel, each device pixel averages a few samples.
    const int k = deviceZoom >= 1
                      ? 1
                      : std::clamp(static_cast<int>(std::ceil(1 / deviceZoom)), 1, MaxReduction);
    const ViewSampling sampling =
        ScaledSampling(content.Width, content.Height, static_cast<std::int32_t>((x1 - x0) * k),
                       static_cast<std::int32_t>((y1 - y0) * k), origin_.x() + x0 / deviceZoom,
                       origin_.y() + y0 / deviceZoom, deviceZoom * k);
    if (k == 1) {
        content.Sample(sampling, drawn_);
    } else {
        content.Sample(sampling, fine_);
        BoxReduce(fine_, k, drawn_);
    }
    drawnRect_ = QRectF(x0 / ratio, y0 / ratio, (x1 - x0) / ratio, (y1 - y0) / ratio);
}

void TZoomView::Redraw() {
    needsRender_ = true;
    update();
}

void TZoomView::paintEvent(QPaintEvent* /*event*/) {
    if (needsRender_ || renderedRatio_ != devicePixelRatioF()) {
        needsRender_ = false;
        renderedRatio_ = devicePixelRatioF();
        Render();
    }
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Dark));
    if (!drawn_.IsEmpty()) {
        QImage image(reinterpret_cast<const uchar*>(drawn_.Bits()), drawn_.Width(), drawn_.Height(),
                     static_cast<qsizetype>(drawn_.Width()) * 4, QImage::Format_RGB32);
        image.setDevicePixelRatio(devicePixelRatioF());
        painter.drawImage(drawnRect_.topLeft(), image);
    }
    // The brush's outline under the pointer, drawn twice so it shows on light and dark.
    const std::optional<Brush> brush = CurrentBrush ? CurrentBrush() : std::nullopt;
    if (brush && rect().contains(lastPointer_.toPoint()) && !spaceHeld_) {
        const double r = std::max(brush->Radius * Zoom(), 1.0);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(0, 0, 0, 160), 3));
        painter.drawEllipse(lastPointer_, r, r);
        painter.setPen(QPen(brush->Grey ? QColor(200, 200, 200) : QColor(255, 255, 255), 1));
        painter.drawEllipse(lastPointer_, r, r);
    }
}

void TZoomView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    needsRender_ = true;
    Clamp();
    ShowStatus();
}

void TZoomView::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches != 0) {
        ZoomBy(std::pow(2.0, notches / 2), event->position());
    }
    event->accept();
}

void TZoomView::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    lastPan_ = at;
    const std::optional<Brush> brush =
        event->button() == Qt::LeftButton && !spaceHeld_ && CurrentBrush &&
                !(event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier))
            ? CurrentBrush()
            : std::nullopt;
    if (event->button() == Qt::MiddleButton || (event->button() == Qt::LeftButton && spaceHeld_)) {
        panning_ = true;
    } else if (brush) {
        RunHandler([&] {
            owner_->BeginStroke(brush->Grey ? BrushMode::Grey : BrushMode::Keep, brush->Radius,
                                brush->Softness);
            painting_ = true;
            strokeRadius_ = brush->Radius;
            lastDisc_ = PicturePoint(at);
            owner_->PaintStroke({{lastDisc_.x(), lastDisc_.y()}});
        });
    } else if (event->button() == Qt::LeftButton) {
        pressedAt_ = at;
        pressModifiers_ = event->modifiers();
        panning_ = false;
    } else {
        Pick(at, event->modifiers());
    }
}

void TZoomView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    Probe(at);
    if (CurrentBrush && CurrentBrush()) {
        update(); // the outline follows the pointer
    }
    if (painting_) {
        StrokeTo(at);
        return;
    }
    if (!panning_ && pressedAt_) {
        const QPointF moved = at - *pressedAt_;
        panning_ = std::hypot(moved.x(), moved.y()) > ClickSlop;
    }
    if (panning_ && event->buttons() != Qt::NoButton) {
        PanBy(at - lastPan_);
    }
    lastPan_ = at;
}

void TZoomView::FinishStroke() {
    if (painting_) {
        painting_ = false;
        RunHandler([this] { owner_->EndStroke(); });
    }
}

void TZoomView::mouseReleaseEvent(QMouseEvent* event) {
    if (painting_ && event->button() == Qt::LeftButton) {
        StrokeTo(event->position());
        FinishStroke();
        return;
    }
    if (event->button() == Qt::LeftButton && pressedAt_ && !panning_) {
        const QPointF at = *pressedAt_;
        pressedAt_.reset();
        Pick(at, pressModifiers_);
        return;
    }
    if (event->button() == Qt::LeftButton || event->button() == Qt::MiddleButton) {
        pressedAt_.reset();
        panning_ = false;
    }
}

void TZoomView::keyPressEvent(QKeyEvent* event) {
    const QPointF pointer =
        rect().contains(lastPointer_.toPoint()) ? lastPointer_ : QPointF(rect().center());
    switch (event->key()) {
    case Qt::Key_1:
        ZoomTo(1, pointer);
        break;
    case Qt::Key_0:
        FitToWindow();
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        ZoomBy(2, pointer);
        break;
    case Qt::Key_Minus:
        ZoomBy(0.5, pointer);
        break;
    case Qt::Key_Space:
        if (!event->isAutoRepeat()) {
            spaceHeld_ = true;
            SetShowPicture(true);
        }
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TZoomView::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        spaceHeld_ = false;
        SetShowPicture(false);
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void TZoomView::PanBy(QPointF delta) {
    origin_ -= delta / Zoom();
    Clamp();
    Redraw();
}

QPointF TZoomView::PicturePoint(QPointF point) const {
    return origin_ + point / Zoom() - QPointF(0.5, 0.5);
}

void TZoomView::StrokeTo(QPointF point) {
    // Discs a quarter of the radius apart (at least half a pixel) make a stroke without gaps
    // however fast the pointer moves.
    const QPointF target = PicturePoint(point);
    const double spacing = std::max(strokeRadius_ / 4, 0.5);
    const QPointF delta = target - lastDisc_;
    const double length = std::hypot(delta.x(), delta.y());
    const auto steps = static_cast<int>(std::min(std::floor(length / spacing), 100000.0));
    if (steps <= 0) {
        return;
    }
    std::vector<std::pair<double, double>> discs;
    discs.reserve(static_cast<std::size_t>(steps));
    const QPointF step = delta * (spacing / length);
    for (int i = 1; i <= steps; ++i) {
        const QPointF disc = lastDisc_ + step * i;
        discs.emplace_back(disc.x(), disc.y());
    }
    lastDisc_ += step * steps;
    RunHandler([&] { owner_->PaintStroke(discs); });
}

void TZoomView::Pick(QPointF point, Qt::KeyboardModifiers modifiers) {
    const std::optional<QPoint> at = PictureAt(point);
    if (!at) {
        return;
    }
    owner_->ProbeAt(at->x(), at->y());
    if (modifiers.testFlag(Qt::ShiftModifier)) {
        owner_->AddKeptColour();
    } else if (modifiers.testFlag(Qt::ControlModifier)) {
        owner_->RemoveKeptColour();
    } else {
        owner_->PickCentralColor();
    }
}

void TZoomView::Probe(QPointF point) {
    lastPointer_ = point;
    if (const std::optional<QPoint> at = PictureAt(point)) {
        owner_->ProbeAt(at->x(), at->y());
    }
    ShowStatus();
}

void TZoomView::ShowStatus() {
    const double z = Zoom();
    QString text = QStringLiteral("Zoom %1 %").arg(z * 100, 0, 'f', z < 0.1 ? 1 : 0);
    const std::optional<QPoint> at = PictureAt(lastPointer_);
    const TBitmap32& picture = owner_->orgimg->Bitmap;
    if (at && at->x() < picture.Width() && at->y() < picture.Height()) {
        const TColor32 col = picture.PixelAt(at->x(), at->y());
        text += QStringLiteral("   x %1  y %2   R %3  G %4  B %5")
                    .arg(at->x())
                    .arg(at->y())
                    .arg(RedOf(col))
                    .arg(GreenOf(col))
                    .arg(BlueOf(col));
    }
    emit StatusChanged(text);
}

} // namespace tintavo
