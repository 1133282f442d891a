#include "logger/LoggerDecoders.h"

#include <array>
#include <utility>

namespace logger {

namespace {

// The codes follow the character order after "09" (":" ";" "<" "=" ">" "?"), not letters.
const std::array<std::pair<const char*, QString>, 21> kTypeNames{{
    {"01", QStringLiteral("Resistivity")},
    {"02", QStringLiteral("Conductivity")},
    {"03", QStringLiteral("pH")},
    {"04", QStringLiteral("ORP")},
    {"05", QStringLiteral("Dissolved oxygen")},
    {"06", QStringLiteral("Flow")},
    {"07", QStringLiteral("Chlorine")},
    {"08", QStringLiteral("Conductivity TOR")},
    {"09", QStringLiteral("NaCl")},
    {"0:", QStringLiteral("NaOH")},
    {"0;", QStringLiteral("HCl")},
    {"0<", QStringLiteral("H2SO4")},
    {"0=", QStringLiteral("Turbidity")},
    {"0>", QStringLiteral("R_627")},
    {"0?", QStringLiteral("381")},
    {"10", QStringLiteral("452 FREE CHLORINE")},
    {"11", QStringLiteral("452 TOTAL  CHLORINE")},
    {"12", QStringLiteral("452 CHLORINE DIOXYDE")},
    {"13", QStringLiteral("452 OZONE")},
    {"14", QStringLiteral("452 HYDROGEN PEROX.")},
    {"15", QStringLiteral("452 PEROXYACETIC AC.")},
}};

const QString kUnknownUnit = QStringLiteral("____");

UnitDecoding unknownUnit()
{
    return {kUnknownUnit, 1};
}

UnitDecoding resistivity(int code)
{
    switch (code) {
    case 1: return {QStringLiteral("Ohm"), 10};
    case 2: return {QStringLiteral("kOhm"), 1000};
    case 3: return {QStringLiteral("kOhm"), 100};
    case 4: return {QStringLiteral("kOhm"), 10};
    case 5: return {QStringLiteral("MOhm"), 1000};
    case 6: return {QStringLiteral("MOhm"), 100};
    case 7: return {QStringLiteral("MOhm"), 10};
    default: return unknownUnit();
    }
}

UnitDecoding conductivity(int code)
{
    switch (code) {
    case 1: return {QStringLiteral("µS"), 1000};
    case 2: return {QStringLiteral("µS"), 100};
    case 3: return {QStringLiteral("µS"), 10};
    case 4: return {QStringLiteral("mS"), 1000};
    case 5: return {QStringLiteral("mS"), 100};
    default: return unknownUnit();
    }
}

UnitDecoding conductivitySwitch(int code)
{
    switch (code) {
    case 1:
    case 4: return {QStringLiteral("mS"), 1000};
    case 2: return {QStringLiteral("mS"), 100};
    case 3: return {QStringLiteral("mS"), 10};
    default: return unknownUnit();
    }
}

UnitDecoding flow(int code)
{
    const QString perHour = QStringLiteral("m3/h");
    const QString perSecond = QStringLiteral("m3/s");
    switch (code) {
    case 0: return {perHour, 1000};
    case 10: return {perHour, 100};
    case 20: return {perHour, 10};
    case 30:
    case 31: return {perHour, 1};
    case 40: return {perSecond, 1000};
    case 50: return {perSecond, 100};
    default: return unknownUnit();
    }
}

// Turbidity and "381": the low byte's high four bits choose the unit, its low four bits the divisor.
UnitDecoding nibbleCoded(const std::array<const char*, 9>& units, int16_t code)
{
    const auto lowByte = static_cast<uint8_t>(code & 0xFF);
    const int high = lowByte >> 4;
    const int low = lowByte & 0x0F;
    static constexpr std::array<int, 5> kDivisors{1, 1000, 100, 10, 1};
    const int divisor = low < static_cast<int>(kDivisors.size()) ? kDivisors[static_cast<std::size_t>(low)] : 1;
    const QString unit = high < static_cast<int>(units.size()) ? QString::fromUtf8(units[static_cast<std::size_t>(high)])
                                                                : kUnknownUnit;
    return {unit, divisor};
}

const std::array<const char*, 9> kTurbidityUnits{"NTU", "FAU", "mg/l", "g/l", "FNU", "m", "cm", "%", ""};
const std::array<const char*, 9> k381Units{"m", "cm", "%", "ppm", "mg/l", "g/l", "", "°C", "____"};

} // namespace

QString TypeNameFromCode(const TypeCode& code)
{
    for (const auto& [text, name] : kTypeNames) {
        if (code[0] == text[0] && code[1] == text[1])
            return name;
    }
    return {};
}

std::optional<UnitDecoding> LoggerUnitDecoder(const QString& typeName, int16_t unitCode)
{
    if (typeName == QLatin1String("Resistivity") || typeName == kTypeR627)
        return resistivity(unitCode);
    if (typeName == QLatin1String("Conductivity"))
        return conductivity(unitCode);
    if (typeName == QLatin1String("Conductivity TOR"))
        return conductivitySwitch(unitCode);
    if (typeName == QLatin1String("pH"))
        return UnitDecoding{QStringLiteral("pH"), 100};
    if (typeName == QLatin1String("ORP"))
        return UnitDecoding{QStringLiteral("mV"), 1};
    if (typeName == QLatin1String("Dissolved oxygen"))
        return (unitCode & 1) ? UnitDecoding{QStringLiteral("mg/l"), 100} : UnitDecoding{QStringLiteral("%"), 10};
    if (typeName == kTypeFlow)
        return flow(unitCode);
    if (typeName == QLatin1String("Chlorine"))
        return UnitDecoding{QStringLiteral("mg/l"), 1000};
    if (typeName == QLatin1String("NaCl") || typeName == QLatin1String("NaOH") || typeName == QLatin1String("HCl")
        || typeName == QLatin1String("H2SO4"))
        return UnitDecoding{QStringLiteral("%"), 10};
    if (typeName == QLatin1String("Turbidity"))
        return nibbleCoded(kTurbidityUnits, unitCode);
    if (typeName == QLatin1String("381"))
        return nibbleCoded(k381Units, unitCode);
    return std::nullopt;
}

int SecondValueDivisor(const QString& typeName)
{
    return typeName == kTypeR627 ? 100 : 10;
}

} // namespace logger
