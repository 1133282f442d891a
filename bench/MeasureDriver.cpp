// Runs the program's measurement (application object, measurement window offscreen, QSerialPort)
// for a given time against whatever serves COM1, then prints what it cost.
// Usage: zentlog-bench-measure SECONDS   (in a working directory with config.txt and PortCom.dat)

#include "app/Application.h"
#include "app/ZENTLOG.h"
#include "measure/F_Mesure.h"
#include "serial/QtSerialControl.h"
#include "ui/Dialogs.h"

#include <QApplication>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Prints every box instead of showing it.
class PrintingDialogs final : public ui::Dialogs {
public:
    ui::Answer message(const QString& text, ui::Icon, ui::Buttons buttons, const QString&) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return buttons == ui::Buttons::YesNo ? ui::Answer::No : ui::Answer::Ok;
    }
    void beep() override {}
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

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

} // namespace

int main(int argc, char* argv[])
{
    QApplication qtApp(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
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

    // Settle for the first cycle, then measure.
    QTimer::singleShot(1500, [&] {
        const double cpuStart = cpuSeconds();
        const long rssStart = residentKiB();
        const size_t cyclesStart = cycles.size();
        QTimer::singleShot(seconds * 1000, [&, cpuStart, rssStart, cyclesStart] {
            const double cpu = cpuSeconds() - cpuStart;
            std::vector<qint64> run(cycles.begin() + static_cast<long>(cyclesStart), cycles.end());
            std::sort(run.begin(), run.end());
            const qint64 median = run.empty() ? 0 : run[run.size() / 2];
            const qint64 worst = run.empty() ? 0 : run.back();
            std::printf("seconds %d\ncycles %zu\ncpu_seconds %.3f\ncpu_share_percent %.3f\n"
                        "cycle_ms_median %lld\ncycle_ms_max %lld\nrss_kib_start %ld\nrss_kib_end %ld\n",
                        seconds, run.size(), cpu, 100.0 * cpu / seconds, static_cast<long long>(median),
                        static_cast<long long>(worst), rssStart, residentKiB());
            for (int i = 0; i < 4; ++i)
                std::printf("label_%d %s\n", i, qPrintable(window->valueText(i).replace(QStringLiteral("\r\n"), QStringLiteral(" | "))));
            QCoreApplication::exit(0);
        });
    });
    return QApplication::exec();
}
