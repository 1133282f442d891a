#pragma once
// The alarm options of "zentlog.ini":
//   [alarms]
//   command=/usr/local/bin/zentlog-notify   run at every alarm event (absent or empty: none)
//   [alarms-input0] .. [alarms-input3]
//   low_low=, low=, high=, high_high=       limits on the main value, in the panel's unit
//   temperature_low_low=, temperature_low=, temperature_high=, temperature_high_high=   in °C
//   deadband=0       a value must come back inside its limit by this much before the alarm clears
//   delay_s=0        a limit must stay crossed this long before the alarm is raised
//   failing_s=       "failing" after this long without a valid reading (absent: never)
// Any key may be absent. A bad value (no number, limits out of order, a negative delay) is one
// message and turns that input's alarms off until it is mended; the other inputs are not affected.

#include "alarms/Alarm.h"

#include <QString>

#include <array>
#include <optional>

namespace common {
class IniFile;
}

namespace alarms {

struct Limits {
    std::optional<double> lowLow, low, high, highHigh;
    friend bool operator==(const Limits&, const Limits&) = default;
};

struct InputLimits {
    Limits value;
    Limits temperature;
    double deadband = 0;
    double delayS = 0;
    std::optional<double> failingS;
    friend bool operator==(const InputLimits&, const InputLimits&) = default;

    // Whether any alarm can be raised at all.
    bool any() const;
    // The limit of `kind` (failing: failingS).
    std::optional<double> limitOf(AlarmKind kind) const;
};

// Why `limits` cannot be used, naming the key ("low=7 is not below high=6.5"), empty when it can:
// limits out of order (low_low <= low < high <= high_high, the same for the temperature), a
// negative deadband, delay_s or failing_s. The settings window refuses what this refuses.
QString limitsProblem(const InputLimits& limits);

struct AlarmSettings {
    // An input whose section held a bad value has no limits (`inputs[i]` empty).
    std::array<InputLimits, kInputCount> inputs{};
    QString command; // the program run at every event; empty: none
    // What was wrong in the file, naming the file, the section and the key; empty when fine.
    QString problem;

    static AlarmSettings load(const QString& directory = {});
    static AlarmSettings load(const common::IniFile& file);

    // Writes [alarms-input<i>] for every input where `which[i]` (keys of unset limits written
    // empty) and [alarms] command, every other section and key kept, through an atomic save.
    // Refuses limits that limitsProblem() refuses. Empty on success, otherwise the reason.
    QString save(const std::array<bool, kInputCount>& which, const QString& directory = {}) const;
};

// Why the program must not run a command named in `iniPath`: the file may be written by others
// than its owner (group or world writable). Empty when it may.
QString commandFileProblem(const QString& iniPath);

} // namespace alarms
