#pragma once
// The ticks of the trend charts' axes, worked out apart from the charts so that they can be
// checked: round values with no more decimals than the station shows, a least span per unit (so
// that the noise of a steady reading never fills a chart), and times at round hours, minutes or
// days, each labelled once.

#include <QString>

#include <vector>

namespace history {

struct ValueTicks {
    double from = 0; // the axis range, on ticks
    double to = 1;
    double step = 1; // 1, 2 or 5 times a power of ten
    int decimals = 0;
};

// Ticks over [lo, hi], about `wanted` intervals of a round step. The range is widened to
// `minSpan` around its middle when narrower, and the step is never finer than the station's last
// digit (`digits` decimals).
ValueTicks valueTicks(double lo, double hi, double minSpan, int digits, int wanted = 4);

// The least span a value axis shows for a unit: a tenth of a degree or of a pH unit is the
// station's noise, not a change to fill a chart with. Otherwise ten steps of the last digit.
double minimumSpan(const QString& unit, int digits);

// The decimals of the first number in a recorded value text ("7.23 pH" has 2, "2212 m³" none);
// -1 where the text holds no number (a file written by another tool), so that they are not known.
int decimalsOf(const QString& text);

// A number as the measurement panel writes it: '.' whatever the locale, no thousands separator.
QString panelNumber(double value, int decimals);

struct TimeTick {
    qint64 timeMs = 0;
    QString label;
};

// The ticks of [fromMs, toMs) at round local times, about `wanted` of them: whole seconds,
// minutes, hours or days as the span asks, with seconds shown below a minute and the date where
// the period spans more than one day. `utcOffsetSeconds` is the local clock's offset.
std::vector<TimeTick> timeTicks(qint64 fromMs, qint64 toMs, int wanted, int utcOffsetSeconds);

} // namespace history
