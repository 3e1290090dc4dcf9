#include "program/TImage32.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace tintavo {

namespace {

QPoint EventPoint(const QMouseEvent* event) {
    const QPointF p = event->position();
    return {static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y()))};
}

} // namespace

TImage32::TImage32(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    Bitmap.SetOnChange([this] { update(); });
}

TRect TImage32::PictureRect() const {
    return tintavo::PictureRect(width(), height(), Bitmap.Width(), Bitmap.Height());
}

void TImage32::paintEvent(QPaintEvent* /*event*/) {
    const TRect r = PictureRect();
    if (r.Right <= r.Left || r.Bottom <= r.Top || Bitmap.IsEmpty()) {
        return;
    }
    // The buffer's 0xAARRGGBB pixels are exactly Qt's RGB32 layout, which ignores alpha:
    // the picture is wrapped, not copied.
    const QImage picture(reinterpret_cast<const uchar*>(Bitmap.Bits()), Bitmap.Width(),
                         Bitmap.Height(), static_cast<qsizetype>(Bitmap.Width()) * 4,
                         QImage::Format_RGB32);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top), picture);
}

void TImage32::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = EventPoint(event);
    emit MouseMove(this, event->modifiers(), p.x(), p.y());
}

void TImage32::mousePressEvent(QMouseEvent* event) {
    const QPoint p = EventPoint(event);
    emit MouseDown(this, event->button(), event->modifiers(), p.x(), p.y());
}

} // namespace tintavo
