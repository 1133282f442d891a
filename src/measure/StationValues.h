#pragma once
// The decoded live values of the stations: one record shared by every channel. Each field is
// empty until a reading first writes it, and keeps its value until a later reading of the same
// station kind overwrites it. The display step replaces several raw fields by their scaled
// value in place.

#include <QString>

#include <optional>

namespace measure {

using Number = std::optional<double>;
using Text = std::optional<QString>;

struct StationValues {
    Number FlowRate;             // 0: flow register 3, 0..65535
    Number FlowRange;            // 1: flow range code, 0..255
    Number FlowTotal1;           // 2: daily total, from eight BCD digits (empty: not a number)
    Number FlowTotal2;           // 3: total, from eight BCD digits (empty: not a number)
    Number PhValue;              // 4: pH
    Number OrpMillivolts;        // 5: mV
    Number ConductivityRaw;      // 6
    Number ConductivityRange;    // 7: range code, 0..255
    Number ResistivityRaw;       // 8
    Number ResistivityRange;     // 9: range code, 0..255
    Number Temperature;          // 10: degrees Celsius
    Number SecondResistivityRaw; // 11
    Number OxygenRaw;            // 12
    Number OxygenUnit;           // 13: bit 0 selects the unit
    Number ChlorineValue;        // 14
    Number TurbidityRaw;         // 15
    Number TurbidityDecimalCode; // 16: 0..15
    Text TurbidityUnit;          // 17
    Number Model452Raw;          // 18
    Number Model452DecimalCode;  // 19: 0..15
    Text Model452Unit;           // 20
    Number Model381Raw;          // 21
    Number Model381DecimalCode;  // 22: 0..15
    Text Model381Unit;           // 23
};

} // namespace measure
