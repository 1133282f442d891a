// The measurement window attached to a running zentlog-station (application object, window
// offscreen): how long after a visit ends in the station its text stands on the window's panel.
// Usage: zentlog-bench-viewer DIRECTORY SECONDS   (the station measures DIRECTORY)
// Prints "key value" lines: visits, latency_ms_median, latency_ms_p95, latency_ms_max, mismatches
// (panel texts that differ from the station's).

#include "app/Application.h"
#include "app/StationLink.h"
#include "app/ZENTLOG.h"
#include "measure/F_Mesure.h"
#include "serial/QtSerialControl.h"

#include "Percentile.h"
#include "PrintingDialogs.h"

#include <QApplication>
#include <QDateTime>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char* argv[])
{
    QApplication qapp(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: zentlog-bench-viewer DIRECTORY SECONDS\n");
        return 2;
    }
    PrintingDialogs dialogs;
    app::Application application(dialogs, std::make_unique<serial::QtSerialControl>(), QString::fromLocal8Bit(argv[1]));
    application.mainWindow().Form_Load();
    application.mainWindow().Mesure_Click();
    measure::F_Mesure* window = application.measurementWindow();
    if (!application.viewingStation() || !window || !application.stationLink()) {
        std::fprintf(stderr, "no station serves %s\n", argv[1]);
        return 1;
    }
    // The window's link hands each visit to the panels first (they connected first): by the time
    // this slot runs, the panel's label holds the visit's text.
    std::vector<double> latencies;
    int mismatches = 0;
    QObject::connect(application.stationLink(), &app::StationLink::visited, [&](const feed::VisitMessage& visit) {
        const int channel = visit.reading.channel;
        if (channel < 0 || channel >= 4 || visit.endedMs == 0)
            return;
        latencies.push_back(static_cast<double>(QDateTime::currentMSecsSinceEpoch() - visit.endedMs));
        if (window->valueText(channel) != visit.reading.shown.text)
            ++mismatches;
    });
    // exit(), not quit(): quit() would ask the window to close, and it asks "Are you sure to quit?".
    QTimer::singleShot(std::atoi(argv[2]) * 1000, &qapp, [] { QCoreApplication::exit(0); });
    QApplication::exec();
    std::printf("visits %zu\nlatency_ms_median %.0f\nlatency_ms_p95 %.0f\nlatency_ms_max %.0f\nmismatches %d\n",
                latencies.size(), percentile(latencies, 0.5), percentile(latencies, 0.95),
                percentile(latencies, 1.0), mismatches);
    return latencies.empty() ? 1 : 0;
}
