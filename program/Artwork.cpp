#include "program/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <functional>

namespace tintavo {

namespace {

// Every picture is drawn on a 64 x 64 design grid and scaled to the size asked for.
QPixmap Canvas(int size, const std::function<void(QPainter&)>& draw) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.scale(size / 64.0, size / 64.0);
    draw(painter);
    return pixmap;
}

} // namespace

QPixmap TintavoLogo(int size) {
    return Canvas(size, [](QPainter& p) {
        // A tilted photograph in greys...
        p.translate(32, 32);
        p.rotate(-8);
        p.translate(-32, -32);
        p.setPen(QPen(QColor(70, 70, 70), 1.2));
        p.setBrush(QColor(250, 250, 250));
        p.drawRoundedRect(QRectF(7, 9, 50, 46), 3, 3);
        QLinearGradient sky(0, 13, 0, 49);
        sky.setColorAt(0, QColor(200, 200, 200));
        sky.setColorAt(1, QColor(120, 120, 120));
        p.setPen(Qt::NoPen);
        p.setBrush(sky);
        p.drawRect(QRectF(11, 13, 42, 36));
        p.setBrush(QColor(90, 90, 90));
        QPainterPath hill;
        hill.moveTo(11, 49);
        hill.cubicTo(20, 36, 32, 40, 53, 33);
        hill.lineTo(53, 49);
        hill.closeSubpath();
        p.drawPath(hill);
        // ...in which one flower keeps its colour.
        p.setPen(QPen(QColor(40, 120, 40), 1.6));
        p.drawLine(QPointF(32, 46), QPointF(32, 32));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(220, 30, 60));
        for (int i = 0; i < 5; ++i) {
            p.save();
            p.translate(32, 27);
            p.rotate(i * 72.0);
            p.drawEllipse(QRectF(-3, -9, 6, 9));
            p.restore();
        }
        p.setBrush(QColor(255, 200, 40));
        p.drawEllipse(QPointF(32, 27), 2.6, 2.6);
    });
}

QPixmap PaletteArt(int size) {
    return Canvas(size, [](QPainter& p) {
        // The palette: a rounded board with a thumb hole.
        QPainterPath board;
        board.addEllipse(QRectF(4, 14, 50, 38));
        QPainterPath hole;
        hole.addEllipse(QRectF(14, 36, 9, 7));
        QRadialGradient wood(QPointF(24, 26), 34);
        wood.setColorAt(0, QColor(236, 200, 150));
        wood.setColorAt(1, QColor(190, 140, 90));
        p.setPen(QPen(QColor(120, 80, 40), 1.2));
        p.setBrush(wood);
        p.drawPath(board.subtracted(hole));
        const QColor paints[] = {QColor(220, 30, 40), QColor(250, 200, 30), QColor(40, 160, 60),
                                 QColor(40, 90, 220), QColor(250, 250, 250)};
        const QPointF spots[] = {{17, 23}, {28, 19}, {39, 21}, {45, 30}, {40, 41}};
        p.setPen(QPen(QColor(0, 0, 0, 60), 0.6));
        for (int i = 0; i < 5; ++i) {
            p.setBrush(paints[i]);
            p.drawEllipse(spots[i], 4.0, 3.4);
        }
        // The brush across it: handle, ferrule and a red-tipped head.
        p.save();
        p.translate(33, 33);
        p.rotate(-40);
        p.setPen(QPen(QColor(80, 40, 20), 0.8));
        p.setBrush(QColor(150, 75, 35));
        p.drawRoundedRect(QRectF(-3, -2, 30, 4), 2, 2);
        p.setBrush(QColor(190, 190, 200));
        p.drawRect(QRectF(-9, -2.2, 6, 4.4));
        QPainterPath head;
        head.moveTo(-9, -2.2);
        head.cubicTo(-14, -2.5, -18, -0.5, -20, 0);
        head.cubicTo(-18, 0.5, -14, 2.5, -9, 2.2);
        head.closeSubpath();
        p.setBrush(QColor(60, 40, 30));
        p.drawPath(head);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(220, 30, 40));
        p.drawEllipse(QPointF(-18, 0), 2.2, 1.2);
        p.restore();
    });
}

QPixmap DropperArt(int size) {
    return Canvas(size, [](QPainter& p) {
        p.save();
        p.translate(32, 30);
        p.rotate(45);
        // Rubber bulb.
        p.setPen(QPen(QColor(90, 20, 20), 1));
        p.setBrush(QColor(60, 60, 70));
        p.drawRoundedRect(QRectF(-6, -26, 12, 14), 6, 6);
        p.setBrush(QColor(40, 40, 45));
        p.drawRect(QRectF(-7, -13, 14, 3));
        // Glass tube, half filled with red.
        p.setPen(QPen(QColor(90, 110, 130), 1));
        p.setBrush(QColor(210, 230, 245, 200));
        QPainterPath tube;
        tube.moveTo(-4, -10);
        tube.lineTo(4, -10);
        tube.lineTo(4, 12);
        tube.lineTo(1, 20);
        tube.lineTo(-1, 20);
        tube.lineTo(-4, 12);
        tube.closeSubpath();
        p.drawPath(tube);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(220, 30, 40));
        QPainterPath liquid;
        liquid.moveTo(-3.2, 2);
        liquid.lineTo(3.2, 2);
        liquid.lineTo(3.2, 12);
        liquid.lineTo(0.8, 19);
        liquid.lineTo(-0.8, 19);
        liquid.lineTo(-3.2, 12);
        liquid.closeSubpath();
        p.drawPath(liquid);
        p.setBrush(QColor(255, 255, 255, 150));
        p.drawRect(QRectF(-2.6, -8, 1.2, 18));
        p.restore();
        // The drop it lets fall.
        QPainterPath drop;
        drop.moveTo(14, 47);
        drop.cubicTo(10, 53, 9, 56, 14, 58);
        drop.cubicTo(19, 56, 18, 53, 14, 47);
        p.setPen(QPen(QColor(120, 10, 20), 0.8));
        p.setBrush(QColor(220, 30, 40));
        p.drawPath(drop);
    });
}

} // namespace tintavo
