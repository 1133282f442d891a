#include "measure/UnitTables.h"

#include <array>

namespace measure {

namespace {

// Units by key 0x00, 0x10, ...; a missing entry leaves the unit unchanged.
template <std::size_t N>
std::optional<QString> lookUp(const std::array<const char16_t*, N>& table, uint8_t codeByte)
{
    const std::size_t index = static_cast<std::size_t>(codeByte >> 4);
    if (index >= N || table[index] == nullptr)
        return std::nullopt;
    return QString::fromUtf16(table[index]);
}

} // namespace

std::optional<QString> turbidityUnit(uint8_t codeByte)
{
    static constexpr std::array<const char16_t*, 9> table{
        u"NTU", u"FAU", u"mg/l", u"g/l", u"FNU", u"m", u"cm", u"%", u""};
    return lookUp(table, codeByte);
}

std::optional<QString> model381Unit(uint8_t codeByte)
{
    static constexpr std::array<const char16_t*, 8> table{
        u"m", u"cm", u"%", u"ppm", u"mg/l", u"g/l", u"", u"\u00B0C"};
    return lookUp(table, codeByte);
}

std::optional<QString> model452Unit(uint8_t codeByte)
{
    static constexpr std::array<const char16_t*, 2> table{u"ppm", u"g/l"};
    return lookUp(table, codeByte);
}

} // namespace measure
