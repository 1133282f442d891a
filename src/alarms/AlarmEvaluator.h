#pragma once
// The evaluation of the limits, pure: readings and clock ticks in, events out. No clock, no file,
// no process: the caller says what time it is. The measurement hands it every reading; a tick
// without readings (a silent station, a lost port) still lets "failing" be raised.
//
// Rules, per input and kind:
// - A limit is crossed when the value is below low/low_low or above high/high_high (equal is not
//   crossed). It must stay crossed for delay_s before the alarm is raised; a reading back inside
//   restarts the delay.
// - An active alarm clears when the value is back inside by the deadband (high: value <
//   high - deadband; low: value > low + deadband). Values that chatter around the limit within
//   the deadband keep the one alarm active.
// - A raise while the kind's alarm is cleared but unacknowledged makes that same alarm active again
//   (one alarm, not one per swing).
// - "failing" is raised when an input with failing_s has had no valid reading for failing_s
//   (counted from its last valid reading, or from the evaluator's first tick), and clears at the
//   next valid reading. Only an input the measurement visits can fail: limits left in the file for
//   an input that is not measured raise nothing. A reading without a value ("Out of order") leaves the limit alarms as
//   they are.
// - Acknowledging an active alarm keeps it active; acknowledging a cleared one returns it to normal.
// - An input without limits (or with its alarms off for a bad setting) has its alarms cleared at
//   once when the limits are set.

#include "alarms/Alarm.h"
#include "alarms/AlarmSettings.h"
#include "measure/Reading.h"

#include <array>
#include <vector>

namespace alarms {

class AlarmEvaluator {
public:
    // Alarms read back from the history at start (not normal ones) and the next id to give.
    void restore(std::vector<Alarm> alarms, qint64 nextId);
    // Alarms numbered below `firstFree` take new numbers from there on: a history turned on while
    // measuring may hold alarms of an earlier run under the numbers given meanwhile.
    void renumberFrom(qint64 firstFree);
    // Events: alarms of kinds that lost their limit are cleared.
    std::vector<AlarmEvent> setLimits(const std::array<InputLimits, kInputCount>& limits, qint64 nowMs);

    std::vector<AlarmEvent> evaluate(const measure::Reading& reading);
    // Checks "failing" of every input at `nowMs`.
    std::vector<AlarmEvent> tick(qint64 nowMs);

    // Nothing when `id` names no alarm that awaits acknowledgement.
    std::vector<AlarmEvent> acknowledge(qint64 id, qint64 nowMs);
    std::vector<AlarmEvent> acknowledgeAll(qint64 nowMs);

    // Every alarm that is not normal, by id.
    std::vector<Alarm> alarms() const;
    AlarmState state(int input, AlarmKind kind) const;
    qint64 nextId() const { return nextId_; }

private:
    struct Slot {
        std::optional<Alarm> alarm;        // not normal
        std::optional<qint64> crossedSince; // the limit has been crossed since (delay)
    };
    struct Input {
        std::array<Slot, kKindCount> kinds{};
        std::optional<qint64> lastValidMs;
        QString tag; // of the last reading
        bool seen = false; // the measurement has visited the input (with or without a value)
    };
    void check(int input, AlarmKind kind, std::optional<double> value, std::optional<double> limit, bool below,
               const QString& tag, qint64 nowMs, std::vector<AlarmEvent>& events);
    void raise(int input, AlarmKind kind, std::optional<double> value, std::optional<double> limit,
               const QString& tag, qint64 nowMs, std::vector<AlarmEvent>& events);
    void clear(Slot& slot, qint64 nowMs, std::vector<AlarmEvent>& events);

    std::array<InputLimits, kInputCount> limits_{};
    std::array<Input, kInputCount> inputs_{};
    std::optional<qint64> startedMs_;
    qint64 nextId_ = 1;
};

} // namespace alarms
