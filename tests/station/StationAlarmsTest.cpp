// zentlog-station on zentlog-sim raising, clearing and acknowledging alarms, running the
// operator's command, and keeping both the states and the queued command runs across SIGKILL.

#include "SimProcess.h"
#include "StationRun.h"

#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

struct AlarmRow {
    qint64 id = 0;
    int input = 0;
    QString kind;
    qint64 raisedMs = 0;
    bool acknowledged = false;
    bool cleared = false;
};

std::vector<AlarmRow> alarmRows(const QString& history)
{
    std::vector<AlarmRow> rows;
    withHistory(history, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        q.exec(QStringLiteral("SELECT id, input, kind, raised_ms, acknowledged_ms IS NOT NULL, cleared_ms IS NOT NULL"
                              " FROM alarms ORDER BY id"));
        while (q.next())
            rows.push_back({q.value(0).toLongLong(), q.value(1).toInt(), q.value(2).toString(), q.value(3).toLongLong(),
                            q.value(4).toBool(), q.value(5).toBool()});
    });
    return rows;
}

// The first reading of input 0 above `limit` at or after `fromMs`.
qint64 firstAbove(const QString& history, double limit, qint64 fromMs)
{
    qint64 at = -1;
    withHistory(history, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        q.exec(QStringLiteral("SELECT min(time_ms) FROM readings WHERE channel = 0 AND ok = 1 AND value > %1 AND time_ms >= %2")
                   .arg(limit)
                   .arg(fromMs));
        if (q.next() && !q.value(0).isNull())
            at = q.value(0).toLongLong();
    });
    return at;
}

bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        pause(100);
    }
    return true;
}

QString fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

