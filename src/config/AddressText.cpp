#include "config/AddressText.h"

#include <charconv>

namespace config {

double addressValue(const QString& text)
{
    const QByteArray latin = text.toLatin1();
    const char* first = latin.constData();
    const char* last = first + latin.size();
    while (first != last && (*first == ' ' || *first == '\t'))
        ++first;
    if (first != last && *first == '+')
        ++first; // from_chars takes a minus sign but not a plus sign
    double value = 0;
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec != std::errc() || ptr == first)
        return 0;
    return value;
}

} // namespace config
