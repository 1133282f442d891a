#pragma once
// The windows added beside the four jobs (Trends, Export, Diagnostics, MQTT, the device chooser)
// open at a size that suits them but never larger than the screen they open on: operators' screens
// are 1024x768 and 1366x768, some at 1.5x or 2x scaling, and a title bar or a button below the
// screen's edge cannot be reached.

#include <QRect>
#include <QSize>

class QWidget;

namespace ui {

// `preferred` cut to `available` less room for the window frame (title bar, borders), and never
// below `minimum` where the screen allows it.
QSize fittedSize(QSize preferred, QSize minimum, const QRect& available);

// Resizes `window` to fittedSize() on the screen it is on (or the primary screen), and moves it so
// that its frame lies inside the available geometry.
void fitToScreen(QWidget& window, QSize preferred, QSize minimum = {});

// True when the window's frame lies inside its screen's available geometry.
bool fitsScreen(const QWidget& window);

} // namespace ui
