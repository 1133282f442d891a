// zentlog-station while things change around it: the line goes and comes back, "config.txt" is
// edited or damaged, and the service manager ends it with a broker listening.

#include "MqttBroker.h"
#include "MqttSubscriber.h"
#include "SimProcess.h"
#include "StationRun.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <limits>
#include <set>
#include <memory>

using namespace testing_support;

namespace {

const QString kPortLine = QStringLiteral("COM1 \\([^)\\n]+\\) (cannot be opened|stopped working): ");
const QString kConfigRefused = QStringLiteral("\"config\\.txt\" cannot be used[^\\n]*previous configuration");

class StationLineAndFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(broker.start()) << broker.log().toStdString();
        writeStationFiles(dir.path());
        writeFile(dir.filePath(QStringLiteral("zentlog.ini")),
                  QStringLiteral("[mqtt]\nenabled=true\nhost=127.0.0.1\nport=%1\nsite=line\nqos=1\nformat=json\n")
                      .arg(broker.port())
                      .toUtf8());
        // COM1 is a link of the test's own to the simulator's line: without it the device is gone.
        ASSERT_TRUE(QFile::link(sim.linkPath(), com1()));
        station = std::make_unique<Station>(dir.path(), com1());
        ASSERT_TRUE(station->waitForLog(QStringLiteral("valid reading"), 2, 10000)) << station->log().toStdString();
    }

    QString com1() const { return dir.filePath(QStringLiteral("com1")); }
    std::string log() { return station->log().toStdString(); }

    // What the history says of `channel` after `fromMs`: each "<tag> <outcome>" once.
    QStringList recorded(int channel, qint64 fromMs)
    {
        QStringList found;
        for (const Row& r : readRows(dir.filePath(QStringLiteral("history.sqlite"))))
            if (r.channel == channel && r.timeMs > fromMs && !found.contains(r.tag + u' ' + r.outcome))
                found << r.tag + u' ' + r.outcome;
        return found;
    }

    SimProcess sim{twoStations()};
    QTemporaryDir dir;
    MqttBroker broker;
    std::unique_ptr<Station> station;
};

} // namespace

TEST_F(StationLineAndFiles, ALostLineIsReportedOnceRecordedEveryTickAndTakenUpAgain)
{
    // The line goes, and its device stays away for three and a half seconds.
    QFile::remove(com1());
    const qint64 lost = nowMs();
    sim.recreateLine();
    pause(3500);
    ASSERT_TRUE(QFile::link(sim.linkPath(), com1()));
    const qint64 back = nowMs();
    EXPECT_TRUE(station->waitForLog(QStringLiteral("is back"), 1, 3000)) << log();
    pause(2500);

    const QString text = station->log();
    EXPECT_EQ(matches(text, kPortLine), 1) << log();
    EXPECT_EQ(matches(text, QStringLiteral("COM1 \\([^)\\n]+\\) is back")), 1) << log();
    const std::vector<Row> rows = readRows(dir.filePath(QStringLiteral("history.sqlite")));
    for (int channel : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "input " << channel);
        // The port's lines tell of the outage: its inputs add nothing to their first valid reading.
        const QString input = QStringLiteral("Input %1 (\"%2\"): ").arg(channel).arg(channel ? "basin ORP" : "basin pH");
        EXPECT_EQ(text.count(input), 1) << log();
        int failedTicks = 0;
        bool valueAfter = false;
        for (const Row& r : rows) {
            if (r.channel != channel)
                continue;
            if (r.timeMs > lost && r.timeMs < back)
                failedTicks += !r.ok && (r.outcome == QLatin1String("port_lost") || r.outcome == QLatin1String("port_closed"));
            valueAfter = valueAfter || (r.timeMs > back && r.ok);
        }
        EXPECT_GE(failedTicks, 3);
        EXPECT_TRUE(valueAfter);
    }
}

