// The recorder on real SQLite files: what a cycle writes, the settings, the retention, and the
// faults (a write lock held by a sqlite3 shell, a read-only and a full file system, damaged
// files), each of which gives one message and loses no reading.

#include "history/HistorySchema.h"
#include "history/HistorySettings.h"
#include "history/Recorder.h"

#include "HistoryFiles.h"
#include "TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using history::Recorder;
using namespace history_test;

namespace {

class RecorderTest : public ::testing::Test {
protected:
    std::unique_ptr<Recorder> makeRecorder(const QString& directory)
    {
        Recorder::Options options;
        options.directory = directory;
        options.retryIntervalMs = 0; // every cycle tries again
        options.report = [this](const QString& text) { messages << text; };
        return std::make_unique<Recorder>(std::move(options));
    }
    QString dbPath(const QString& directory) const { return QDir(directory).filePath(QStringLiteral("history.sqlite")); }

    QTemporaryDir dir;
    QStringList messages;
};

TEST_F(RecorderTest, EveryVisitIsARowAndOutOfOrderHasNoNumbers)
{
    auto recorder = makeRecorder(dir.path());
    for (int cycle = 1; cycle <= 3; ++cycle)
        EXPECT_TRUE(recorder->recordCycle(cycleReadings(cycle)));
    const QString path = dbPath(dir.path());
    EXPECT_EQ(rowCount(path), 12);
    EXPECT_EQ(queryValue(path, QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
    EXPECT_EQ(queryValue(path, QStringLiteral("PRAGMA user_version")).toInt(), history::kSchemaVersion);
    EXPECT_EQ(queryValue(path, QStringLiteral("SELECT count(*) FROM readings WHERE ok = 0 AND value IS NULL AND "
                                              "unit IS NULL AND temperature IS NULL AND text = 'Out of order'"))
                  .toInt(),
              3);
    EXPECT_EQ(queryValue(path, QStringLiteral("SELECT value || ' ' || unit || ' ' || temperature || ' ' || tag "
                                              "FROM readings WHERE channel = 1 ORDER BY id DESC"))
                  .toString(),
              QStringLiteral("3.0 pH 20.5 cycle 3"));
    EXPECT_EQ(queryValue(path, QStringLiteral("SELECT count(*) FROM readings WHERE value2 IS NULL AND total IS NULL"))
                  .toInt(),
              12);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(RecorderTest, TwoRecordersOfOneProcessUseTheirOwnConnections)
{
    QTemporaryDir other;
    auto first = makeRecorder(dir.path());
    auto second = makeRecorder(other.path());
    EXPECT_TRUE(first->recordCycle(cycleReadings(1)));
    EXPECT_TRUE(second->recordCycle(cycleReadings(2, 2)));
    first.reset();
    EXPECT_TRUE(second->recordCycle(cycleReadings(3, 2)));
    EXPECT_EQ(rowCount(dbPath(dir.path())), 4);
    EXPECT_EQ(rowCount(dbPath(other.path())), 4);
}

TEST_F(RecorderTest, SettingsDefaultWithoutAFileAndReadingDoesNotCreateIt)
{
    const history::HistorySettings defaults = history::HistorySettings::load(dir.path());
    EXPECT_TRUE(defaults.enabled);
    EXPECT_EQ(defaults.retentionDays, 400);
    EXPECT_TRUE(defaults.problem.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("zentlog.ini"))));

    testing_support::writeFile(dir.filePath(QStringLiteral("zentlog.ini")),
                               "[history]\r\nenabled=false\r\nretention_days=30\r\n");
    const history::HistorySettings off = history::HistorySettings::load(dir.path());
    EXPECT_FALSE(off.enabled);
    EXPECT_EQ(off.retentionDays, 30);
    EXPECT_TRUE(off.problem.isEmpty());

    testing_support::writeFile(dir.filePath(QStringLiteral("zentlog.ini")),
                               "[history]\nenabled=perhaps\nretention_days=-5\n");
    const history::HistorySettings bad = history::HistorySettings::load(dir.path());
    EXPECT_TRUE(bad.enabled);
    EXPECT_EQ(bad.retentionDays, 400);
    EXPECT_TRUE(bad.problem.contains(QStringLiteral("zentlog.ini")));
    EXPECT_TRUE(bad.problem.contains(QStringLiteral("retention_days=-5")));
    EXPECT_TRUE(bad.problem.contains(QStringLiteral("enabled=perhaps")));
}

TEST_F(RecorderTest, RetentionDeletesOldRowsInBatchesOncePerInterval)
{
    qint64 now = 1'800'000'000'000;
    Recorder::Options options;
    options.directory = dir.path();
    options.retentionDays = 10;
    options.purgeBatch = 500;
    options.clock = [&now] { return now; };
    Recorder recorder(options);
    const qint64 day = 24 * 3600 * 1000LL;
    // 1200 readings eleven days old, then the purge starts with the next cycle.
    std::vector<measure::Reading> old;
    for (int i = 0; i < 300; ++i)
        for (measure::Reading& r : cycleReadings(i, 4, now - 11 * day + i * 1000))
            old.push_back(std::move(r));
    // The first cycle purges too (nothing old yet): the next purge is an hour later.
    ASSERT_TRUE(recorder.recordCycle({}));
    ASSERT_TRUE(recorder.recordCycle(std::move(old)));
    const QString path = dbPath(dir.path());
    ASSERT_EQ(rowCount(path), 1200);
    now += 3600 * 1000;
    const std::vector<qint64> expected{4 + 700, 8 + 200, 12, 16};
    for (std::size_t k = 0; k < expected.size(); ++k) {
        ASSERT_TRUE(recorder.recordCycle(cycleReadings(1000 + qint64(k), 4, now)));
        EXPECT_EQ(rowCount(path), expected[k]) << "cycle " << k;
    }
    // Recent rows stay; nothing more is deleted before the next hour.
    EXPECT_EQ(queryValue(path, QStringLiteral("SELECT min(time_ms) FROM readings")).toLongLong(), now);
}

TEST_F(RecorderTest, RetentionKeepsAReadingJustInsideAndDeletesOneJustOutside)
{
    const qint64 now = 1'800'000'000'000;
    const qint64 day = 24 * 3600 * 1000LL;
    for (const int days : {10, 400}) {
        SCOPED_TRACE(days);
        QTemporaryDir folder;
        Recorder::Options options;
        options.directory = folder.path();
        options.retentionDays = days;
        options.clock = [now] { return now; };
        Recorder recorder(options);
        std::vector<measure::Reading> readings = cycleReadings(1, 1, now - days * day + 60'000);
        for (measure::Reading& r : cycleReadings(2, 1, now - days * day - 60'000))
            readings.push_back(std::move(r));
        ASSERT_TRUE(recorder.recordCycle(std::move(readings)));
        const QString path = dbPath(folder.path());
        EXPECT_EQ(queryValue(path, QStringLiteral("SELECT group_concat(tag) FROM readings")).toString(),
                  QStringLiteral("cycle 1"));
    }
}

TEST_F(RecorderTest, ALockedDatabaseKeepsTheReadingsAndNeverHoldsACycle)
{
    auto recorder = makeRecorder(dir.path());
    ASSERT_TRUE(recorder->recordCycle(cycleReadings(0)));
    LockHolder viewer(dbPath(dir.path()));
    ASSERT_TRUE(viewer.holding());
    for (int cycle = 1; cycle <= 5; ++cycle) {
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(recorder->recordCycle(cycleReadings(cycle)));
        // The busy timeout is 200 ms; a cycle is a second long.
        EXPECT_LT(clock.elapsed(), 700);
    }
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(dbPath(dir.path()))) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("locked"))) << messages[0].toStdString();
    EXPECT_EQ(recorder->pendingCount(), 20u);
    viewer.release();
    EXPECT_TRUE(recorder->recordCycle(cycleReadings(6)));
    EXPECT_EQ(rowCount(dbPath(dir.path())), 28);
    EXPECT_EQ(recorder->pendingCount(), 0u);
    EXPECT_EQ(messages.size(), 1);
}

TEST_F(RecorderTest, AReadOnlyFolderKeepsTheNewestReadingsWithinTheBound)
{
    TmpFs disk("1m");
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    ASSERT_TRUE(disk.setReadOnly(true));
    Recorder::Options options;
    options.directory = disk.path();
    options.retryIntervalMs = 0;
    options.maxPending = 40;
    options.report = [this](const QString& text) { messages << text; };
    Recorder recorder(options);
    for (int cycle = 1; cycle <= 15; ++cycle)
        EXPECT_FALSE(recorder.recordCycle(cycleReadings(cycle)));
    ASSERT_EQ(messages.size(), 2) << messages.join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(messages[0].contains(dbPath(disk.path())));
    EXPECT_TRUE(messages[0].contains(QStringLiteral("is read-only"))) << messages[0].toStdString();
    EXPECT_TRUE(messages[1].contains(QStringLiteral("only the latest 40 readings")));
    EXPECT_EQ(recorder.pendingCount(), 40u);
    ASSERT_TRUE(disk.setReadOnly(false));
    EXPECT_TRUE(recorder.recordCycle(cycleReadings(16)));
    const QString path = dbPath(disk.path());
    // The bound holds with this cycle's readings too: the newest 40, cycles 7 to 16.
    EXPECT_EQ(rowCount(path), 40);
    EXPECT_EQ(queryValue(path, QStringLiteral("SELECT min(tag) FROM readings WHERE tag LIKE 'cycle _'")).toString(),
              QStringLiteral("cycle 7"));
    EXPECT_EQ(messages.size(), 2);
}

TEST_F(RecorderTest, AFullDiskKeepsTheReadingsUntilThereIsRoom)
{
    TmpFs disk("1m");
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    auto recorder = makeRecorder(disk.path());
    ASSERT_TRUE(recorder->recordCycle(cycleReadings(0)));
    disk.fill(QStringLiteral("filler"));
    // Enough readings that the pages of the file must grow.
    int cycle = 1;
    for (; cycle <= 200; ++cycle)
        recorder->recordCycle(cycleReadings(cycle));
    ASSERT_EQ(messages.size(), 1) << messages.join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(messages[0].contains(dbPath(disk.path())));
    EXPECT_TRUE(messages[0].contains(QStringLiteral("full"))) << messages[0].toStdString();
    EXPECT_GT(recorder->pendingCount(), 0u);
    ASSERT_TRUE(QFile::remove(QDir(disk.path()).filePath(QStringLiteral("filler"))));
    EXPECT_TRUE(recorder->recordCycle(cycleReadings(cycle)));
    EXPECT_EQ(rowCount(dbPath(disk.path())), 4 * (cycle + 1));
    EXPECT_EQ(queryValue(dbPath(disk.path()), QStringLiteral("PRAGMA integrity_check")).toString(),
              QStringLiteral("ok"));
    EXPECT_EQ(messages.size(), 1);
}

TEST_F(RecorderTest, AFileThatIsNoDatabaseIsMovedAsideAndANewOneStarted)
{
    const QByteArray garbage = QByteArray("this is no database, it is a letter.\n").repeated(200);
    testing_support::writeFile(dbPath(dir.path()), garbage);
    auto recorder = makeRecorder(dir.path());
    recorder->recordCycle(cycleReadings(1));
    recorder->recordCycle(cycleReadings(2));
    EXPECT_EQ(rowCount(dbPath(dir.path())), 8);
    ASSERT_EQ(messages.size(), 1) << messages.join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("not a database"))) << messages[0].toStdString();
    const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("history.sqlite.damaged-*")}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(messages[0].contains(aside[0]));
    EXPECT_EQ(testing_support::readFile(dir.filePath(aside[0])), garbage); // moved, not touched
}

