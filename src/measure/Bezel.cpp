#include "measure/Bezel.h"

#include <QDir>
#include <QPainter>

namespace measure {

QPixmap drawBezel(QSize size)
{
    QPixmap pixmap(size);
    const int w = size.width();
    const int h = size.height();
    QPainter painter(&pixmap);
    painter.fillRect(0, 0, w, h, QColor(32, 32, 32)); // dark outline
    const QColor grey(128, 128, 128);
    const QColor white(255, 255, 255);
    for (int k = 1; k <= 2; ++k) {
        painter.setPen(grey); // upper-left bevel
        painter.drawLine(k, k, w - 1 - k, k);
        painter.drawLine(k, k, k, h - 1 - k);
        painter.setPen(white); // lower-right bevel
        painter.drawLine(k, h - 1 - k, w - 1 - k, h - 1 - k);
        painter.drawLine(w - 1 - k, k, w - 1 - k, h - 1 - k);
    }
    painter.fillRect(3, 3, w - 6, h - 6, QColor(0, 0, 255));
    return pixmap;
}

QPixmap loadTallPanelPicture(const QString& directory)
{
    const QString path = directory.isEmpty() ? QStringLiteral("instrum1.bmp")
                                             : QDir(directory).filePath(QStringLiteral("instrum1.bmp"));
    QPixmap picture;
    if (!picture.load(path))
        return {};
    return picture;
}

} // namespace measure
