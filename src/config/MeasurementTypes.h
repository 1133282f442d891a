#pragma once
// The sixteen kinds of station, identified everywhere by their list position (-1: none chosen).

#include <QString>

#include <array>
#include <cstdint>

namespace config {

enum MeasurementType : int16_t {
    TypeNone = -1,
    TypeResistivity = 0,
    TypeConductivity = 1,
    TypePH = 2,
    TypeORP = 3,
    TypeOxygen = 4,
    TypeFlow = 5,
    TypeChlorine = 6,
    TypeConductivitySwitch = 7,
    TypeNaCl = 8,
    TypeNaOH = 9,
    TypeHCl = 10,
    TypeH2SO4 = 11,
    TypeTurbidity = 12,
    TypeR627 = 13,
    Type381 = 14,
    Type452 = 15,
};

inline constexpr int kMeasurementTypeCount = 16;

// The texts of the type lists, in list order; the trailing blanks belong to them.
inline const std::array<QString, kMeasurementTypeCount> measurementTypeTexts{
    QStringLiteral("Resistivity"), QStringLiteral("Conductivity"), QStringLiteral("pH"),
    QStringLiteral("ORP"),         QStringLiteral("Oxygen"),       QStringLiteral("Flow "),
    QStringLiteral("Chlorine"),    QStringLiteral("C_TOR"),        QStringLiteral("NaCl"),
    QStringLiteral("NaOH"),        QStringLiteral("HCl"),          QStringLiteral("H2SO4"),
    QStringLiteral("Turbidity"),   QStringLiteral("R_627"),        QStringLiteral("381     "),
    QStringLiteral("452     "),
};

constexpr bool isMeasurementType(int value)
{
    return value >= 0 && value < kMeasurementTypeCount;
}

} // namespace config
