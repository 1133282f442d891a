// The cost of the measurement history: a day of four channels at one cycle a second (86400
// cycles, 345600 readings) recorded through the recorder's own path into a fresh file in FOLDER,
// with the readings' own times as the recorder's clock, so that its writes are grouped as in a
// day of measuring: every WRITE_INTERVAL seconds (default 10, the setting's default; 0: a synced
// commit per cycle). Prints the CPU time per cycle (this process's user + system time, its
// checkpoint thread's and the kernel's share of the writes included) and the file's size after
// the recorder has ended (its log copied back), with its extrapolation to a year.
//   zentlog-bench-record FOLDER [CYCLES [WRITE_INTERVAL]]

#include "config/MeasurementTypes.h"
#include "history/Recorder.h"
#include "measure/ValueText.h"

#include "ProcessCpu.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <vector>

using testing_support::cpuMicroseconds;

namespace {

// Four channels as an installation has them: pH, conductivity, flow with its totals, R_627, with
// slowly varying station values made into panel texts by the program's own formatting.
std::vector<measure::Reading> cycleAt(qint64 timeMs, qint64 n)
{
    const double temperature = double(180 + n % 80) / 10.0;
    std::vector<measure::Reading> readings(4);
    const int types[] = {config::TypePH, config::TypeConductivity, config::TypeFlow, config::TypeR627};
    const char* tags[] = {"Tank", "Outlet", "PUMP A", "Loop"};
    const char* names[] = {"pH", "Conductivity", "Flow", "R_627"};
    for (int c = 0; c < 4; ++c) {
        measure::StationValues v;
        v.Temperature = temperature;
        v.PhValue = double(700 + n % 200) / 100.0;
        v.ConductivityRaw = double(1234 + n % 500);
        v.ConductivityRange = 2;
        v.FlowRate = double(1250 + n % 300);
        v.FlowRange = 10;
        v.FlowTotal1 = double(1234 + n / 300);
        v.FlowTotal2 = double(123456 + n / 300);
        v.ResistivityRaw = double(182 + n % 3);
        v.ResistivityRange = 4;
        v.SecondResistivityRaw = double(1799 + n % 5);
        measure::Reading& r = readings[static_cast<size_t>(c)];
        r.timeMs = timeMs + c * 40;
        r.channel = c;
        r.ok = true;
        r.outcome = diagnostics::Outcome::value();
        r.tag = QString::fromLatin1(tags[c]);
        r.typeName = QString::fromLatin1(names[c]);
        r.shown = measure::FormatChannelReading(static_cast<int16_t>(types[c]), v);
    }
    return readings;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: zentlog-bench-record FOLDER [CYCLES [WRITE_INTERVAL]]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const qint64 cycles = argc > 2 ? QByteArray(argv[2]).toLongLong() : 86400;
    const int interval = argc > 3 ? QByteArray(argv[3]).toInt() : 10;
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - cycles * 1000;
    qint64 cycleMs = start;
    history::Recorder::Options options;
    options.directory = folder;
    options.writeIntervalSeconds = interval;
    options.clock = [&cycleMs] { return cycleMs; };
    options.report = [](const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); };
    std::vector<double> perCycle;
    perCycle.reserve(static_cast<size_t>(cycles));
    QString path;
    const double before = cpuMicroseconds();
    {
        history::Recorder recorder(options);
        path = recorder.filePath();
        for (qint64 n = 0; n < cycles; ++n) {
            cycleMs = start + n * 1000;
            std::vector<measure::Reading> readings = cycleAt(cycleMs, n);
            const double t0 = cpuMicroseconds();
            recorder.recordCycle(std::move(readings));
            perCycle.push_back(cpuMicroseconds() - t0);
        }
        if (!recorder.flush())
            return 1;
    }
    const double total = cpuMicroseconds() - before;
    std::sort(perCycle.begin(), perCycle.end());
    const double size = double(QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size());
    const double perDay = size * 86400.0 / double(cycles);
    std::printf("cycles: %lld (%lld readings), written every %d s\n", static_cast<long long>(cycles),
                static_cast<long long>(cycles * 4), interval);
    std::printf("CPU per cycle of four channels: mean %.0f us, median %.0f us, 99th percentile %.0f us\n",
                total / double(cycles), perCycle[perCycle.size() / 2], perCycle[perCycle.size() * 99 / 100]);
    std::printf("database size: %.2f MB for these cycles, %.2f MB per day, %.2f GB per year (%.1f bytes per reading)\n",
                size / 1e6, perDay / 1e6, perDay * 365 / 1e9, size / double(cycles * 4));
    return 0;
}
