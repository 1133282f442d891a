// The cost of the measurement history: a day of four channels at one cycle a second (86400
// cycles, 345600 readings) recorded through the recorder's own path (one transaction per cycle,
// WAL, synchronous=NORMAL) into a fresh file in FOLDER. Prints the CPU time per cycle (this
// process's user + system time, so the kernel's share of the writes counts) and the file's size,
// with its extrapolation to a year.
//   zentlog-bench-record FOLDER [CYCLES]

#include "history/Recorder.h"

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

// Four channels as an installation has them: pH, conductivity, flow with its totals, R_627.
std::vector<measure::Reading> cycleAt(qint64 timeMs, qint64 n)
{
    std::vector<measure::Reading> readings(4);
    const double drift = double(n % 600) / 100.0;
    for (int c = 0; c < 4; ++c) {
        measure::Reading& r = readings[static_cast<size_t>(c)];
        r.timeMs = timeMs + c * 40;
        r.channel = c;
        r.ok = true;
        r.shown.temperature = 18.0 + drift / 10;
    }
    readings[0].tag = QStringLiteral("Tank");
    readings[0].typeName = QStringLiteral("pH");
    readings[0].shown.value = 7.0 + drift / 100;
    readings[0].shown.unit = QStringLiteral("pH");
    readings[0].shown.text = QStringLiteral("7.%1 pH     18.%2  \u00B0C").arg(n % 100, 2, 10, QLatin1Char('0')).arg(n % 10);
    readings[1].tag = QStringLiteral("Outlet");
    readings[1].typeName = QStringLiteral("Conductivity");
    readings[1].shown.value = 12.34 + drift;
    readings[1].shown.unit = QStringLiteral("\u00B5S");
    readings[1].shown.text = QStringLiteral(" 12.%1  \u00B5S      18.%2  \u00B0C").arg(n % 100, 2, 10, QLatin1Char('0')).arg(n % 10);
    readings[2].tag = QStringLiteral("PUMP A");
    readings[2].typeName = QStringLiteral("Flow");
    readings[2].shown.value = 12.5 + drift;
    readings[2].shown.unit = QStringLiteral("m3/h");
    readings[2].shown.totalDay = double(1234 + n / 300);
    readings[2].shown.total = double(123456 + n / 300);
    readings[2].shown.text = QStringLiteral("  12.%1  m3/h    12.%2  \u00B0C\r\n %3   m3  \r\n %4   m3  ")
                                 .arg(n % 100, 2, 10, QLatin1Char('0'))
                                 .arg(n % 10)
                                 .arg(1234 + n / 300)
                                 .arg(123456 + n / 300);
    readings[3].tag = QStringLiteral("Loop");
    readings[3].typeName = QStringLiteral("R_627");
    readings[3].shown.value = 18.2;
    readings[3].shown.unit = QStringLiteral("MOhm");
    readings[3].shown.value2 = 17.99;
    readings[3].shown.unit2 = QStringLiteral("MOhm");
    readings[3].shown.temperature.reset();
    readings[3].shown.text = QStringLiteral("18.2 MOhm\r\n17.99 MOhm");
    return readings;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: zentlog-bench-record FOLDER [CYCLES]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const qint64 cycles = argc > 2 ? QByteArray(argv[2]).toLongLong() : 86400;
    history::Recorder::Options options;
    options.directory = folder;
    options.report = [](const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); };
    history::Recorder recorder(options);

    const qint64 start = QDateTime::currentMSecsSinceEpoch() - cycles * 1000;
    std::vector<double> perCycle;
    perCycle.reserve(static_cast<size_t>(cycles));
    const double before = cpuMicroseconds();
    for (qint64 n = 0; n < cycles; ++n) {
        std::vector<measure::Reading> readings = cycleAt(start + n * 1000, n);
        const double t0 = cpuMicroseconds();
        if (!recorder.recordCycle(std::move(readings)))
            return 1;
        perCycle.push_back(cpuMicroseconds() - t0);
    }
    const double total = cpuMicroseconds() - before;
    std::sort(perCycle.begin(), perCycle.end());
    const QString path = recorder.filePath();
    const double size = double(QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size());
    const double perDay = size * 86400.0 / double(cycles);
    std::printf("cycles: %lld (%lld readings)\n", static_cast<long long>(cycles), static_cast<long long>(cycles * 4));
    std::printf("CPU per cycle of four channels: mean %.0f us, median %.0f us, 99th percentile %.0f us\n",
                total / double(cycles), perCycle[perCycle.size() / 2], perCycle[perCycle.size() * 99 / 100]);
    std::printf("database size: %.2f MB for these cycles, %.2f MB per day, %.2f GB per year (%.1f bytes per reading)\n",
                size / 1e6, perDay / 1e6, perDay * 365 / 1e9, size / double(cycles * 4));
    return 0;
}
