#pragma once
// The program's logo, drawn in code: a water drop over waves beside the program's name.

#include <QPixmap>
#include <QSize>

namespace app {

QPixmap drawLogo(QSize size);

} // namespace app