TEST_F(StationLineAndFiles, AnEditedConfigIsAppliedAtTheNextCycleAndADamagedOneIsLeftAlone)
{
    const QString config = dir.filePath(QStringLiteral("config.txt"));
    replaceFile(config, configText("renamed pH"));
    const qint64 changed = nowMs();
    EXPECT_TRUE(station->waitForLog(QStringLiteral("\"config\\.txt\" reloaded"), 1, 3000)) << log();
    pause(3500);
    EXPECT_EQ(recorded(0, changed + 2500), QStringList{QStringLiteral("renamed pH value")});

    QByteArray junk(3000, '\0');
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(junk.data()), junk.size() / 4);
    int refusals = 0;
    for (const QByteArray& damaged : {junk, QByteArray("garbage\r\n")}) {
        replaceFile(config, damaged);
        const qint64 written = nowMs();
        ++refusals;
        EXPECT_TRUE(station->waitForLog(kConfigRefused, refusals, 3000)) << log();
        pause(2500);
        EXPECT_EQ(matches(station->log(), kConfigRefused), refusals) << log(); // once, not every cycle
        EXPECT_EQ(recorded(0, written), QStringList{QStringLiteral("renamed pH value")});
        EXPECT_EQ(readFile(config), damaged);
    }
}

TEST_F(StationLineAndFiles, SigtermEndsWithStatusZeroAndLeavesOfflineOnTheBroker)
{
    const QString topic = QStringLiteral("zentlog/line/status");
    const auto lastIs = [](const char* payload) {
        return [payload](const MqttSubscriber::Messages& m) { return !m.empty() && m.back().payload == payload; };
    };
    MqttSubscriber watcher(broker.port(), topic);
    ASSERT_TRUE(watcher.waitFor(lastIs("online"), 10000));
    EXPECT_EQ(station->terminate(), 0) << log();
    EXPECT_TRUE(watcher.waitFor(lastIs("offline"), 3000));
    // Kept for whoever looks later.
    MqttSubscriber later(broker.port(), topic);
    EXPECT_TRUE(later.waitFor(lastIs("offline"), 5000));
}

TEST_F(StationLineAndFiles, AHistoryRemovedWhileMeasuringLosesNoReadingInTheFilesNorAtTheBroker)
{
    MqttSubscriber received(broker.port(), QStringLiteral("zentlog/line/+/reading"));
    ASSERT_TRUE(received.waitUntilSubscribed(10000));
    const qint64 subscribed = nowMs();
    pause(1500);
    // The broker stops answering: what the station records now is not acknowledged.
    broker.pause();
    pause(2000);
    const QString history = dir.filePath(QStringLiteral("history.sqlite"));
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(history + QLatin1String(suffix));
    const qint64 removed = nowMs();
    ASSERT_TRUE(station->waitForLog(QStringLiteral("was removed"), 1, 5000)) << log();
    std::cout << "noticed " << nowMs() - removed << " ms after the removal\n";
    pause(2000);
    broker.resume();
    pause(3000);
    const qint64 ended = nowMs();
    EXPECT_EQ(station->terminate(), 0) << log();
    EXPECT_EQ(matches(station->log(), QStringLiteral("was removed")), 1) << log();

    const QStringList rescued =
        QDir(dir.path()).entryList({QStringLiteral("history.sqlite.rescued-*")}, QDir::Files);
    ASSERT_EQ(rescued.size(), 1) << log();
    std::vector<Row> rows = readRows(dir.filePath(rescued[0]));
    std::cout << rows.size() << " readings rescued\n";
    const std::vector<Row> now = readRows(history);
    EXPECT_EQ(integrityOf(history), QStringLiteral("ok"));
    // Every reading of the lost file from before it was removed is in the copy; those since then
    // are in the new file.
    ASSERT_FALSE(rows.empty());
    EXPECT_GT(rows.back().timeMs, removed - 1500);
    EXPECT_GT(std::count_if(now.begin(), now.end(), [&](const Row& r) { return r.timeMs > removed + 1000; }), 2);
    rows.insert(rows.end(), now.begin(), now.end());
    // Each of them reached the broker, the unacknowledged ones of the lost file included.
    const auto all = [&](const MqttSubscriber::Messages& messages) {
        std::set<std::pair<int, qint64>> got;
        for (const auto& m : messages) {
            const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
            got.insert({o.value(QStringLiteral("channel")).toInt() - 1, qint64(o.value(QStringLiteral("time_ms")).toDouble())});
        }
        return std::all_of(rows.begin(), rows.end(), [&](const Row& r) {
            // (The last cycles before the end may go out at the next start.)
            return r.timeMs <= subscribed + 500 || r.timeMs > ended - 2000 || got.count({r.channel, r.timeMs}) > 0;
        });
    };
    EXPECT_TRUE(received.waitFor(all, 10000));
}