TEST_F(RecorderTest, AMalformedDatabaseIsMovedAsideAndANewOneStarted)
{
    const QString path = dbPath(dir.path());
    {
        auto recorder = makeRecorder(dir.path());
        for (int cycle = 0; cycle < 300; ++cycle)
            recorder->recordCycle(cycleReadings(cycle));
    }
    // Damage the pages of the table and its index (the first page, the header, stays whole).
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_GT(file.size(), 8 * 4096);
        file.seek(4096);
        file.write(QByteArray(file.size() - 4096, '\x5a'));
    }
    auto recorder = makeRecorder(dir.path());
    for (int cycle = 1000; cycle < 1003; ++cycle)
        recorder->recordCycle(cycleReadings(cycle));
    ASSERT_EQ(messages.size(), 1) << messages.join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("malformed"))) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("damaged")));
    EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("history.sqlite.damaged-*")}, QDir::Files).size(), 1);
    EXPECT_EQ(queryValue(path, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
    // Every reading of the cycles since the damage was found is in the new file.
    EXPECT_EQ(rowCount(path), 12);
}

} // namespace

namespace {

TEST_F(RecorderTest, ALinkAtTheNameIsNeverWrittenThrough)
{
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("precious.txt"));
    testing_support::writeFile(target, "keep me\n");
    ASSERT_TRUE(QFile::link(target, dbPath(dir.path())));
    auto recorder = makeRecorder(dir.path());
    for (int cycle = 1; cycle <= 3; ++cycle)
        EXPECT_FALSE(recorder->recordCycle(cycleReadings(cycle)));
    EXPECT_EQ(testing_support::readFile(target), QByteArray("keep me\n"));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("not a regular file"))) << messages[0].toStdString();
    EXPECT_EQ(recorder->pendingCount(), 12u);
    EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("-wal")));
}

} // namespace

