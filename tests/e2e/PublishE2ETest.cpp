// The real program publishes what it measures on zentlog-sim's line to a real mosquitto. After the
// broker has been down for thirty seconds (with the program killed and started again meanwhile, in
// the second case), every reading recorded during the outage arrives exactly once, in order,
// marked as backfill, with the panels' texts, and the live readings go on.

#include "MqttBroker.h"
#include "MqttSubscriber.h"
#include "SimProcess.h"
#include "TestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

using testing_support::MqttBroker;
using testing_support::MqttSubscriber;
using testing_support::SimProcess;

namespace {

struct Published {
    int channel = 0; // 0..3
    qint64 timeMs = 0;
    bool backfill = false;
    bool ok = false;
    QString text;
};

std::vector<Published> readingsIn(const MqttSubscriber::Messages& messages)
{
    std::vector<Published> found;
    for (const auto& m : messages) {
        if (!m.topic.endsWith(QLatin1String("/reading")))
            continue;
        const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
        found.push_back({o.value(QStringLiteral("channel")).toInt(), qint64(o.value(QStringLiteral("time_ms")).toDouble()),
                         o.value(QStringLiteral("backfill")).toBool(), o.value(QStringLiteral("ok")).toBool(),
                         o.value(QStringLiteral("text")).toString()});
    }
    return found;
}

struct Recorded {
    qint64 id = 0;
    int channel = 0; // 0..3
    qint64 timeMs = 0;
    bool ok = false;
    QString text;
};

std::vector<Recorded> recordedIn(const QString& path)
{
    std::vector<Recorded> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e-publish"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("SELECT id, channel, time_ms, ok, text FROM readings ORDER BY id"));
            while (q.next())
                rows.push_back({q.value(0).toLongLong(), q.value(1).toInt(), q.value(2).toLongLong(),
                                q.value(3).toBool(), q.value(4).toString()});
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("e2e-publish"));
    return rows;
}

using Key = std::pair<int, qint64>; // channel 0..3, time

