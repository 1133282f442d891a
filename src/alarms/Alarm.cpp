#include "alarms/Alarm.h"

#include <array>

namespace alarms {

namespace {
constexpr std::array<const char*, kKindCount> kKindNames = {
    "low_low", "low", "high", "high_high", "failing",
    "temperature_low_low", "temperature_low", "temperature_high", "temperature_high_high",
};
constexpr std::array<const char*, 3> kEventNames = {"raised", "acknowledged", "cleared"};
} // namespace

QString kindName(AlarmKind kind)
{
    return QLatin1String(kKindNames[static_cast<std::size_t>(kind)]);
}

std::optional<AlarmKind> kindFromName(const QString& name)
{
    for (std::size_t i = 0; i < kKindNames.size(); ++i) {
        if (name == QLatin1String(kKindNames[i]))
            return static_cast<AlarmKind>(i);
    }
    return std::nullopt;
}

bool isSevere(AlarmKind kind)
{
    switch (kind) {
    case AlarmKind::LowLow:
    case AlarmKind::HighHigh:
    case AlarmKind::Failing:
    case AlarmKind::TemperatureLowLow:
    case AlarmKind::TemperatureHighHigh: return true;
    default: return false;
    }
}

QString stateName(AlarmState state)
{
    switch (state) {
    case AlarmState::Normal: break;
    case AlarmState::ActiveUnacknowledged: return QStringLiteral("active_unacknowledged");
    case AlarmState::ActiveAcknowledged: return QStringLiteral("active_acknowledged");
    case AlarmState::ClearedUnacknowledged: return QStringLiteral("cleared_unacknowledged");
    }
    return QStringLiteral("normal");
}

AlarmState Alarm::state() const
{
    if (active())
        return acknowledged() ? AlarmState::ActiveAcknowledged : AlarmState::ActiveUnacknowledged;
    return acknowledged() ? AlarmState::Normal : AlarmState::ClearedUnacknowledged;
}

QString eventName(AlarmEvent::Type type)
{
    return QLatin1String(kEventNames[static_cast<std::size_t>(type)]);
}

std::optional<AlarmEvent::Type> eventFromName(const QString& name)
{
    for (std::size_t i = 0; i < kEventNames.size(); ++i) {
        if (name == QLatin1String(kEventNames[i]))
            return static_cast<AlarmEvent::Type>(i);
    }
    return std::nullopt;
}

} // namespace alarms
