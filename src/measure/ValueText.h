#pragma once
// The value text of a channel after a successful reading: the value with its unit, the water
// temperature, and for some types further lines, joined by CR LF.

#include "measure/Reading.h"
#include "measure/StationValues.h"

#include <QString>

#include <cstdint>

namespace measure {

// Builds the value text of measurement type 0..15 from `values`, scaling the raw fields of that
// type in place. Empty for any other type.
QString FormatChannelValue(int16_t type, StationValues& values);
// The same text with the numbers it shows (the value, its unit, the temperature, the second
// value, the flow totals); FormatChannelValue is its text.
ShownValue FormatChannelReading(int16_t type, StationValues& values);

// The text a channel shows when its station did not answer.
inline const QString kOutOfOrder = QStringLiteral("Out of order");

} // namespace measure
