#pragma once
// Scaled logger values as text: raw value ÷ divisor in general decimal form with at most 15
// significant digits, no thousands separator, no trailing zeros, no separator for whole numbers,
// "0" before the separator below 1, a minus sign for negative values (1234 ÷ 1000 gives 1.234,
// -250 ÷ 100 gives -2.5, 1200 ÷ 100 gives 12).

#include <QString>

#include <cstdint>

class QLocale;

namespace logger {

// Writes the text into `out` (room for 32 characters) and returns the position after it.
char* ScaledValueText(int16_t raw, int divisor, char decimalSeparator, char* out);
QString ScaledValueText(int16_t raw, int divisor, char decimalSeparator = '.');

// The locale's decimal separator as one Windows-1252 byte; "." when the locale's separator has
// no such byte.
char DecimalSeparatorOf(const QLocale& locale);

} // namespace logger
