#include "logger/ValueText.h"

#include "common/Cp1252.h"

#include <QLocale>

#include <algorithm>
#include <charconv>

namespace logger {

namespace {

// Raw value ÷ a power of ten, written from its integer parts. A 16-bit value divided by a power
// of ten has at most five significant digits, so this is exactly the general form with 15
// digits of the double quotient, many times faster on long files.
template <unsigned Divisor>
char* fixedPoint(int16_t raw, char decimalSeparator, char* out)
{
    if (raw < 0)
        *out++ = '-';
    const unsigned magnitude = raw < 0 ? 0u - static_cast<unsigned>(raw) : static_cast<unsigned>(raw);
    out = std::to_chars(out, out + 8, magnitude / Divisor).ptr;
    if constexpr (Divisor > 1) {
        const unsigned fraction = magnitude % Divisor;
        if (fraction != 0) {
            *out++ = decimalSeparator;
            // Divisor + fraction gives the fraction's digits with their leading zeros after a "1".
            char digits[8];
            const char* end = std::to_chars(digits, digits + sizeof digits, Divisor + fraction).ptr;
            while (end[-1] == '0')
                --end;
            for (const char* digit = digits + 1; digit < end; ++digit)
                *out++ = *digit;
        }
    }
    return out;
}

// Any other divisor: the quotient in double precision, as the general form with 15 digits.
char* viaDouble(int16_t raw, int divisor, char decimalSeparator, char* out)
{
    const double value = static_cast<double>(raw) / divisor;
    const auto [end, ec] = std::to_chars(out, out + 32, value, std::chars_format::general, 15);
    if (ec != std::errc())
        return out;
    std::replace(out, end, '.', decimalSeparator);
    return end;
}

} // namespace

char* ScaledValueText(int16_t raw, int divisor, char decimalSeparator, char* out)
{
    switch (divisor) {
    case 1: return fixedPoint<1>(raw, decimalSeparator, out);
    case 10: return fixedPoint<10>(raw, decimalSeparator, out);
    case 100: return fixedPoint<100>(raw, decimalSeparator, out);
    case 1000: return fixedPoint<1000>(raw, decimalSeparator, out);
    default: return viaDouble(raw, divisor, decimalSeparator, out);
    }
}

QString ScaledValueText(int16_t raw, int divisor, char decimalSeparator)
{
    char buffer[32];
    const char* end = ScaledValueText(raw, divisor, decimalSeparator, buffer);
    return common::fromCp1252(QByteArrayView(buffer, end - buffer));
}

char DecimalSeparatorOf(const QLocale& locale)
{
    return common::cp1252DecimalSeparator(locale);
}

} // namespace logger
