// The cost of evaluating the alarm limits: four inputs with every limit set (value and
// temperature, deadband, delay, failing), readings that swing across the limits so that alarms
// are raised and cleared, in CPU time per reading (getrusage over the whole loop).

#include "alarms/AlarmEvaluator.h"

#include "ProcessCpu.h"

#include <cmath>
#include <cstdio>
#include <numbers>

int main()
{
    alarms::InputLimits limits;
    limits.value = {5.5, 6.5, 8.5, 9.5};
    limits.temperature = {2, 5, 30, 35};
    limits.deadband = 0.1;
    limits.delayS = 2;
    limits.failingS = 60;
    alarms::AlarmEvaluator evaluator;
    evaluator.setLimits({limits, limits, limits, limits}, 0);

    constexpr int kCycles = 500000;
    std::size_t events = 0;
    const double startCpu = testing_support::cpuSeconds();
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        for (int input = 0; input < alarms::kInputCount; ++input) {
            measure::Reading r;
            r.timeMs = cycle * 1000LL;
            r.channel = input;
            r.ok = cycle % 97 != 0;
            r.tag = QStringLiteral("basin pH");
            // One swing across every value limit per 10 minutes, phase shifted per input.
            r.shown.value = 7.5 + 2.5 * std::sin(2 * std::numbers::pi * cycle / 600.0 + input);
            r.shown.temperature = 18 + 18 * std::sin(2 * std::numbers::pi * cycle / 900.0 + input);
            events += evaluator.evaluate(r).size();
        }
        events += evaluator.tick(cycle * 1000LL).size();
    }
    const double cpu = testing_support::cpuSeconds() - startCpu;
    const double readings = static_cast<double>(kCycles) * alarms::kInputCount;
    std::printf("readings %.0f, events %zu, CPU %.3f s, %.3f us per reading\n", readings, events, cpu,
                cpu / readings * 1e6);
    return 0;
}
