// Draws the About box banner (388 x 96). Built and run by hand when the artwork changes:
//   g++ -std=c++20 -fPIC make_banner.cpp $(pkg-config --cflags --libs Qt6Gui) -o make_banner
//   QT_QPA_PLATFORM=offscreen ./make_banner banner.png
//   convert banner.png -colors 128 ../banner.gif
// The GIF is committed; the build only embeds it.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    const char* out = argc > 1 ? argv[1] : "banner.png";
    QImage img(388, 96, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient back(0, 0, 388, 96);
    back.setColorAt(0.0, QColor(250, 250, 250));
    back.setColorAt(1.0, QColor(214, 218, 224));
    p.fillRect(img.rect(), back);

    // The colour-keep idea: a flower of grey petals with one petal kept in red.
    const QPointF centre(326, 48);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 6; ++i) {
        const int grey = 120 + i * 16;
        p.setBrush(i == 1 ? QColor(200, 30, 40) : QColor(grey, grey, grey));
        p.save();
        p.translate(centre);
        p.rotate(i * 60.0);
        p.drawEllipse(QPointF(0, -22), 11, 18);
        p.restore();
    }
    p.setBrush(QColor(250, 250, 250));
    p.drawEllipse(centre, 8, 8);

    QFont title("DejaVu Sans", 30, QFont::Bold);
    p.setFont(title);
    p.setPen(QColor(60, 64, 72));
    p.drawText(QRect(18, 10, 270, 50), Qt::AlignLeft | Qt::AlignVCenter, "Orvane");

    QFont sub("DejaVu Sans", 11);
    p.setFont(sub);
    p.setPen(QColor(110, 114, 122));
    p.drawText(QRect(20, 58, 270, 24), Qt::AlignLeft | Qt::AlignVCenter,
               "Keep the colour that matters");

    p.setPen(QPen(QColor(200, 30, 40), 3));
    p.drawLine(20, 86, 150, 86);
    p.end();
    return img.save(out) ? 0 : 1;
}
