#pragma once
// The bezel behind each value label: a bright blue field in a dark outline with a grey
// upper-left and a white lower-right bevel, like the glass of an instrument display.

#include <QPixmap>
#include <QSize>

namespace measure {

inline constexpr QSize kBezelPictureSize(229, 31);

QPixmap drawBezel(QSize size = kBezelPictureSize);

// The picture of the tall panels, "instrum1.bmp" in the given directory (empty: the working
// directory); a null pixmap when it cannot be read.
QPixmap loadTallPanelPicture(const QString& directory);

} // namespace measure
