// zentlog-station killed at random moments and started again: the history stays sound, keeps
// every reading it had committed, and the next run is on the line at once.

#include "SimProcess.h"
#include "StationRun.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace testing_support;

TEST(StationKills, AKilledStationLeavesASoundHistoryAndMeasuresAgainAtOnce)
{
    SimProcess sim(twoStations());
    QTemporaryDir dir;
    writeStationFiles(dir.path());
    const QString history = dir.filePath(QStringLiteral("history.sqlite"));
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delays(300, 2500);
    SCOPED_TRACE(testing::Message() << "seed " << seed);

    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        const int delay = delays(random);
        const qsizetype requestsBefore = sim.requests().size();
        QElapsedTimer started;
        started.start();
        Station station(dir.path(), sim.linkPath());
        qint64 firstRequest = -1;
        while (started.elapsed() < delay) {
            pause(50);
            if (firstRequest < 0 && sim.requests().size() > requestsBefore)
                firstRequest = started.elapsed();
        }
        // A run killed before two seconds may not have asked yet; one that has asked did so in time.
        if (firstRequest >= 0 || delay >= 2000) {
            EXPECT_TRUE(firstRequest >= 0 && firstRequest <= 2000) << "first request after " << firstRequest << " ms";
        }
        EXPECT_TRUE(station.running()) << station.log().toStdString();

        const std::vector<Row> seen = readRows(history);
        station.kill();
        pause(100); // what reached the simulator is in its log
        if (!QFileInfo::exists(history))
            continue;
        EXPECT_EQ(integrityOf(history), QStringLiteral("ok"));
        const std::vector<Row> kept = readRows(history);
        ASSERT_GE(kept.size(), seen.size());
        const auto lost = std::mismatch(seen.begin(), seen.end(), kept.begin()).first;
        if (lost != seen.end())
            ADD_FAILURE() << "lost or changed: row " << lost->id << " of input " << lost->channel;
    }
    EXPECT_GE(readRows(history).size(), 20u);
}

TEST(StationStop, SigtermWritesEveryReadingThatWaitsInMemory)
{
    SimProcess sim(twoStations());
    QTemporaryDir dir;
    writeStationFiles(dir.path());
    // Readings wait for an hour: all but the first cycle's are in memory when SIGTERM comes.
    writeFile(dir.filePath(QStringLiteral("zentlog.ini")), "[history]\nwrite_interval_seconds=3600\n");
    const QString history = dir.filePath(QStringLiteral("history.sqlite"));
    Station station(dir.path(), sim.linkPath());
    QElapsedTimer started;
    started.start();
    while (sim.requests().size() < 10 && started.elapsed() < 20000)
        pause(50);
    EXPECT_EQ(readRows(history).size(), 2u);
    EXPECT_EQ(station.terminate(), 0) << station.log().toStdString();
    pause(100); // what reached the simulator is in its log
    const std::vector<Row> rows = readRows(history);
    EXPECT_GE(rows.size(), 10u);
    EXPECT_EQ(qsizetype(rows.size()), sim.requests().size());
}
