// The conversion of a file of an earlier layout killed (SIGKILL) at random moments, twenty times:
// every time the file opens, passes integrity_check and holds all its readings, in the earlier
// layout or the compact one; the next run carries on until the file is converted.

#include "HistoryFiles.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using history_test::queryValue;

namespace {

// 300,000 readings of four inputs in the layout before the compact one.
constexpr char kLayout5[] =
    "PRAGMA journal_mode = WAL;"
    "CREATE TABLE readings (id INTEGER PRIMARY KEY, time_ms INTEGER NOT NULL, channel INTEGER NOT NULL, tag TEXT NOT NULL,"
    " type TEXT NOT NULL, ok INTEGER NOT NULL, value REAL, unit TEXT, temperature REAL, value2 REAL, unit2 TEXT,"
    " total_day REAL, total REAL, text TEXT NOT NULL, outcome TEXT);"
    "WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i < 299999)"
    " INSERT INTO readings (time_ms, channel, tag, type, ok, value, unit, temperature, text, outcome)"
    " SELECT 1796000000000 + i * 250, i % 4, 'T', 'pH', 1, (i % 1400) / 100.0, 'pH', 18.5,"
    " printf('%.2f pH     18.5  °C', (i % 1400) / 100.0), 'value' FROM s;"
    "CREATE INDEX readings_channel_time ON readings (channel, time_ms);"
    "PRAGMA user_version = 5;";

const QString kSummary = QStringLiteral("SELECT count(*) || ' ' || sum(id) || ' ' || total(value) || ' ' || sum(length(text))"
                                        " FROM readings");

TEST(ConversionKill, AKilledConversionLeavesTheOldOrTheNewLayoutWithEveryReading)
{
    QTemporaryDir dir;
    const QString original = dir.filePath(QStringLiteral("original.sqlite"));
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {original, QString::fromUtf8(kLayout5)});
    ASSERT_TRUE(shell.waitForFinished(120000));
    ASSERT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
    const QString summary = queryValue(original, kSummary).toString();
    ASSERT_TRUE(QFile::copy(original, path));

    int killedMidway = 0;
    for (int run = 0; run < 20; ++run) {
        QProcess convert;
        convert.start(QStringLiteral(ZENTLOG_HISTORY), {QStringLiteral("convert"), path});
        ASSERT_TRUE(convert.waitForStarted());
        QThread::msleep(QRandomGenerator::global()->bounded(3000));
        const bool ended = convert.state() == QProcess::NotRunning;
        if (!ended)
            ::kill(static_cast<pid_t>(convert.processId()), SIGKILL);
        ASSERT_TRUE(convert.waitForFinished(120000));
        SCOPED_TRACE(run);
        EXPECT_EQ(queryValue(path, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
        EXPECT_EQ(queryValue(path, kSummary).toString(), summary);
        const QString layout = queryValue(path, QStringLiteral("SELECT type FROM sqlite_master WHERE name = 'readings'")).toString();
        EXPECT_EQ(layout, queryValue(path, QStringLiteral("PRAGMA user_version")).toInt() == 6 ? QStringLiteral("view")
                                                                                            : QStringLiteral("table"));
        killedMidway += !ended && layout == QLatin1String("table");
        // A converted file makes way for the original again, so that every run converts.
        if (layout == QLatin1String("view")) {
            for (const char* suffix : {"", "-wal", "-shm"})
                QFile::remove(path + QLatin1String(suffix));
            ASSERT_TRUE(QFile::copy(original, path));
        }
    }
    EXPECT_GT(killedMidway, 0);
}

} // namespace
