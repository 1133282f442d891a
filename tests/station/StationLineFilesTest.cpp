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
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <set>

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
                  QStringLiteral("[history]\nwrite_interval_seconds=0\n"
                                 "[mqtt]\nenabled=true\nhost=127.0.0.1\nport=%1\nsite=line\nqos=1\nformat=json\n")
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

TEST_F(StationLineAndFiles, AHistoryRemovedReplacedOrTruncatedWhileMeasuringLosesNoReading)
{
    MqttSubscriber received(broker.port(), QStringLiteral("zentlog/line/+/reading"));
    ASSERT_TRUE(received.waitUntilSubscribed(10000));
    const qint64 subscribed = nowMs();
    const QString history = dir.filePath(QStringLiteral("history.sqlite"));
    const QString said = QStringLiteral("history \"[^\"]+\" was (removed|replaced|truncated|damaged)");
    const auto event = [&](const char* what, const std::function<void()>& act) {
        SCOPED_TRACE(what);
        pause(2500);
        act();
        const qint64 at = nowMs();
        const int before = matches(station->log(), said);
        EXPECT_TRUE(station->waitForLog(said, before + 1, 5000)) << log();
        std::cout << what << ": noticed " << nowMs() - at << " ms after\n";
    };
    // The broker stops answering first: what the station records meanwhile is not acknowledged.
    broker.pause();
    event("removed", [&] {
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(history + QLatin1String(suffix));
    });
    pause(1500);
    broker.resume();
    event("replaced", [&] {
        QByteArray noise(20000, '\0');
        for (char& c : noise)
            c = char(QRandomGenerator::global()->bounded(256));
        replaceFile(history, noise);
    });
    event("truncated", [&] { QFile::resize(history, 0); });
    pause(2500);
    const qint64 ended = nowMs();
    EXPECT_EQ(station->terminate(), 0) << log();
    EXPECT_EQ(matches(station->log(), said), 3) << log();
    EXPECT_EQ(integrityOf(history), QStringLiteral("ok"));

    std::set<std::pair<int, qint64>> kept;
    for (const QString& name : QDir(dir.path()).entryList({QStringLiteral("history.sqlite*")}, QDir::Files)) {
        const std::vector<Row> rows = readRows(dir.filePath(name));
        if (name.contains(QLatin1String(".rescued-")))
            std::cout << rows.size() << " readings rescued into " << name.toStdString() << "\n";
        for (const Row& r : rows)
            kept.insert({r.channel, r.timeMs});
    }
    // And each of them reached the broker, the unacknowledged ones of the removed file included.
    std::set<std::pair<int, qint64>> got;
    const auto allArrived = [&](const MqttSubscriber::Messages& messages) {
        for (const auto& m : messages) {
            const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
            got.insert({o.value(QStringLiteral("channel")).toInt(), qint64(o.value(QStringLiteral("time_ms")).toDouble())});
        }
        // (The last cycles before the end go out at the next start.)
        return std::all_of(kept.begin(), kept.end(), [&](const auto& k) {
            return k.second <= subscribed + 500 || k.second > ended - 2000 || got.count(k) > 0;
        });
    };
    EXPECT_TRUE(received.waitFor(allArrived, 10000));
    // Every reading the station made is in one of the files or at the broker (what the truncated
    // file held before it was cut went out live): no input has a gap of more than a cycle or two.
    kept.insert(got.begin(), got.end());
    for (int input : {0, 1}) {
        qint64 last = subscribed;
        for (const auto& [channel, timeMs] : kept) {
            if (channel != input || timeMs <= subscribed || timeMs > ended - 2000)
                continue;
            EXPECT_LT(timeMs - last, 2500) << "input " << input << " at " << timeMs;
            last = timeMs;
        }
    }
}
