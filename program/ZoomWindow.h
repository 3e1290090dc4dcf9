#pragma once

#include "engine/TBitmap32.h"

#include <QPointF>
#include <QWidget>

#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;

namespace tintavo {

class TMainDlg;
class TZoomView;

// The zoom window ("Zoom - Tintavo", menu View, Ctrl+E): what the left view shows, at any
// zoom from 1/32 to 32 times, rendering only what it shows. Fit to the window (key 0) or
// 100 % (key 1); the wheel and + and - zoom around the pointer; a drag pans. Nearest
// neighbour above 100 %, a smooth reduction below. While Space is held it shows the picture
// as read. The pointer probes as over the main views; a click sets the Central Color and
// renders. Its place, size and zoom are kept as settings.
//
// Pointer buttons: a left click (press and release within a few pixels) sets the Central
// Color at the press; a left drag beyond that pans instead; the middle button, or the left
// one while Space is held, always pans; the right button sets the Central Color at once.
// With Shift held the colour joins the kept colours instead, with Ctrl the kept colour
// nearest to it leaves them.
//
// A side panel chooses the selection: the colour model and its tolerances, the soft edge,
// the grey and the strength. A change renders as a threshold change does. Its touch-up brush,
// when set to "Keep" or "Grey", turns a left press and drag into a stroke painted onto the
// selection (radius in picture pixels, softness a share of the radius); the middle button
// and Space still pan, the right button still sets the Central Color.
class TZoomWindow : public QWidget {
    Q_OBJECT
public:
    explicit TZoomWindow(TMainDlg* owner);
    ~TZoomWindow() override;
    TZoomWindow(const TZoomWindow&) = delete;
    TZoomWindow& operator=(const TZoomWindow&) = delete;

    // Shows the window (restoring its kept place, size and zoom the first time) and raises it.
    void Open();
    // Keeps the place, size and zoom now (the window also keeps them shortly after a change
    // and when it is closed).
    void Keep();

    // Puts the main window's selection choice into the panel (after an undo or redo).
    void ShowChoice();

    TZoomView* View = nullptr;
    QLabel* Status = nullptr;
    QComboBox* ModelBox = nullptr; // "RGB box", "Hue", "Perceptual"
    QSpinBox* HueTolerance = nullptr;
    QSpinBox* ChromaFloor = nullptr;
    QSpinBox* PerceptualRadius = nullptr;
    QSpinBox* SoftEdge = nullptr;
    QComboBox* GreyBox = nullptr; // "Average", "Luminance"
    QSpinBox* Strength = nullptr;
    QComboBox* BrushBox = nullptr; // "Off", "Keep", "Grey"
    QSpinBox* BrushRadius = nullptr;
    QSpinBox* BrushSoftness = nullptr;
    QPushButton* ClearStrokes = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Restore();
    void KeepSoon();
    QWidget* BuildPanel();
    void ChoiceEdited();
    bool showingChoice_ = false;

    TMainDlg* owner_;
    QTimer* keepTimer_ = nullptr;
    bool restored_ = false;
};

// The zoom window's picture area.
class TZoomView : public QWidget {
    Q_OBJECT
public:
    TZoomView(TMainDlg* owner, QWidget* parent);

    static constexpr double MinZoom = 1.0 / 32;
    static constexpr double MaxZoom = 32;

    // The zoom (view pixels per picture pixel); fit follows the window's size.
    double Zoom() const;
    bool Fits() const { return fit_; }
    void FitToWindow();
    // Sets the zoom (clamped to 1/32..32) keeping the picture point under `around` (view
    // coordinates) where it is.
    void ZoomTo(double zoom, QPointF around);
    void ZoomBy(double factor, QPointF around) { ZoomTo(Zoom() * factor, around); }
    // The picture pixel under a view point, or nothing outside the picture.
    std::optional<QPoint> PictureAt(QPointF point) const;
    // The buffer last drawn (device pixels), and the one shown while Space is held.
    const TBitmap32& Drawn() const { return drawn_; }
    // Where it was drawn, in view coordinates.
    QRectF DrawnRect() const { return drawnRect_; }
    void SetShowPicture(bool shown);
    // The status line for the pointer where it last was (the zoom alone outside the picture).
    void ShowStatus();
    // Draws again from what the left view shows (a move of the brush outline alone only
    // repaints).
    void Redraw();
    // The brush the panel sets, if any: a left press paints with it.
    struct Brush {
        bool Grey = false;
        double Radius = 20;
        double Softness = 10;
    };
    std::function<std::optional<Brush>()> CurrentBrush;
    // Ends a stroke under way as its release would.
    void FinishStroke();

    // Settings text of the zoom ("fit" or the number) and back.
    QString ZoomText() const;
    void SetZoomText(const QString& text);

signals:
    void ZoomChanged();
    void StatusChanged(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    QSize PictureSize() const;
    void Clamp();
    void PanBy(QPointF delta);
    void Pick(QPointF point, Qt::KeyboardModifiers modifiers);
    void Probe(QPointF point);
    void Render();
    // The picture point (pixel centres at whole numbers) under a view point.
    QPointF PicturePoint(QPointF point) const;
    void StrokeTo(QPointF point);

    TMainDlg* owner_;
    bool fit_ = true;
    double zoom_ = 1;
    // The picture point at the view's top-left corner.
    QPointF origin_;
    bool showPicture_ = false;
    bool spaceHeld_ = false;
    // A left press that becomes a pan once it moves beyond a few pixels.
    std::optional<QPointF> pressedAt_;
    Qt::KeyboardModifiers pressModifiers_;
    bool panning_ = false;
    QPointF lastPan_;
    QPointF lastPointer_{-1, -1};
    bool needsRender_ = true;
    double renderedRatio_ = 0;
    // A stroke under way: the radius it paints with and its last disc.
    bool painting_ = false;
    double strokeRadius_ = 0;
    QPointF lastDisc_;
    TBitmap32 drawn_;
    TBitmap32 fine_;
    QRectF drawnRect_;
};

} // namespace tintavo
