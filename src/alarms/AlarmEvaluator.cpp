#include "alarms/AlarmEvaluator.h"

#include <algorithm>

namespace alarms {

namespace {
std::size_t at(int i)
{
    return static_cast<std::size_t>(i);
}
std::size_t at(AlarmKind kind)
{
    return static_cast<std::size_t>(kind);
}

// The limit kinds of one quantity, with the side they watch.
struct Watch {
    AlarmKind kind;
    bool below;
};
constexpr Watch kValueWatches[] = {
    {AlarmKind::LowLow, true}, {AlarmKind::Low, true}, {AlarmKind::High, false}, {AlarmKind::HighHigh, false}};
constexpr Watch kTemperatureWatches[] = {{AlarmKind::TemperatureLowLow, true},
                                         {AlarmKind::TemperatureLow, true},
                                         {AlarmKind::TemperatureHigh, false},
                                         {AlarmKind::TemperatureHighHigh, false}};
} // namespace

void AlarmEvaluator::restore(std::vector<Alarm> alarms, qint64 nextId)
{
    inputs_ = {};
    nextId_ = std::max<qint64>(nextId, 1);
    for (Alarm& alarm : alarms) {
        if (alarm.input < 0 || alarm.input >= kInputCount || alarm.state() == AlarmState::Normal)
            continue;
        nextId_ = std::max(nextId_, alarm.id + 1);
        inputs_[at(alarm.input)].kinds[at(alarm.kind)].alarm = std::move(alarm);
    }
}

void AlarmEvaluator::renumberFrom(qint64 firstFree)
{
    nextId_ = std::max(nextId_, firstFree);
    for (Input& input : inputs_) {
        for (Slot& slot : input.kinds) {
            if (slot.alarm && slot.alarm->id < firstFree)
                slot.alarm->id = nextId_++;
        }
    }
}

std::vector<AlarmEvent> AlarmEvaluator::setLimits(const std::array<InputLimits, kInputCount>& limits, qint64 nowMs)
{
    std::vector<AlarmEvent> events;
    limits_ = limits;
    for (int input = 0; input < kInputCount; ++input) {
        for (int k = 0; k < kKindCount; ++k) {
            Slot& slot = inputs_[at(input)].kinds[at(k)];
            if (!limits_[at(input)].limitOf(static_cast<AlarmKind>(k))) {
                slot.crossedSince.reset();
                if (slot.alarm && slot.alarm->active())
                    clear(slot, nowMs, events);
            }
        }
    }
    return events;
}

std::vector<AlarmEvent> AlarmEvaluator::evaluate(const measure::Reading& reading)
{
    std::vector<AlarmEvent> events;
    if (reading.channel < 0 || reading.channel >= kInputCount)
        return events;
    const qint64 now = reading.timeMs;
    if (!startedMs_)
        startedMs_ = now;
    Input& input = inputs_[at(reading.channel)];
    const InputLimits& limits = limits_[at(reading.channel)];
    input.tag = reading.tag;
    input.seen = true;
    if (!reading.ok)
        return tick(now);
    input.lastValidMs = now;
    Slot& failing = input.kinds[at(AlarmKind::Failing)];
    if (failing.alarm && failing.alarm->active())
        clear(failing, now, events);
    for (const Watch& w : kValueWatches)
        check(reading.channel, w.kind, reading.shown.value, limits.limitOf(w.kind), w.below, reading.tag, now, events);
    for (const Watch& w : kTemperatureWatches)
        check(reading.channel, w.kind, reading.shown.temperature, limits.limitOf(w.kind), w.below, reading.tag, now,
              events);
    return events;
}

void AlarmEvaluator::check(int input, AlarmKind kind, std::optional<double> value, std::optional<double> limit,
                           bool below, const QString& tag, qint64 nowMs, std::vector<AlarmEvent>& events)
{
    Slot& slot = inputs_[at(input)].kinds[at(kind)];
    if (!limit || !value) {
        slot.crossedSince.reset();
        return;
    }
    const double deadband = limits_[at(input)].deadband;
    const bool crossed = below ? *value < *limit : *value > *limit;
    if (slot.alarm && slot.alarm->active()) {
        // Back inside by the deadband: the alarm clears; within it, it stays (no chattering).
        const bool back = below ? *value > *limit + deadband : *value < *limit - deadband;
        if (back)
            clear(slot, nowMs, events);
        return;
    }
    if (!crossed) {
        slot.crossedSince.reset();
        return;
    }
    if (!slot.crossedSince)
        slot.crossedSince = nowMs;
    if (static_cast<double>(nowMs - *slot.crossedSince) >= limits_[at(input)].delayS * 1000.0)
        raise(input, kind, value, limit, tag, nowMs, events);
}

std::vector<AlarmEvent> AlarmEvaluator::tick(qint64 nowMs)
{
    std::vector<AlarmEvent> events;
    if (!startedMs_)
        startedMs_ = nowMs;
    for (int i = 0; i < kInputCount; ++i) {
        const std::optional<double> failingS = limits_[at(i)].failingS;
        Input& input = inputs_[at(i)];
        Slot& slot = input.kinds[at(AlarmKind::Failing)];
        if (!failingS || !input.seen || (slot.alarm && slot.alarm->active()))
            continue;
        const qint64 since = input.lastValidMs.value_or(*startedMs_);
        if (static_cast<double>(nowMs - since) >= *failingS * 1000.0) {
            raise(i, AlarmKind::Failing, std::nullopt, failingS, input.tag, nowMs, events);
        }
    }
    return events;
}

void AlarmEvaluator::raise(int input, AlarmKind kind, std::optional<double> value, std::optional<double> limit,
                           const QString& tag, qint64 nowMs, std::vector<AlarmEvent>& events)
{
    Slot& slot = inputs_[at(input)].kinds[at(kind)];
    slot.crossedSince.reset();
    if (slot.alarm) {
        // Cleared but not yet acknowledged: the same alarm is active again.
        slot.alarm->clearedMs.reset();
        slot.alarm->acknowledgedMs.reset();
        slot.alarm->value = value;
        slot.alarm->limit = limit;
        if (!tag.isEmpty())
            slot.alarm->tag = tag;
    } else {
        Alarm alarm;
        alarm.id = nextId_++;
        alarm.input = input;
        alarm.kind = kind;
        alarm.tag = tag;
        alarm.raisedMs = nowMs;
        alarm.value = value;
        alarm.limit = limit;
        slot.alarm = alarm;
    }
    events.push_back({AlarmEvent::Type::Raised, nowMs, *slot.alarm});
}

void AlarmEvaluator::clear(Slot& slot, qint64 nowMs, std::vector<AlarmEvent>& events)
{
    slot.alarm->clearedMs = nowMs;
    events.push_back({AlarmEvent::Type::Cleared, nowMs, *slot.alarm});
    if (slot.alarm->state() == AlarmState::Normal)
        slot.alarm.reset();
}

std::vector<AlarmEvent> AlarmEvaluator::acknowledge(qint64 id, qint64 nowMs)
{
    std::vector<AlarmEvent> events;
    for (Input& input : inputs_) {
        for (Slot& slot : input.kinds) {
            if (!slot.alarm || slot.alarm->id != id || slot.alarm->acknowledged())
                continue;
            slot.alarm->acknowledgedMs = nowMs;
            events.push_back({AlarmEvent::Type::Acknowledged, nowMs, *slot.alarm});
            if (slot.alarm->state() == AlarmState::Normal)
                slot.alarm.reset();
            return events;
        }
    }
    return events;
}

std::vector<AlarmEvent> AlarmEvaluator::acknowledgeAll(qint64 nowMs)
{
    std::vector<AlarmEvent> events;
    for (const Alarm& alarm : alarms()) {
        std::vector<AlarmEvent> one = acknowledge(alarm.id, nowMs);
        events.insert(events.end(), one.begin(), one.end());
    }
    return events;
}

std::vector<Alarm> AlarmEvaluator::alarms() const
{
    std::vector<Alarm> result;
    for (const Input& input : inputs_) {
        for (const Slot& slot : input.kinds) {
            if (slot.alarm)
                result.push_back(*slot.alarm);
        }
    }
    std::sort(result.begin(), result.end(), [](const Alarm& a, const Alarm& b) { return a.id < b.id; });
    return result;
}

AlarmState AlarmEvaluator::state(int input, AlarmKind kind) const
{
    if (input < 0 || input >= kInputCount)
        return AlarmState::Normal;
    const Slot& slot = inputs_[at(input)].kinds[at(kind)];
    return slot.alarm ? slot.alarm->state() : AlarmState::Normal;
}

} // namespace alarms
