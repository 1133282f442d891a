#include "ui/WindowFit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace ui {

namespace {

// What a window manager's frame takes around the client area, before the window is shown and its
// real frame is known: a title bar and thin borders.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 48;

QScreen* screenOf(const QWidget& window)
{
    if (QScreen* screen = window.screen())
        return screen;
    return QGuiApplication::primaryScreen();
}

} // namespace

QSize fittedSize(QSize preferred, QSize minimum, const QRect& available)
{
    const int roomWidth = std::max(1, available.width() - kFrameWidth);
    const int roomHeight = std::max(1, available.height() - kFrameHeight);
    const int width = std::min(preferred.width(), roomWidth);
    const int height = std::min(preferred.height(), roomHeight);
    return {std::max(width, std::min(minimum.width(), roomWidth)),
            std::max(height, std::min(minimum.height(), roomHeight))};
}

void fitToScreen(QWidget& window, QSize preferred, QSize minimum)
{
    QScreen* screen = screenOf(window);
    if (!screen) {
        window.resize(preferred);
        return;
    }
    const QRect available = screen->availableGeometry();
    window.resize(fittedSize(preferred, minimum, available));
    // Centred on the screen, its frame within it.
    const QSize outer = window.size() + QSize(kFrameWidth, kFrameHeight);
    window.move(available.left() + std::max(0, (available.width() - outer.width()) / 2),
                available.top() + std::max(0, (available.height() - outer.height()) / 2));
}

bool fitsScreen(const QWidget& window)
{
    const QScreen* screen = screenOf(window);
    return !screen || screen->availableGeometry().contains(window.frameGeometry());
}

} // namespace ui
