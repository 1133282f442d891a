#include "app/Logo.h"

#include "zentlog/Version.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace app {

QPixmap drawLogo(QSize size)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    const qreal w = size.width();
    const qreal h = size.height();

    // Card
    QLinearGradient card(0, 0, 0, h);
    card.setColorAt(0, QColor(18, 64, 120));
    card.setColorAt(1, QColor(8, 34, 72));
    painter.setPen(QPen(QColor(200, 170, 60), 3));
    painter.setBrush(card);
    painter.drawRoundedRect(QRectF(2, 2, w - 4, h - 4), h * 0.12, h * 0.12);

    // Drop
    const qreal dropX = h * 0.48;
    const qreal dropTop = h * 0.16;
    const qreal dropR = h * 0.22;
    QPainterPath drop;
    drop.moveTo(dropX, dropTop);
    drop.cubicTo(dropX + dropR * 0.4, dropTop + dropR * 0.9, dropX + dropR * 1.1, dropTop + dropR * 1.5,
                 dropX + dropR * 1.0, dropTop + dropR * 2.2);
    drop.arcTo(QRectF(dropX - dropR, dropTop + dropR * 1.2, 2 * dropR, 2 * dropR), 0, -180);
    drop.cubicTo(dropX - dropR * 1.1, dropTop + dropR * 1.5, dropX - dropR * 0.4, dropTop + dropR * 0.9, dropX,
                 dropTop);
    QLinearGradient water(dropX - dropR, dropTop, dropX + dropR, dropTop + 3 * dropR);
    water.setColorAt(0, QColor(140, 215, 255));
    water.setColorAt(1, QColor(30, 120, 220));
    painter.setPen(Qt::NoPen);
    painter.setBrush(water);
    painter.drawPath(drop);
    painter.setBrush(QColor(255, 255, 255, 150));
    painter.drawEllipse(QPointF(dropX - dropR * 0.35, dropTop + dropR * 1.9), dropR * 0.18, dropR * 0.3);

    // Waves
    painter.setBrush(Qt::NoBrush);
    for (int k = 0; k < 2; ++k) {
        QPainterPath wave;
        const qreal y = h * (0.8 + 0.08 * k);
        wave.moveTo(h * 0.12, y);
        for (int step = 0; step < 4; ++step) {
            const qreal x0 = h * 0.12 + step * h * 0.18;
            wave.cubicTo(x0 + h * 0.045, y - h * 0.05, x0 + h * 0.135, y + h * 0.05, x0 + h * 0.18, y);
        }
        painter.setPen(QPen(QColor(110, 190, 250, k == 0 ? 255 : 150), h * 0.03, Qt::SolidLine, Qt::RoundCap));
        painter.drawPath(wave);
    }

    // Name and line
    const QRectF textArea(h * 0.95, h * 0.12, w - h * 1.05, h * 0.5);
    QFont name(QStringLiteral("DejaVu Sans"));
    name.setBold(true);
    name.setLetterSpacing(QFont::PercentageSpacing, 108);
    // The largest size at which the name fits its area.
    for (int px = static_cast<int>(h * 0.26); px > 6; --px) {
        name.setPixelSize(px);
        if (QFontMetricsF(name).horizontalAdvance(QStringLiteral("ZENTLOG")) <= textArea.width())
            break;
    }
    painter.setFont(name);
    painter.setPen(QColor(255, 232, 150));
    painter.drawText(textArea, Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("ZENTLOG"));

    QFont line(QStringLiteral("DejaVu Sans"));
    line.setPixelSize(static_cast<int>(h * 0.09));
    painter.setFont(line);
    painter.setPen(QColor(200, 225, 250));
    painter.drawText(QRectF(h * 0.95, h * 0.64, w - h * 1.05, h * 0.3), Qt::AlignLeft | Qt::AlignTop,
                     QStringLiteral("Water quality acquisition\nV ") + QLatin1String(zentlog::kVersionText));
    return pixmap;
}

} // namespace app
