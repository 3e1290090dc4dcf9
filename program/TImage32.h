#pragma once

#include "engine/PictureRect.h"
#include "engine/TBitmap32.h"

#include <QWidget>

namespace tintavo {

// A picture view: owns its pixel buffer and draws it scaled to fit, aspect ratio kept, in
// its top-left corner with nearest-neighbour sampling and alpha ignored. It repaints
// whenever its buffer announces a change.
//
// Pointer moves (with or without a button) and button presses are reported with the view
// itself as the sender. While a button is held the view keeps the pointer, so moves outside
// it are still reported, with coordinates that may be negative or beyond its size. A hidden
// view draws nothing and reports nothing.
class TImage32 : public QWidget {
    Q_OBJECT
public:
    explicit TImage32(QWidget* parent = nullptr);

    TBitmap32 Bitmap;

    // Where the picture is drawn, in the view's coordinates (Right and Bottom exclusive);
    // (0, 0, 0, 0) when the buffer or the view is empty.
    TRect PictureRect() const;

signals:
    void MouseMove(tintavo::TImage32* sender, Qt::KeyboardModifiers shift, int x, int y);
    void MouseDown(tintavo::TImage32* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift,
                   int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};

} // namespace tintavo
