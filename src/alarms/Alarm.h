#pragma once
// An alarm of one input: its kind, its state and the event that changed it. Each (input, kind)
// has at most one alarm that is not back to normal; once it is cleared and acknowledged it is
// history, and the next raise starts a new alarm with a new id.

#include <QString>

#include <optional>

namespace alarms {

inline constexpr int kInputCount = 4;

// The limit an alarm watches. The temperature kinds watch the temperature, the others the
// input's main value; "failing" watches the time since the input's last valid reading.
enum class AlarmKind {
    LowLow,
    Low,
    High,
    HighHigh,
    Failing,
    TemperatureLowLow,
    TemperatureLow,
    TemperatureHigh,
    TemperatureHighHigh,
};
inline constexpr int kKindCount = 9;

// "low_low", "low", "high", "high_high", "failing", "temperature_low_low", ... (the names of
// zentlog.ini's keys, the history's `kind` column, the feed and MQTT).
QString kindName(AlarmKind kind);
std::optional<AlarmKind> kindFromName(const QString& name);
// Low/high kinds are amber, low_low/high_high and failing red.
bool isSevere(AlarmKind kind);

enum class AlarmState {
    Normal,
    ActiveUnacknowledged,
    ActiveAcknowledged,
    ClearedUnacknowledged,
};
QString stateName(AlarmState state); // "normal", "active_unacknowledged", ...

struct Alarm {
    qint64 id = 0;       // above 0, unique within the history file
    int input = 0;       // 0..3
    AlarmKind kind = AlarmKind::High;
    QString tag;         // the input's tag when the alarm was raised
    qint64 raisedMs = 0; // UTC milliseconds
    // The value that raised it (for failing: none) and the limit it crossed (failing: failing_s).
    std::optional<double> value;
    std::optional<double> limit;
    std::optional<qint64> acknowledgedMs;
    std::optional<qint64> clearedMs;

    bool active() const { return !clearedMs; }
    bool acknowledged() const { return acknowledgedMs.has_value(); }
    AlarmState state() const;
    friend bool operator==(const Alarm&, const Alarm&) = default;
};

struct AlarmEvent {
    enum class Type { Raised, Acknowledged, Cleared };
    Type type = Type::Raised;
    qint64 timeMs = 0; // when it happened, UTC milliseconds
    Alarm alarm;       // the alarm after the event
    // Written to the history: its readers (the MQTT publisher) find it there. An event the
    // history could not take is passed on from memory instead.
    bool inHistory = false;
    friend bool operator==(const AlarmEvent&, const AlarmEvent&) = default;
};
QString eventName(AlarmEvent::Type type); // "raised", "acknowledged", "cleared"
std::optional<AlarmEvent::Type> eventFromName(const QString& name);

} // namespace alarms
