// Runs the program's measurement (application object, measurement window offscreen, QSerialPort)
// for a given time against whatever serves COM1, then prints what it cost and how steadily the
// labels were kept up to date.
// Usage: zentlog-bench-measure SECONDS [--rss-every SECONDS]
//        (in a working directory with config.txt and PortCom.dat)
// --rss-every prints the resident memory at that interval while it runs (for long runs).

#include "app/Application.h"
#include "app/ZENTLOG.h"
#include "measure/F_Mesure.h"
#include "measure/ValueText.h"
#include "serial/QtSerialControl.h"

#include "PrintingDialogs.h"
#include "ProcessCpu.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

using testing_support::cpuSeconds;

namespace {

long residentKiB()
{
    FILE* status = std::fopen("/proc/self/statm", "r");
    long pages = 0;
    long resident = 0;
    if (status) {
        if (std::fscanf(status, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(status);
    }
    return resident * 4;
}

// What the labels of one channel went through: readings shown, "Out of order" shown, and the
// longest time between two readings shown (an answering channel is updated about once a second).
struct ChannelRecord {
    long values = 0;
    long outOfOrder = 0;
    qint64 lastValueMs = -1;
    qint64 longestGapMs = 0;
};

// Seconds the timer could not tick because a cycle ran past it: a cycle of 2.3 s swallows two ticks.
long ticksSwallowed(qint64 cycleMs)
{
    return cycleMs > 1000 ? static_cast<long>((cycleMs - 1) / 1000) : 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication qtApp(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    int rssEvery = 0;
    for (int i = 2; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--rss-every") == 0)
            rssEvery = std::max(1, std::atoi(argv[i + 1]));
    PrintingDialogs dialogs;
    app::Application application(dialogs, std::make_unique<serial::QtSerialControl>());
    application.mainWindow().Form_Load();
    application.mainWindow().Mesure_Click();
    measure::F_Mesure* window = application.measurementWindow();
    if (!window) {
        std::fprintf(stderr, "the measurement did not start\n");
        return 1;
    }
    std::vector<qint64> cycles;
    QObject::connect(window, &measure::F_Mesure::cycleCompleted, [&](qint64 ms) { cycles.push_back(ms); });
    QElapsedTimer clock;
    bool measuring = false;
    std::array<ChannelRecord, 4> channels{};
    QObject::connect(window, &measure::F_Mesure::valueShown, [&](int i) {
        if (!measuring || i < 0 || i >= 4)
            return;
        ChannelRecord& record = channels[static_cast<size_t>(i)];
        if (window->valueText(i) == measure::kOutOfOrder) {
            ++record.outOfOrder;
            return;
        }
        ++record.values;
        const qint64 now = clock.elapsed();
        if (record.lastValueMs >= 0)
            record.longestGapMs = std::max(record.longestGapMs, now - record.lastValueMs);
        record.lastValueMs = now;
    });
    QTimer rssTimer;
    QObject::connect(&rssTimer, &QTimer::timeout, [&] {
        std::printf("rss_kib_at %lld %ld\n", static_cast<long long>(clock.elapsed() / 1000), residentKiB());
        std::fflush(stdout);
    });

    // Settle for the first cycle, then measure.
    QTimer::singleShot(1500, [&] {
        const double cpuStart = cpuSeconds();
        const long rssStart = residentKiB();
        const size_t cyclesStart = cycles.size();
        clock.start();
        measuring = true;
        if (rssEvery > 0)
            rssTimer.start(rssEvery * 1000);
        QTimer::singleShot(seconds * 1000, [&, cpuStart, rssStart, cyclesStart] {
            measuring = false;
            const double cpu = cpuSeconds() - cpuStart;
            std::vector<qint64> run(cycles.begin() + static_cast<long>(cyclesStart), cycles.end());
            long swallowed = 0;
            for (const qint64 ms : run)
                swallowed += ticksSwallowed(ms);
            std::sort(run.begin(), run.end());
            const qint64 median = run.empty() ? 0 : run[run.size() / 2];
            const qint64 worst = run.empty() ? 0 : run.back();
            std::printf("seconds %d\ncycles %zu\ncpu_seconds %.3f\ncpu_share_percent %.3f\n"
                        "cycle_ms_median %lld\ncycle_ms_max %lld\nrss_kib_start %ld\nrss_kib_end %ld\n",
                        seconds, run.size(), cpu, 100.0 * cpu / seconds, static_cast<long long>(median),
                        static_cast<long long>(worst), rssStart, residentKiB());
            // One tick a second is expected; a cycle longer than a second takes the ticks it overlaps.
            std::printf("cycles_expected %d\nticks_swallowed_by_long_cycles %ld\n", seconds, swallowed);
            qint64 longestGap = 0;
            for (int i = 0; i < 4; ++i) {
                const ChannelRecord& record = channels[static_cast<size_t>(i)];
                std::printf("channel_%d values %ld out_of_order %ld longest_gap_ms %lld\n", i, record.values,
                            record.outOfOrder, static_cast<long long>(record.longestGapMs));
                longestGap = std::max(longestGap, record.longestGapMs);
            }
            std::printf("longest_gap_ms %lld\n", static_cast<long long>(longestGap));
            for (int i = 0; i < 4; ++i)
                std::printf("label_%d %s\n", i, qPrintable(window->valueText(i).replace(QStringLiteral("\r\n"), QStringLiteral(" | "))));
            QCoreApplication::exit(0);
        });
    });
    return QApplication::exec();
}
