// The cost of publishing to an MQTT broker, through the publisher's own core without serial lines.
//
//   zentlog-bench-publish sites PORT SITES SECONDS
//     SITES publishers (one MQTT connection each, JSON, QoS 1, readings kept in memory) send one
//     cycle of four channels a second each, spread over the second, for SECONDS. Prints the
//     readings published and acknowledged, and this process's CPU time per published reading.
//
//   zentlog-bench-publish backfill PORT FOLDER MINUTES
//     One site whose history in FOLDER holds MINUTES of four channels the broker never
//     acknowledged (an outage) connects, and goes on measuring a cycle a second meanwhile. Prints
//     how long the backlog took and its rate, and how the live readings fared meanwhile.

#include "history/Recorder.h"
#include "publish/Publisher.h"
#include "publish/ReadingSource.h"

#include "ProcessCpu.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

using testing_support::cpuMicroseconds;

namespace {

// Runs the event loop for `ms`, sleeping while nothing happens (processEvents with a time limit
// would spin and count as the publishers' CPU).
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::vector<measure::Reading> cycleAt(qint64 timeMs, qint64 n)
{
    static const char* const kTypes[] = {"pH", "Conductivity", "ORP", "Oxygen"};
    static const char* const kUnits[] = {"pH", "\u00B5S", "mV", "mg/l"};
    std::vector<measure::Reading> readings(4);
    for (int c = 0; c < 4; ++c) {
        measure::Reading& r = readings[std::size_t(c)];
        r.timeMs = timeMs;
        r.channel = c;
        r.tag = QStringLiteral("Tank %1").arg(c + 1);
        r.typeName = QString::fromUtf8(kTypes[c]);
        r.ok = true;
        r.outcome = diagnostics::Outcome::value();
        r.shown.value = 7.0 + double(n % 100) / 100;
        r.shown.unit = QString::fromUtf8(kUnits[c]);
        r.shown.temperature = 18.5;
        r.shown.text = QStringLiteral("  7.%1  %2     18.5  \u00B0C").arg(n % 100, 2, 10, QLatin1Char('0')).arg(*r.shown.unit);
    }
    return readings;
}

publish::MqttSettings settingsFor(int port, const QString& site)
{
    publish::MqttSettings settings;
    settings.enabled = true;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    settings.site = site;
    settings.qos = 1;
    return settings;
}

int runSites(int port, int sites, int seconds)
{
    std::vector<std::unique_ptr<publish::Publisher>> publishers;
    for (int i = 0; i < sites; ++i) {
        publish::Publisher::Options options;
        options.settings = settingsFor(port, QStringLiteral("site%1").arg(i));
        options.history = false;
        publishers.push_back(std::make_unique<publish::Publisher>(std::move(options)));
        publishers.back()->start();
    }
    // Let every connection come up before counting.
    QElapsedTimer connecting;
    connecting.start();
    while (connecting.elapsed() < 20000) {
        runFor(50);
        int up = 0;
        for (const auto& p : publishers)
            up += p->status().connected ? 1 : 0;
        if (up == sites)
            break;
    }
    const double cpuBefore = cpuMicroseconds();
    QElapsedTimer clock;
    clock.start();
    qint64 cycle = 0;
    // One tick per site and second, each site at its own offset within the second.
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(std::max(1, 1000 / sites));
    int next = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 due = clock.elapsed() * sites / 1000; // cycles that should have run by now
        while (cycle < due && cycle < qint64(seconds) * sites) {
            publishers[std::size_t(next)]->cycleRecorded(cycleAt(QDateTime::currentMSecsSinceEpoch(), cycle / sites));
            next = (next + 1) % sites;
            ++cycle;
        }
    });
    tick.start();
    runFor(seconds * 1000 + 200);
    tick.stop();
    // The last acknowledgements.
    runFor(5000);
    const double cpu = cpuMicroseconds() - cpuBefore;
    qint64 sent = 0;
    qint64 acked = 0;
    int connected = 0;
    for (const auto& p : publishers) {
        sent += p->status().sent;
        acked += p->status().acknowledged;
        connected += p->status().connected ? 1 : 0;
    }
    std::printf("sites=%d connected=%d seconds=%d readings=%lld published=%lld acknowledged=%lld\n", sites, connected,
                seconds, static_cast<long long>(cycle * 4), static_cast<long long>(sent),
                static_cast<long long>(acked));
    std::printf("cpu_us_per_reading=%.1f readings_per_second=%.0f\n", sent ? cpu / double(sent) : 0.0,
                double(sent) / seconds);
    publishers.clear();
    return sent == cycle * 4 && acked == sent ? 0 : 1;
}

int runBackfill(int port, const QString& folder, int minutes)
{
    const publish::MqttSettings settings = settingsFor(port, QStringLiteral("backfill"));
    qint64 n = 0;
    history::Recorder::Options recorderOptions;
    recorderOptions.directory = folder;
    history::Recorder recorder(std::move(recorderOptions));
    recorder.recordCycle({}); // makes the file and its tables
    {
        // The broker acknowledged nothing after the start of the outage.
        publish::HistorySource source(folder);
        source.saveAcked(publish::destinationKey(settings), publish::AckedRanges::upTo(source.newest()));
    }
    const qint64 outageStart = QDateTime::currentMSecsSinceEpoch() - qint64(minutes) * 60000;
    for (; n < qint64(minutes) * 60; ++n)
        recorder.recordCycle(cycleAt(outageStart + n * 1000, n));

    publish::Publisher::Options options;
    options.settings = settings;
    options.directory = folder;
    publish::Publisher publisher(std::move(options));
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuMicroseconds();
    publisher.start();
    const qint64 backlog = qint64(minutes) * 60 * 4;
    qint64 doneMs = -1;
    QTimer measure;
    measure.setInterval(1000);
    QObject::connect(&measure, &QTimer::timeout, [&] {
        std::vector<measure::Reading> cycle = cycleAt(QDateTime::currentMSecsSinceEpoch(), n++);
        recorder.recordCycle(cycle);
        publisher.cycleRecorded(std::move(cycle));
    });
    measure.start();
    while (clock.elapsed() < 600000) {
        runFor(10);
        const publish::PublishStatus status = publisher.status();
        if (status.connected && status.pendingBackfill == 0 && status.acknowledged >= backlog) {
            doneMs = clock.elapsed();
            break;
        }
    }
    const double cpu = cpuMicroseconds() - cpuBefore;
    const publish::PublishStatus status = publisher.status();
    std::printf("backlog=%lld seconds=%.2f backfill_rate=%.0f readings/s live_cycles_meanwhile=%lld sent=%lld "
                "cpu_us_per_reading=%.1f\n",
                static_cast<long long>(backlog), double(doneMs) / 1000, doneMs > 0 ? double(backlog) * 1000 / double(doneMs) : 0.0,
                static_cast<long long>(n - qint64(minutes) * 60), static_cast<long long>(status.sent),
                status.sent ? cpu / double(status.sent) : 0.0);
    return doneMs > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("sites"))
        return runSites(args[2].toInt(), args[3].toInt(), args[4].toInt());
    if (args.size() == 5 && args[1] == QLatin1String("backfill"))
        return runBackfill(args[2].toInt(), args[3], args[4].toInt());
    std::fprintf(stderr, "usage: zentlog-bench-publish sites PORT SITES SECONDS\n"
                         "       zentlog-bench-publish backfill PORT FOLDER MINUTES\n");
    return 2;
}