TEST(StationAlarms, RaisedAfterTheDelayClearedPastTheDeadbandAcknowledgedOnTheFeedAndKeptAcrossAKill)
{
    SimProcess sim({QStringLiteral("1 0 ph fixed value=700"), QStringLiteral("2 0 orp fixed")});
    QTemporaryDir dir;
    writeStationFiles(dir.path());
    const QString history = dir.filePath(QStringLiteral("history.sqlite"));
    const QString runs = dir.filePath(QStringLiteral("runs.txt"));
    const QString hang = dir.filePath(QStringLiteral("hang"));
    const QString script = dir.filePath(QStringLiteral("notify.sh"));
    // Each run appends its arguments and one variable; it hangs while the file "hang" exists.
    writeFile(script, "#!/bin/sh\n[ -e \"" + hang.toUtf8() + "\" ] && { sleep 30; exit 1; }\n"
                      "echo \"$* id=$ZENTLOG_ALARM_ID\" >> \"" + runs.toUtf8() + "\"\necho sent\n");
    QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString ini = dir.filePath(QStringLiteral("zentlog.ini"));
    writeFile(ini, "[history]\nwrite_interval_seconds=0\n[alarms]\ncommand=" + script.toUtf8() + "\n[alarms-input0]\nhigh=7.5\ndeadband=0.2\ndelay_s=2\n"
                   "[alarms-input1]\nfailing_s=3\n");
    QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    auto station = std::make_unique<Station>(dir.path(), sim.linkPath());
    ASSERT_TRUE(station->waitForLog(QStringLiteral("Live feed on"), 1, 10000)) << station->log().toStdString();
    QLocalSocket feed;
    feed.connectToServer(dir.filePath(QStringLiteral("zentlog-station.sock")));
    ASSERT_TRUE(feed.waitForConnected(5000));

    // Above the limit: raised only once it stayed above for delay_s.
    const qint64 movedMs = nowMs();
    sim.reconfigure({QStringLiteral("1 0 ph fixed value=800"), QStringLiteral("2 0 orp fixed")});
    ASSERT_TRUE(station->waitForLog(QStringLiteral("Alarm \\d+ \\(input 0, high\\) raised"), 1, 15000))
        << station->log().toStdString();
    const std::vector<AlarmRow> raised = alarmRows(history);
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_GE(raised[0].raisedMs - firstAbove(history, 7.5, movedMs), 2000);

    // Back inside, but within the deadband: still active; past it: cleared.
    sim.reconfigure({QStringLiteral("1 0 ph fixed value=740"), QStringLiteral("2 0 orp fixed")});
    pause(3000);
    EXPECT_FALSE(alarmRows(history).at(0).cleared);
    sim.reconfigure({QStringLiteral("1 0 ph fixed value=720"), QStringLiteral("2 0 orp fixed")});
    ASSERT_TRUE(station->waitForLog(QStringLiteral("\\(input 0, high\\) cleared"), 1, 10000));

    // Acknowledged from the feed: cleared and acknowledged is over.
    feed.write(QStringLiteral("{\"command\":\"acknowledge\",\"id\":%1}\n").arg(raised[0].id).toUtf8());
    feed.waitForBytesWritten(2000);
    ASSERT_TRUE(station->waitForLog(QStringLiteral("\\(input 0, high\\) acknowledged"), 1, 5000))
        << station->log().toStdString();
    ASSERT_TRUE(waitFor(
        [&] {
            feed.waitForReadyRead(100);
            return feed.peek(1 << 20).contains("\"event\":\"acknowledged\"");
        },
        5000));
    EXPECT_TRUE(feed.peek(1 << 20).contains("\"kind\":\"alarms\""));
    EXPECT_TRUE(waitFor([&] { return fileText(runs).count(u'\n') >= 3; }, 10000)) << fileText(runs).toStdString();
    EXPECT_TRUE(fileText(runs).contains(QStringLiteral("raised 0 basin pH high 8 7.5 "))) << fileText(runs).toStdString();

    // A silent station: "failing" after failing_s. Its command hangs; the next events queue up.
    writeFile(hang, "");
    sim.reconfigure({QStringLiteral("1 0 ph fixed value=720"), QStringLiteral("2 0 orp silent")});
    ASSERT_TRUE(station->waitForLog(QStringLiteral("\\(input 1, failing\\) raised"), 1, 15000));
    const std::size_t before = readRows(history).size();
    sim.reconfigure({QStringLiteral("1 0 ph fixed value=800"), QStringLiteral("2 0 orp silent")});
    ASSERT_TRUE(station->waitForLog(QStringLiteral("\\(input 0, high\\) raised"), 2, 15000));
    // The hanging command holds up no cycle (each takes some 3 s with a silent station).
    EXPECT_GE(readRows(history).size(), before + 2);
    station->kill();

    // Started again: the states go on. Each run is made once, or told as interrupted by the kill,
    // never both and never twice; one that waited in the queue is made now.
    QFile::remove(hang);
    station = std::make_unique<Station>(dir.path(), sim.linkPath());
    ASSERT_TRUE(station->waitForLog(QStringLiteral("Live feed on"), 1, 10000)) << station->log().toStdString();
    pause(4000);
    const QString made = fileText(runs);
    const QString log = station->log();
    const qint64 failingId = alarmRows(history).at(1).id;
    const qint64 highId = alarmRows(history).at(2).id;
    EXPECT_EQ(made.count(QStringLiteral("id=%1\n").arg(failingId)), 0) << made.toStdString();
    EXPECT_EQ(made.count(QStringLiteral("id=%1\n").arg(highId))
                  + log.count(QStringLiteral("alarm %1 (raised) was running").arg(highId)),
              1)
        << made.toStdString() << log.toStdString();
    // No alarm raised twice: one failing and two high rows, the first high over, the others active.
    const std::vector<AlarmRow> rows = alarmRows(history);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_TRUE(rows[0].acknowledged && rows[0].cleared);
    EXPECT_EQ(rows[1].kind, QStringLiteral("failing"));
    EXPECT_FALSE(rows[1].cleared || rows[2].cleared);
    EXPECT_EQ(station->terminate(), 0);
}
