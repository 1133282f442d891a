#pragma once
// The numeric value of a station address text: a leading decimal number (leading blanks skipped,
// reading stops at the first character that cannot continue the number), 0 when the text does
// not begin with a number.

#include <QString>

namespace config {

double addressValue(const QString& text);

} // namespace config
