#include "history/TrendAxes.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <array>
#include <cmath>

namespace history {

namespace {

constexpr qint64 kSecondMs = 1000;
constexpr qint64 kMinuteMs = 60 * kSecondMs;
constexpr qint64 kHourMs = 60 * kMinuteMs;
constexpr qint64 kDayMs = 24 * kHourMs;

// The time steps a person reads at a glance.
constexpr std::array kTimeSteps{kSecondMs,      2 * kSecondMs,  5 * kSecondMs,  10 * kSecondMs, 15 * kSecondMs,
                                30 * kSecondMs, kMinuteMs,      2 * kMinuteMs,  5 * kMinuteMs,  10 * kMinuteMs,
                                15 * kMinuteMs, 30 * kMinuteMs, kHourMs,        2 * kHourMs,    3 * kHourMs,
                                6 * kHourMs,    12 * kHourMs,   kDayMs,         2 * kDayMs,     7 * kDayMs};

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

} // namespace

ValueTicks valueTicks(double lo, double hi, double minSpan, int digits, int wanted)
{
    if (!std::isfinite(lo) || !std::isfinite(hi) || hi < lo)
        return {};
    digits = std::clamp(digits, 0, 6);
    const double finest = std::pow(10.0, -digits);
    minSpan = std::max(minSpan, finest);
    if (hi - lo < minSpan) {
        const double middle = (lo + hi) / 2;
        lo = middle - minSpan / 2;
        hi = middle + minSpan / 2;
    }
    const double raw = (hi - lo) / std::max(1, wanted);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = 10 * power;
    for (const double m : {1.0, 2.0, 5.0}) {
        if (m * power >= raw * (1 - 1e-9)) {
            step = m * power;
            break;
        }
    }
    step = std::max(step, finest);
    ValueTicks ticks;
    ticks.step = step;
    ticks.from = std::floor(lo / step + 1e-9) * step;
    ticks.to = std::ceil(hi / step - 1e-9) * step;
    if (ticks.to <= ticks.from)
        ticks.to = ticks.from + step;
    ticks.decimals = std::clamp(int(-std::floor(std::log10(step) + 1e-9)), 0, digits);
    return ticks;
}

double minimumSpan(const QString& unit, int digits)
{
    const QString u = unit.trimmed();
    if (u == QStringLiteral("°C") || u == QStringLiteral("°F"))
        return 1.0;
    if (u.compare(QLatin1String("pH"), Qt::CaseInsensitive) == 0)
        return 0.5;
    return 10 * std::pow(10.0, -std::clamp(digits, 0, 6));
}

int decimalsOf(const QString& text)
{
    static const QRegularExpression number(QStringLiteral("\\d+(?:\\.(\\d+))?"));
    const QRegularExpressionMatch match = number.match(text);
    return match.hasMatch() ? int(match.capturedLength(1)) : -1;
}

QString panelNumber(double value, int decimals)
{
    return QString::number(value, 'f', std::clamp(decimals, 0, 6));
}

std::vector<TimeTick> timeTicks(qint64 fromMs, qint64 toMs, int wanted, int utcOffsetSeconds)
{
    std::vector<TimeTick> ticks;
    if (toMs <= fromMs)
        return ticks;
    const qint64 raw = (toMs - fromMs) / std::max(1, wanted);
    const auto found = std::find_if(kTimeSteps.begin(), kTimeSteps.end(), [raw](qint64 s) { return s >= raw; });
    const qint64 step = found != kTimeSteps.end() ? *found : (raw / kDayMs + 1) * kDayMs;
    const qint64 offsetMs = qint64(utcOffsetSeconds) * 1000;
    const QTimeZone zone(utcOffsetSeconds);
    const auto local = [&](qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms, zone); };
    const bool days = local(fromMs).date() != local(toMs - 1).date();
    const QString format = step >= kDayMs            ? QStringLiteral("dd/MM")
                           : step < kMinuteMs && days ? QStringLiteral("dd/MM HH:mm:ss")
                           : step < kMinuteMs         ? QStringLiteral("HH:mm:ss")
                           : days                     ? QStringLiteral("dd/MM HH:mm")
                                                      : QStringLiteral("HH:mm");
    // Round in local time: a tick every 6 hours falls on 00:00, 06:00, ... of the local clock.
    for (qint64 t = (floorDiv(fromMs + offsetMs - 1, step) + 1) * step - offsetMs; t < toMs; t += step)
        ticks.push_back({t, local(t).toString(format)});
    return ticks;
}

} // namespace history