class PublishE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim = std::make_unique<SimProcess>(QStringList{QStringLiteral("1 0 ph"), QStringLiteral("2 0 orp")});
        ASSERT_TRUE(broker.start()) << broker.log().toStdString();
        testing_support::writeFile(QDir(dir.path()).filePath(QStringLiteral("zentlog.ini")),
                                   // Every cycle written at once: backfill is what reached the file late.
                                   QStringLiteral("[history]\nwrite_interval_seconds=0\n"
                                                  "[mqtt]\nenabled=true\nhost=127.0.0.1\nport=%1\nsite=e2e\n")
                                       .arg(broker.port())
                                       .toUtf8());
        // A session the broker keeps across its restart: what is published before this
        // subscriber is back still reaches it.
        subscriber = std::make_unique<MqttSubscriber>(broker.port(), QStringLiteral("zentlog/e2e/#"), QString(),
                                                      QString(), QStringLiteral("e2e-watcher"));
        ASSERT_TRUE(subscriber->waitUntilSubscribed(10000));
    }
    void TearDown() override
    {
        if (program && program->state() != QProcess::NotRunning) {
            program->kill();
            program->waitForFinished(10000);
        }
    }

    void startProgram()
    {
        program = std::make_unique<QProcess>();
        program->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program->start(QStringLiteral(ZENTLOG_PUBLISHING_PROGRAM), {dir.path(), sim->linkPath()});
        ASSERT_TRUE(program->waitForStarted(10000));
    }
    // Ends the program as a user does, and reads what it recorded.
    std::vector<Recorded> stopProgram()
    {
        program->closeWriteChannel();
        EXPECT_TRUE(program->waitForFinished(30000));
        EXPECT_EQ(program->exitCode(), 0);
        return recordedIn(dbPath());
    }
    QString dbPath() const { return QDir(dir.path()).filePath(QStringLiteral("history.sqlite")); }

    // Down for thirty seconds; `kill`: the program is killed half-way and started again.
    void outage(bool kill)
    {
        startProgram();
        ASSERT_TRUE(subscriber->waitFor([](const auto& m) { return readingsIn(m).size() >= 6; }, 60000))
            << "no live readings";
        broker.stop();
        down = QDateTime::currentMSecsSinceEpoch();
        QThread::msleep(15000);
        if (kill) {
            program->kill();
            ASSERT_TRUE(program->waitForFinished(10000));
            startProgram();
        }
        QThread::msleep(15000);
        up = QDateTime::currentMSecsSinceEpoch();
        ASSERT_TRUE(broker.start()) << broker.log().toStdString();
        // Until what the program recorded during the outage came, and a live reading after it.
        std::vector<Recorded> rows;
        qint64 lastRead = 0;
        const bool complete = subscriber->waitFor(
            [&](const auto& messages) {
                if (QDateTime::currentMSecsSinceEpoch() - lastRead > 1000) {
                    rows = recordedIn(dbPath());
                    lastRead = QDateTime::currentMSecsSinceEpoch();
                }
                std::map<Key, int> got;
                bool liveAfter = false;
                for (const Published& p : readingsIn(messages)) {
                    ++got[{p.channel, p.timeMs}];
                    liveAfter = liveAfter || (!p.backfill && p.timeMs > up + 2000);
                }
                for (const Recorded& r : rows)
                    if (r.timeMs > down && r.timeMs < up && !got.count({r.channel, r.timeMs}))
                        return false;
                return liveAfter;
            },
            90000);
        EXPECT_TRUE(complete) << "the backlog did not arrive";
        check(stopProgram());
    }

    void check(const std::vector<Recorded>& rows)
    {
        const std::vector<Published> published = readingsIn(subscriber->messages());
        ASSERT_FALSE(published.empty());
        std::map<Key, std::vector<Published>> byKey;
        for (const Published& p : published)
            byKey[{p.channel, p.timeMs}].push_back(p);
        std::map<Key, qint64> idOf;
        for (const Recorded& r : rows)
            idOf[{r.channel, r.timeMs}] = r.id;

        int duringOutage = 0;
        const qint64 firstPublished = published.front().timeMs;
        const qint64 lastChecked = rows.empty() ? 0 : rows.back().timeMs - 3000;
        for (const Recorded& r : rows) {
            const auto it = byKey.find({r.channel, r.timeMs});
            if (r.timeMs > down && r.timeMs < up) {
                ++duringOutage;
                ASSERT_NE(it, byKey.end()) << "lost: channel " << r.channel << " at " << r.timeMs;
                EXPECT_EQ(it->second.size(), 1u) << "channel " << r.channel << " at " << r.timeMs;
                EXPECT_TRUE(it->second.front().backfill);
            } else if (r.timeMs >= firstPublished && r.timeMs < lastChecked) {
                EXPECT_NE(it, byKey.end()) << "lost: channel " << r.channel << " at " << r.timeMs;
            }
            // As the panel showed it.
            if (it != byKey.end()) {
                EXPECT_EQ(it->second.front().text, r.text);
                EXPECT_EQ(it->second.front().ok, r.ok);
            }
        }
        // Two channels a second for thirty seconds, less the restart of a killed program.
        EXPECT_GE(duringOutage, 40);
        // The backlog in the order it was recorded; the live readings after it.
        qint64 lastId = 0;
        bool liveAfterOutage = false;
        for (const Published& p : published) {
            if (p.backfill) {
                const qint64 id = idOf[{p.channel, p.timeMs}];
                EXPECT_GT(id, lastId) << "backfill out of order at " << p.timeMs;
                lastId = id;
            } else {
                liveAfterOutage = liveAfterOutage || p.timeMs > up;
            }
        }
        EXPECT_TRUE(liveAfterOutage);
        const auto status = subscriber->messagesOn(QStringLiteral("zentlog/e2e/status"));
        ASSERT_FALSE(status.empty());
    }

    QTemporaryDir dir;
    std::unique_ptr<SimProcess> sim;
    MqttBroker broker{MqttBroker::Options{{}, {}, true}};
    std::unique_ptr<MqttSubscriber> subscriber;
    std::unique_ptr<QProcess> program;
    qint64 down = 0;
    qint64 up = 0;
};

} // namespace

TEST_F(PublishE2E, EveryReadingOfABrokerOutageArrivesOnceInOrderAsBackfill)
{
    outage(false);
}

TEST_F(PublishE2E, AProgramKilledDuringTheOutageSendsTheBacklogOfBothRunsOnce)
{
    outage(true);
}
