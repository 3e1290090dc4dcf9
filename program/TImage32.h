#pragma once

#include "engine/PictureRect.h"
#include "engine/TBitmap32.h"
#include "engine/ViewSampling.h"

#include <QWidget>

#include <functional>

namespace tintavo {

// What a view shows without holding it: a picture of Width x Height whose pixels a sampler
// writes for any mapping (the sampled buffer is the mapping's size). A view of a large
// picture thus costs what its own size costs, not the picture's. An empty content shows
// nothing.
struct ViewContent {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::function<void(const ViewSampling& sampling, TBitmap32& out)> Sample;

    bool IsEmpty() const { return Width <= 0 || Height <= 0 || !Sample; }
};

// A picture view: shows its own pixel buffer, or a content that samples a picture held
// elsewhere, scaled to fit, aspect ratio kept, in its top-left corner with nearest-neighbour
// sampling and alpha ignored. The sampled buffer has one pixel per device pixel (the
// screen's device pixel ratio) and is drawn 1:1; it is rebuilt when the content or the
// buffer changes, or the view's size or ratio does.
//
// Pointer moves (with or without a button) and button presses are reported with the view
// itself as the sender. While a button is held the view keeps the pointer, so moves outside
// it are still reported, with coordinates that may be negative or beyond its size. A hidden
// view draws nothing and reports nothing.
class TImage32 : public QWidget {
    Q_OBJECT
public:
    explicit TImage32(QWidget* parent = nullptr);

    // The view's own buffer, shown while no content is set.
    TBitmap32 Bitmap;

    // Shows `content` instead of the own buffer (an empty content shows nothing), sampled at
    // once. SetContent({}) with the own buffer empty shows nothing either.
    void SetContent(ViewContent content);
    void ClearContent();
    bool HasContent() const { return hasContent_; }
    // What the view shows: the content, or one that samples the own buffer.
    ViewContent Shown() const;

    // Where the picture is drawn, in the view's coordinates (Right and Bottom exclusive);
    // (0, 0, 0, 0) when nothing is shown or the view is empty.
    TRect PictureRect() const;

    // The sampled buffer as it will be drawn, brought up to date first (device pixels).
    const TBitmap32& Sampled();

signals:
    void MouseMove(tintavo::TImage32* sender, Qt::KeyboardModifiers shift, int x, int y);
    void MouseDown(tintavo::TImage32* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift,
                   int x, int y);
    // The content changed (set, cleared, or the own buffer announced a change).
    void ContentChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void Invalidate();

    ViewContent content_;
    bool hasContent_ = false;
    TBitmap32 sampled_;
    bool sampledValid_ = false;
    QSize sampledFor_;
};

} // namespace tintavo
