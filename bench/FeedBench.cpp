// The live feed as a window sees it: latency from the end of each visit in the station to the
// visit's line arriving here, and the pace of the station's cycles, from its state lines.
//
//   zentlog-bench-feed DIRECTORY SECONDS
//     Connects to the station measuring DIRECTORY for SECONDS. Prints "name value" lines: the
//     visits received, the latency median, 95th percentile and maximum (ms; the station's clock
//     and ours are the same machine's), the states received and the longest gap between two.

#include "feed/FeedClient.h"

#include "Percentile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: zentlog-bench-feed DIRECTORY SECONDS\n");
        return 2;
    }
    feed::FeedClient client(QString::fromLocal8Bit(argv[1]));
    std::vector<double> latencies;
    std::vector<qint64> states;
    QObject::connect(&client, &feed::FeedClient::visited, [&](const feed::VisitMessage& visit) {
        latencies.push_back(static_cast<double>(QDateTime::currentMSecsSinceEpoch() - visit.endedMs));
    });
    QObject::connect(&client, &feed::FeedClient::stateChanged,
                     [&](const feed::StationState& state) { states.push_back(state.timeMs); });
    client.start();
    QTimer::singleShot(std::atoi(argv[2]) * 1000, &app, &QCoreApplication::quit);
    QCoreApplication::exec();

    qint64 gap = 0;
    for (size_t i = 2; i < states.size(); ++i) // the first is the greeting
        gap = std::max(gap, states[i] - states[i - 1]);
    std::printf("visits %zu\nlatency_ms_median %.0f\nlatency_ms_p95 %.0f\nlatency_ms_max %.0f\nstates %zu\n"
                "state_gap_ms_max %lld\n",
                latencies.size(), percentile(latencies, 0.5), percentile(latencies, 0.95), percentile(latencies, 1.0),
                states.size(), static_cast<long long>(gap));
    return latencies.empty() ? 1 : 0;
}
