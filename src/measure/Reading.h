#pragma once
// What one channel visit of a measurement cycle yields: the text the panel shows and the numbers
// behind it, as shown (rounded as the text rounds them, so that the text and the numbers never
// disagree). The history records these.

#include "diagnostics/Outcome.h"
#include "measure/StationValues.h"

#include <QString>

#include <cstdint>

namespace measure {

// The value of a channel after a successful reading: its text and the numbers the text shows.
// Empty numbers where the type has no such field.
struct ShownValue {
    ShownValue() = default;
    // A value known only by its text (a reader that makes no numbers, such as a test double).
    ShownValue(QString shownText) // NOLINT(google-explicit-constructor): readers may return a plain text
        : text(std::move(shownText))
    {
    }

    QString text;
    Number value;       // the main value, as the text shows it
    Text unit;          // its unit text, without blanks
    Number temperature; // degrees Celsius, as shown
    Number value2;      // the second value (R_627)
    Text unit2;
    Number totalDay;    // flow: the daily total (empty when the station's digits were no number)
    Number total;       // flow: the total
};

// One channel visit. `ok` false: there was no value, the text is "Out of order", no number is
// set, and `outcome` says why.
struct Reading {
    qint64 timeMs = 0; // UTC milliseconds since 1970
    int channel = 0;
    QString tag;
    QString typeName;
    bool ok = false;
    diagnostics::Outcome outcome;
    ShownValue shown;
};

} // namespace measure
