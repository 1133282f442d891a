#pragma once
// What a logger channel measures and how its raw values scale: the two-character type code
// gives the type name, the type name and the 16-bit unit code give the unit text and the
// divisor of the main value.

#include "logger/LoggerFormat.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace logger {

// The type names that change how a channel is written.
inline const QString kTypeFlow = QStringLiteral("Flow");
inline const QString kTypeR627 = QStringLiteral("R_627");

// The type name of a code (exact, case-sensitive); "" for a code the logger does not define.
QString TypeNameFromCode(const TypeCode& code);

struct UnitDecoding {
    QString UnitText; // may be empty; "____" when the code is outside the type's table
    int Divisor = 1;  // 1, 10, 100 or 1000

    bool operator==(const UnitDecoding&) const = default;
};

// The unit text and divisor of a channel; nothing for the "452 ..." types and for "".
std::optional<UnitDecoding> LoggerUnitDecoder(const QString& typeName, int16_t unitCode);

// The second value is a tenth, or a hundredth for "R_627".
int SecondValueDivisor(const QString& typeName);

} // namespace logger
