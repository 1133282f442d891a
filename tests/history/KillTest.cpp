// A recorder killed at random moments (SIGKILL, 50 times, each run going on with the same file)
// leaves a database that passes its integrity check, holds whole cycles only, and has every
// cycle whose commit was reported before the kill, but for one at most.

#include "HistoryFiles.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <random>

using namespace history_test;

TEST(RecorderKillTest, EveryKillLeavesAWholeDatabaseWithTheCommittedCycles)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("history.sqlite"));
    std::mt19937 random(4711);
    std::uniform_int_distribution<int> pause(20, 400);
    qint64 totalCommitted = 0;
    for (int run = 1; run <= 50; ++run) {
        const qint64 first = qint64(run) * 1'000'000;
        QProcess loop;
        loop.start(QStringLiteral(ZENTLOG_RECORD_LOOP), {dir.path(), QString::number(first)});
        ASSERT_TRUE(loop.waitForStarted(10000));
        // Wait for its first commit, then let it run a random while longer.
        ASSERT_TRUE(loop.waitForReadyRead(20000)) << "run " << run;
        QThread::msleep(static_cast<unsigned long>(pause(random)));
        loop.kill();
        ASSERT_TRUE(loop.waitForFinished(10000));
        const QList<QByteArray> lines = loop.readAllStandardOutput().trimmed().split('\n');
        const qint64 last = lines.back().toLongLong();
        ASSERT_GE(last, first) << "run " << run;
        const qint64 committed = last - first + 1;
        totalCommitted += committed;

        SCOPED_TRACE(QStringLiteral("run %1, %2 cycles reported").arg(run).arg(committed).toStdString());
        ASSERT_EQ(queryValue(path, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
        // Whole cycles only.
        EXPECT_EQ(queryValue(path, QStringLiteral("SELECT count(*) FROM (SELECT time_ms / 10 AS c, count(*) AS n "
                                                  "FROM readings GROUP BY c HAVING n != 4)"))
                      .toInt(),
                  0);
        const qint64 kept = queryValue(path, QStringLiteral("SELECT count(DISTINCT time_ms / 10) FROM readings WHERE "
                                                            "time_ms >= %1 AND time_ms < %2")
                                                 .arg(first * 10)
                                                 .arg((last + 1) * 10))
                                .toLongLong();
        EXPECT_GE(kept, committed - 1);
        EXPECT_LE(kept, committed);
    }
    // The helper really ran: many cycles between the kills.
    EXPECT_GT(totalCommitted, 500);
    RecordProperty("cycles", static_cast<int>(totalCommitted));
}
