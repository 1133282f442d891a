#include "logger/ValueText.h"

#include "common/Cp1252.h"

#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace logger {

namespace {

// Decimal places of a divisor that is a power of ten up to 1000, or -1.
int decimalPlaces(int divisor)
{
    switch (divisor) {
    case 1: return 0;
    case 10: return 1;
    case 100: return 2;
    case 1000: return 3;
    default: return -1;
    }
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
    // A 16-bit value divided by a power of ten has at most five significant digits, so the
    // general form with 15 digits of the double quotient is exactly the decimal quotient: it is
    // written from the integer parts, which is many times faster on long files.
    int places = decimalPlaces(divisor);
    if (places < 0)
        return viaDouble(raw, divisor, decimalSeparator, out);

    int magnitude = raw;
    if (magnitude < 0) {
        *out++ = '-';
        magnitude = -magnitude;
    }
    out = std::to_chars(out, out + 8, magnitude / divisor).ptr;
    int fraction = magnitude % divisor;
    if (fraction == 0)
        return out;
    while (fraction % 10 == 0) {
        fraction /= 10;
        --places;
    }
    *out++ = decimalSeparator;
    char digits[8];
    const char* end = std::to_chars(digits, digits + sizeof digits, fraction).ptr;
    const auto length = static_cast<int>(end - digits);
    for (int i = length; i < places; ++i)
        *out++ = '0';
    std::memcpy(out, digits, static_cast<std::size_t>(length));
    return out + length;
}

QString ScaledValueText(int16_t raw, int divisor, char decimalSeparator)
{
    char buffer[32];
    const char* end = ScaledValueText(raw, divisor, decimalSeparator, buffer);
    return common::fromCp1252(QByteArrayView(buffer, end - buffer));
}

char DecimalSeparatorOf(const QLocale& locale)
{
    const QString separator = locale.decimalPoint();
    if (separator.size() == 1 && common::representableInCp1252(separator)) {
        const QByteArray byte = common::toCp1252(separator);
        if (byte.size() == 1)
            return byte[0];
    }
    return '.';
}

} // namespace logger
