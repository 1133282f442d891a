// zentlog-station publishing to a real mosquitto, killed (SIGKILL) and started again:
// - Sparkplug B: every run's NBIRTH carries the next bdSeq, and the NDEATH the broker sends for a
//   killed run carries that run's own, so that a host never takes an old run's death for the
//   current one's;
// - JSON: an alarm event recorded while the broker is down arrives once, as backfill, from the
//   history, and one the broker had is not sent again.

#include "MqttBroker.h"
#include "MqttSubscriber.h"
#include "SimProcess.h"
#include "StationRun.h"

#include "publish/sparkplug_b.pb.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// The bdSeq of each NBIRTH or NDEATH of the node, in order.
std::vector<std::uint64_t> bdSeqs(const MqttSubscriber::Messages& messages, const char* type)
{
    std::vector<std::uint64_t> found;
    for (const auto& m : messages) {
        org::eclipse::tahu::protobuf::Payload payload;
        if (m.topic.section(u'/', 2, 2) != QLatin1String(type)
            || !payload.ParseFromArray(m.payload.constData(), int(m.payload.size())))
            continue;
        for (const auto& metric : payload.metrics())
            if (metric.name() == "bdSeq")
                found.push_back(metric.long_value());
    }
    return found;
}

} // namespace

TEST(StationPublish, EveryRunAfterAKillTakesTheNextBdSeqAndItsDeathCarriesItsOwn)
{
    MqttBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    SimProcess sim(twoStations());
    QTemporaryDir dir;
    writeStationFiles(dir.path());
    writeFile(dir.filePath(QStringLiteral("zentlog.ini")),
              QStringLiteral("[mqtt]\nenabled=true\nhost=127.0.0.1\nport=%1\nsite=sp\nformat=sparkplug\n")
                  .arg(broker.port())
                  .toUtf8());
    MqttSubscriber watcher(broker.port(), QStringLiteral("spBv1.0/zentlog/+/sp"));
    ASSERT_TRUE(watcher.waitUntilSubscribed(10000));

    for (std::size_t run = 1; run <= 3; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        Station station(dir.path(), sim.linkPath());
        ASSERT_TRUE(watcher.waitFor([&](const auto& m) { return bdSeqs(m, "NBIRTH").size() == run; }, 15000))
            << station.log().toStdString();
        station.kill();
        // The socket closes without a DISCONNECT: the broker sends the will at once.
        ASSERT_TRUE(watcher.waitFor([&](const auto& m) { return bdSeqs(m, "NDEATH").size() == run; }, 15000));
    }
    EXPECT_EQ(bdSeqs(watcher.messages(), "NBIRTH"), (std::vector<std::uint64_t>{0, 1, 2}));
    EXPECT_EQ(bdSeqs(watcher.messages(), "NDEATH"), (std::vector<std::uint64_t>{0, 1, 2}));
}

// The first event is raised by the first cycle, before the publisher's thread has read the
// history: it still belongs to the broker.
TEST(StationPublish, AnAlarmEventOfABrokerOutageArrivesOnceFromTheHistoryAfterAKill)
{
    MqttBroker broker{MqttBroker::Options{{}, {}, true}};
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    SimProcess sim(twoStations());
    QTemporaryDir dir;
    writeStationFiles(dir.path());
    // The simulated pH (about 7) is above 1 at once; 100 clears it.
    const auto settings = [&](int high) {
        replaceFile(dir.filePath(QStringLiteral("zentlog.ini")),
                    QStringLiteral("[mqtt]\nenabled=true\nhost=127.0.0.1\nport=%1\nsite=al\n[alarms-input0]\nhigh=%2\n")
                        .arg(broker.port())
                        .arg(high)
                        .toUtf8());
    };
    settings(1);
    MqttSubscriber watcher(broker.port(), QStringLiteral("zentlog/al/0/alarm"), {}, {}, QStringLiteral("al-watch"));
    ASSERT_TRUE(watcher.waitUntilSubscribed(10000));
    const auto events = [](const MqttSubscriber::Messages& messages) {
        QStringList found;
        for (const auto& m : messages) {
            const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
            found << o.value(QStringLiteral("event")).toString() + (o.value(QStringLiteral("backfill")).toBool() ? "*" : "");
        }
        return found;
    };
    const auto cleared = [&] {
        int count = 0;
        withHistory(dir.filePath(QStringLiteral("history.sqlite")), [&](QSqlDatabase& db) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("SELECT COUNT(*) FROM alarm_events WHERE event = 'cleared'")) && q.next())
                count = q.value(0).toInt();
        });
        return count > 0;
    };
    {
        Station station(dir.path(), sim.linkPath());
        ASSERT_TRUE(watcher.waitFor([&](const auto& m) { return !events(m).isEmpty(); }, 20000)) << station.log().toStdString();
        pause(1000); // its acknowledgement reaches the station and is kept
        broker.stop();
        settings(100);
        pause(3000);
        station.kill();
    }
    // Cleared by the killed run or by the next one, while the broker is down.
    Station again(dir.path(), sim.linkPath());
    for (int waited = 0; !cleared() && waited < 20000; waited += 250)
        pause(250);
    ASSERT_TRUE(cleared()) << again.log().toStdString();
    ASSERT_TRUE(broker.start());
    EXPECT_TRUE(watcher.waitFor([&](const auto& m) { return events(m).size() >= 2; }, 20000)) << again.log().toStdString();
    pause(2000);
    // The first event is live, or backfill when it was recorded before the broker was reached.
    QStringList got = events(watcher.messages());
    if (!got.isEmpty() && got.front() == QStringLiteral("raised*"))
        got.front() = QStringLiteral("raised");
    EXPECT_EQ(got, (QStringList{QStringLiteral("raised"), QStringLiteral("cleared*")}));
}
