// The evaluation of the limits, step by step: readings, ticks and acknowledgements in, the events
// that come out written as "raised high #1".

#include "alarms/AlarmEvaluator.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace alarms;

namespace {

struct Step {
    enum What { Value, Temperature, Bad, Tick, Ack, AckAll };
    double seconds;
    What what;
    double x = 0; // the value, the temperature, or the alarm id to acknowledge
};

struct Case {
    const char* name;
    InputLimits limits;
    std::vector<Step> steps;
    std::vector<std::string> events;
    AlarmState finalHigh = AlarmState::Normal; // the state of "high" at the end
};

InputLimits high(double limit, double deadband = 0, double delayS = 0)
{
    InputLimits l;
    l.value.high = limit;
    l.deadband = deadband;
    l.delayS = delayS;
    return l;
}

std::string text(const AlarmEvent& e)
{
    return (eventName(e.type) + QLatin1Char(' ') + kindName(e.alarm.kind) + QStringLiteral(" #%1").arg(e.alarm.id))
        .toStdString();
}

std::vector<std::string> run(AlarmEvaluator& evaluator, const std::vector<Step>& steps)
{
    std::vector<std::string> out;
    for (const Step& s : steps) {
        const auto ms = static_cast<qint64>(s.seconds * 1000);
        measure::Reading r;
        r.timeMs = ms;
        r.ok = s.what != Step::Bad;
        r.tag = QStringLiteral("basin pH");
        if (s.what == Step::Value)
            r.shown.value = s.x;
        if (s.what == Step::Temperature) {
            r.shown.value = 7;
            r.shown.temperature = s.x;
        }
        std::vector<AlarmEvent> events;
        switch (s.what) {
        case Step::Value:
        case Step::Temperature:
        case Step::Bad: events = evaluator.evaluate(r); break;
        case Step::Tick: events = evaluator.tick(ms); break;
        case Step::Ack: events = evaluator.acknowledge(static_cast<qint64>(s.x), ms); break;
        case Step::AckAll: events = evaluator.acknowledgeAll(ms); break;
        }
        for (const AlarmEvent& e : events)
            out.push_back(text(e));
    }
    return out;
}

} // namespace

TEST(AlarmEvaluator, RaisesClearsAndAcknowledgesAsTheRulesSay)
{
    InputLimits failing;
    failing.failingS = 10;
    InputLimits temperature;
    temperature.temperature.high = 30;
    InputLimits lows;
    lows.value.low = 5;
    lows.value.lowLow = 2;
    lows.deadband = 1;
    using S = Step;
    const std::vector<Case> cases = {
        {"raised only once the limit stayed crossed for delay_s; a reading back inside restarts the delay",
         high(8, 0, 5),
         {{0, S::Value, 9}, {2, S::Value, 7}, {3, S::Value, 9}, {7, S::Value, 9}, {8, S::Value, 9}},
         {"raised high #1"},
         AlarmState::ActiveUnacknowledged},
        {"equal to the limit is not crossed", high(8), {{0, S::Value, 8}}, {}},
        {"clears only past the deadband", high(8, 0.5),
         {{0, S::Value, 9}, {1, S::Value, 7.8}, {2, S::Value, 7.5}, {3, S::Value, 7.4}},
         {"raised high #1", "cleared high #1"},
         AlarmState::ClearedUnacknowledged},
        {"a value chattering around the limit within the deadband is one alarm", high(8, 0.5),
         {{0, S::Value, 8.1}, {1, S::Value, 7.9}, {2, S::Value, 8.2}, {3, S::Value, 7.8}, {4, S::Value, 8.1}},
         {"raised high #1"},
         AlarmState::ActiveUnacknowledged},
        {"without a deadband a swing back raises the same alarm again, not a new one", high(8),
         {{0, S::Value, 9}, {1, S::Value, 7}, {2, S::Value, 9}},
         {"raised high #1", "cleared high #1", "raised high #1"},
         AlarmState::ActiveUnacknowledged},
        {"acknowledging an active alarm keeps it active; it is over when it clears", high(8),
         {{0, S::Value, 9}, {1, S::Ack, 1}, {2, S::Ack, 1}, {3, S::Value, 9}, {4, S::Value, 7}, {5, S::Value, 9}},
         {"raised high #1", "acknowledged high #1", "cleared high #1", "raised high #2"},
         AlarmState::ActiveUnacknowledged},
        {"a cleared alarm acknowledged is back to normal", high(8),
         {{0, S::Value, 9}, {1, S::Value, 7}, {2, S::AckAll}, {3, S::Ack, 1}},
         {"raised high #1", "cleared high #1", "acknowledged high #1"}},
        {"failing after failing_s without a valid reading, ticks or Out of order alike; cleared by a value",
         failing,
         {{0, S::Tick}, {5, S::Bad}, {9.9, S::Tick}, {10, S::Tick}, {11, S::Tick}, {12, S::Bad}, {13, S::Value, 1},
          {22, S::Tick}, {23, S::Tick}},
         {"raised failing #1", "cleared failing #1", "raised failing #1"}},
        {"an input the measurement never visits does not fail", failing, {{0, S::Tick}, {100, S::Tick}}, {}},
        {"Out of order leaves a limit alarm as it is", high(8), {{0, S::Value, 9}, {1, S::Bad}}, {"raised high #1"},
         AlarmState::ActiveUnacknowledged},
        {"temperature limits watch the temperature", temperature,
         {{0, S::Temperature, 29}, {1, S::Temperature, 31}, {2, S::Temperature, 29}},
         {"raised temperature_high #1", "cleared temperature_high #1"}},
        {"below low_low both low alarms are raised, and clear past low + deadband", lows,
         {{0, S::Value, 1}, {1, S::Value, 2.5}, {2, S::Value, 3.5}, {3, S::Value, 5.5}, {4, S::Value, 6.5}},
         {"raised low_low #1", "raised low #2", "cleared low_low #1", "cleared low #2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AlarmEvaluator evaluator;
        evaluator.setLimits({c.limits, {}, {}, {}}, 0);
        EXPECT_EQ(run(evaluator, c.steps), c.events);
        EXPECT_EQ(evaluator.state(0, AlarmKind::High), c.finalHigh);
    }
}

TEST(AlarmEvaluator, RestoredAlarmsGoOnAndLimitsTakenAwayClearThem)
{
    Alarm active{7, 0, AlarmKind::High, QStringLiteral("t"), 100, 9.0, 8.0, 200, std::nullopt};
    Alarm over{8, 1, AlarmKind::Low, QStringLiteral("t"), 100, 1.0, 2.0, 300, 400};
    AlarmEvaluator evaluator;
    evaluator.restore({active, over}, 9);
    evaluator.setLimits({high(8), {}, {}, {}}, 1000);
    EXPECT_EQ(evaluator.state(0, AlarmKind::High), AlarmState::ActiveAcknowledged);
    EXPECT_EQ(evaluator.alarms().size(), 1u);
    // Still above: no second raise; below: the restored alarm clears and is over.
    EXPECT_EQ(run(evaluator, {{2, Step::Value, 9}, {3, Step::Value, 7}}), std::vector<std::string>{"cleared high #7"});
    evaluator.setLimits({high(8), {}, {}, {}}, 3000);
    EXPECT_EQ(run(evaluator, {{4, Step::Value, 9}}), std::vector<std::string>{"raised high #9"});
    const std::vector<AlarmEvent> events = evaluator.setLimits({}, 5000);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(text(events[0]), "cleared high #9");
}
