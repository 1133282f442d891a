// Draws "instrum1.bmp", the picture behind the tall channel panels of the demo installation:
// an instrument glass three lines tall. Usage: zentlog-draw-instrument OUTPUT.bmp

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <cstdio>

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zentlog-draw-instrument OUTPUT.bmp\n");
        return 2;
    }
    const int w = 233;
    const int h = 81;
    QImage image(w, h, QImage::Format_RGB888);
    QPainter painter(&image);
    painter.fillRect(0, 0, w, h, QColor(24, 24, 40));
    for (int k = 1; k <= 3; ++k) {
        painter.setPen(QColor(150, 150, 160));
        painter.drawLine(k, k, w - 1 - k, k);
        painter.drawLine(k, k, k, h - 1 - k);
        painter.setPen(QColor(250, 250, 250));
        painter.drawLine(k, h - 1 - k, w - 1 - k, h - 1 - k);
        painter.drawLine(w - 1 - k, k, w - 1 - k, h - 1 - k);
    }
    QLinearGradient glass(0, 4, 0, h - 4);
    glass.setColorAt(0, QColor(40, 80, 255));
    glass.setColorAt(0.5, QColor(0, 0, 230));
    glass.setColorAt(1, QColor(0, 0, 150));
    painter.fillRect(4, 4, w - 8, h - 8, glass);
    painter.setPen(QColor(210, 170, 40));
    painter.drawRect(5, 5, w - 11, h - 11);
    painter.end();
    if (!image.save(QString::fromLocal8Bit(argv[1]), "BMP")) {
        std::fprintf(stderr, "zentlog-draw-instrument: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
