#pragma once
// Display patterns for numbers: '0' is a digit always shown, '#' a digit shown only when
// significant, '.' the decimal separator, '%' shows the value multiplied by 100 (and the sign
// itself); every other character is copied as it stands.

#include <QString>

namespace measure {

// `value` laid out by `pattern`. The number is rounded to the pattern's decimals, halves away
// from zero, in decimal (as the value's shortest decimal text reads, so 0.985 is a half); the
// integer part is never cut; a minus sign stands right before the digits. The decimal
// separator is always '.', whatever the user's locale, like the stations' own displays.
QString FormatWithPattern(double value, const QString& pattern);

} // namespace measure
