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
    Bitmap.SetOnChange([this] {
        if (!hasContent_) {
            Invalidate();
        }
    });
}

void TImage32::Invalidate() {
    sampledValid_ = false;
    update();
    emit ContentChanged();
}

void TImage32::SetContent(ViewContent content) {
    content_ = std::move(content);
    hasContent_ = true;
    Invalidate();
    // Brought up to date now, from the state the content describes at this moment.
    Sampled();
}

void TImage32::ClearContent() {
    content_ = {};
    hasContent_ = false;
    Invalidate();
}

ViewContent TImage32::Shown() const {
    if (hasContent_) {
        return content_;
    }
    if (Bitmap.IsEmpty()) {
        return {};
    }
    const TBitmap32* own = &Bitmap;
    return {Bitmap.Width(), Bitmap.Height(), [own](const ViewSampling& sampling, TBitmap32& out) {
                SamplePicture(*own, sampling, out);
            }};
}

TRect TImage32::PictureRect() const {
    const std::int32_t w = hasContent_ ? (content_.IsEmpty() ? 0 : content_.Width) : Bitmap.Width();
    const std::int32_t h =
        hasContent_ ? (content_.IsEmpty() ? 0 : content_.Height) : Bitmap.Height();
    return tintavo::PictureRect(width(), height(), w, h);
}

const TBitmap32& TImage32::Sampled() {
    const TRect r = PictureRect();
    const qreal ratio = devicePixelRatioF();
    // One buffer pixel per device pixel of the picture's rectangle.
    const QSize device(static_cast<int>(std::lround((r.Right - r.Left) * ratio)),
                       static_cast<int>(std::lround((r.Bottom - r.Top) * ratio)));
    if (sampledValid_ && device == sampledFor_) {
        return sampled_;
    }
    const ViewContent shown = Shown();
    if (shown.IsEmpty() || device.isEmpty()) {
        sampled_.Resize(0, 0);
    } else {
        shown.Sample(FitSampling(shown.Width, shown.Height, device.width(), device.height()),
                     sampled_);
    }
    sampledFor_ = device;
    sampledValid_ = true;
    return sampled_;
}

void TImage32::paintEvent(QPaintEvent* /*event*/) {
    const TRect r = PictureRect();
    const TBitmap32& picture = Sampled();
    if (r.Right <= r.Left || r.Bottom <= r.Top || picture.IsEmpty()) {
        return;
    }
    // The buffer's 0xAARRGGBB pixels are exactly Qt's RGB32 layout, which ignores alpha:
    // the sampled picture is wrapped, not copied, and drawn 1:1 in device pixels.
    QImage image(reinterpret_cast<const uchar*>(picture.Bits()), picture.Width(), picture.Height(),
                 static_cast<qsizetype>(picture.Width()) * 4, QImage::Format_RGB32);
    image.setDevicePixelRatio(devicePixelRatioF());
    QPainter painter(this);
    painter.drawImage(QPointF(r.Left, r.Top), image);
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