namespace {

// The layout before `outcome` existed, as a file of an earlier version holds it.
constexpr char kFirstLayout[] =
    "CREATE TABLE readings (id INTEGER PRIMARY KEY, time_ms INTEGER NOT NULL, channel INTEGER NOT NULL,"
    " tag TEXT NOT NULL, type TEXT NOT NULL, ok INTEGER NOT NULL, value REAL, unit TEXT, temperature REAL,"
    " value2 REAL, unit2 TEXT, total_day REAL, total REAL, text TEXT NOT NULL);"
    "CREATE INDEX readings_channel_time ON readings (channel, time_ms);"
    "INSERT INTO readings (time_ms, channel, tag, type, ok, text) VALUES (strftime('%s', 'now') * 1000, 0, 'old', 'pH', 0, 'Out of order');"
    "PRAGMA user_version = 1;";

TEST_F(RecorderTest, AFileOfTheFirstLayoutGainsTheOutcomeAndKeepsItsRows)
{
    const QString path = dbPath(dir.path());
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"), {path, QString::fromLatin1(kFirstLayout)});
    ASSERT_TRUE(sqlite.waitForFinished(10000));
    ASSERT_EQ(sqlite.exitCode(), 0) << sqlite.readAllStandardError().toStdString();

    std::vector<measure::Reading> readings = cycleReadings(5);
    int failed = 0;
    for (measure::Reading& r : readings) {
        if (!r.ok) {
            r.outcome = diagnostics::Outcome::exception(2);
            ++failed;
        }
    }
    ASSERT_GT(failed, 0);
    auto recorder = makeRecorder(dir.path());
    // The file is converted in the background; the readings wait in memory until it is done.
    bool written = recorder->recordCycle(std::move(readings));
    for (QDeadlineTimer deadline(30000); !written && !deadline.hasExpired(); QThread::msleep(20))
        written = recorder->recordCycle({});
    ASSERT_TRUE(written);
    recorder.reset();

    EXPECT_EQ(queryValue(path, QStringLiteral("PRAGMA user_version")).toInt(), history::kSchemaVersion);
    // Its readings, the old one included, are summed up in their minutes.
    EXPECT_EQ(queryValue(path, QStringLiteral("SELECT SUM(ok_count + failed) FROM minutes")).toInt(), 5);
    EXPECT_EQ(queryValue(path, QStringLiteral("SELECT count(*) FROM readings WHERE tag = 'old' AND outcome IS NULL")).toInt(), 1);
    EXPECT_EQ(queryValue(path, QStringLiteral("SELECT count(*) FROM readings WHERE outcome = 'exception_2' AND ok = 0")).toInt(),
              failed);
    EXPECT_EQ(queryValue(path, QStringLiteral("SELECT count(*) FROM readings WHERE outcome = 'value' AND ok = 1")).toInt(),
              4 - failed);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();
}

} // namespace
