#pragma once
// Display patterns for numbers: '0' is a digit always shown, '#' a digit shown only when
// significant, '.' the decimal separator, '%' shows the value multiplied by 100 (and the sign
// itself); every other character is copied as it stands.

#include <QString>

#include <optional>

namespace measure {

// A number laid out by a pattern, with what the text says in numbers.
struct PatternText {
    QString text;
    std::optional<double> shown; // the number the text shows (empty when it shows no digit)
    QString after;               // the pattern after its number, blanks trimmed (the unit)
};

// `value` laid out by `pattern`. The number is rounded to the pattern's decimals, halves away
// from zero, in decimal (as the value's shortest decimal text reads, so 0.985 is a half); the
// integer part is never cut; a minus sign stands right before the digits. The decimal
// separator is always '.', whatever the user's locale, like the stations' own displays.
QString FormatWithPattern(double value, const QString& pattern);
PatternText FormatWithPatternParts(double value, const QString& pattern);

} // namespace measure
