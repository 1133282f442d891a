// The recorder when its file is taken from it while it writes (removed, replaced, truncated) or
// is damaged in pages it never reads: one message, and every reading after the event is in the
// new file at the name, those before it in the rescued copy.

#include "history/AlarmStore.h"
#include "history/Recorder.h"

#include "HistoryFiles.h"
#include "TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdio>

using history::Recorder;
using namespace history_test;

namespace {

class RecorderFileTest : public ::testing::Test {
protected:
    std::unique_ptr<Recorder> makeRecorder(qint64 integrityIntervalMs = 24 * 3600 * 1000LL)
    {
        Recorder::Options options;
        options.directory = dir.path();
        options.retryIntervalMs = 0;
        options.checkIntervalMs = 0; // the name is looked at after every cycle
        options.integrityIntervalMs = integrityIntervalMs;
        options.report = [this](const QString& text) { messages << text; };
        options.fileLost = [this] { ++lost; };
        return std::make_unique<Recorder>(std::move(options));
    }
    QString path() const { return dir.filePath(QStringLiteral("history.sqlite")); }
    QStringList beside(const char* pattern) const
    {
        return QDir(dir.path()).entryList({QString::fromLatin1(pattern)}, QDir::Files);
    }
    qint64 count(const QString& file, const QString& where) const
    {
        return queryValue(file, QStringLiteral("SELECT count(*) FROM readings WHERE ") + where).toLongLong();
    }
    // Records cycles until a message comes (the integrity check runs in a thread of its own).
    void recordUntilMessage(Recorder& recorder, int firstCycle)
    {
        QElapsedTimer clock;
        clock.start();
        for (int cycle = firstCycle; messages.isEmpty() && clock.elapsed() < 20000; ++cycle) {
            recorder.recordCycle(cycleReadings(cycle));
            QThread::msleep(20);
        }
    }

    QTemporaryDir dir;
    QStringList messages;
    int lost = 0;
};

// A checkpoint by another process: the readings in the file itself, the WAL emptied.
bool checkpoint(const QString& path)
{
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {path, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE);")});
    return shell.waitForFinished(10000) && shell.exitCode() == 0;
}

void randomFile(const QString& path, int bytes)
{
    QByteArray data(bytes, '\0');
    for (char& c : data)
        c = char(QRandomGenerator::global()->bounded(256));
    testing_support::writeFile(path, data);
}

TEST_F(RecorderFileTest, AFileTakenAwayWhileWritingGivesANewFileAndLosesNoReading)
{
    enum class Event { Removed, Replaced, Truncated };
    const struct {
        Event event;
        const char* said;
    } cases[] = {
        {Event::Removed, "was removed"},
        {Event::Replaced, "was replaced by another file"},
        // Truncated after a checkpoint, the file has no first page: the next write finds that.
        {Event::Truncated, "was (truncated|damaged)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        messages.clear();
        lost = 0;
        QDir(dir.path()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(dir.path()));
        auto recorder = makeRecorder();
        for (int cycle = 1; cycle <= 300; ++cycle)
            ASSERT_TRUE(recorder->recordCycle(cycleReadings(cycle)));
        ASSERT_TRUE(checkpoint(path()));
        switch (c.event) {
        case Event::Removed:
            for (const char* suffix : {"", "-wal", "-shm"})
                QFile::remove(path() + QLatin1String(suffix));
            break;
        case Event::Replaced:
            randomFile(path() + QStringLiteral(".new"), 20000);
            ASSERT_EQ(std::rename(QFile::encodeName(path() + QStringLiteral(".new")).constData(),
                                  QFile::encodeName(path()).constData()),
                      0);
            break;
        case Event::Truncated:
            ASSERT_TRUE(QFile::resize(path(), 0));
            break;
        }
        for (int cycle = 301; cycle <= 305; ++cycle)
            recorder->recordCycle(cycleReadings(cycle));
        // Seen by another connection while the recorder runs: the new file's WAL is at its name
        // (the lost file's connection, closed when the copy was done, left it alone).
        const qint64 afterEvent = count(path(), QStringLiteral("tag BETWEEN 'cycle 301' AND 'cycle 305'"));
        recorder.reset();

        ASSERT_EQ(messages.size(), 1) << messages.join(u'\n').toStdString();
        EXPECT_TRUE(messages[0].contains(path())) << messages[0].toStdString();
        EXPECT_TRUE(messages[0].contains(QRegularExpression(QLatin1String(c.said)))) << messages[0].toStdString();
        EXPECT_GE(lost, 1);
        // Every reading after the event is in the new file.
        EXPECT_EQ(afterEvent, 20);
        EXPECT_EQ(queryValue(path(), QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
        if (c.event == Event::Truncated) {
            EXPECT_EQ(beside("history.sqlite.damaged-*").size(), 1);
            continue;
        }
        // The lost file's readings, those written into it after the event included, are rescued.
        const QStringList rescued = beside("history.sqlite.rescued-*");
        ASSERT_EQ(rescued.size(), 1);
        EXPECT_TRUE(messages[0].contains(rescued[0]));
        const QString copy = dir.filePath(rescued[0]);
        EXPECT_EQ(count(copy, QStringLiteral("1")), 1204);
        EXPECT_EQ(queryValue(copy, QStringLiteral("SELECT SUM(ok_count + failed) FROM minutes")).toInt(), 1204);
        if (c.event == Event::Replaced) {
            // The random bytes at the name are no database: moved aside untouched.
            EXPECT_TRUE(messages[0].contains(QLatin1String("no database"))) << messages[0].toStdString();
            EXPECT_EQ(beside("history.sqlite.damaged-*").size(), 1);
        }
        // Nothing of the lost file is left at the names of the new one.
        EXPECT_EQ(beside("history.sqlite.rescued-*-wal").size(), 0);
    }
}

TEST_F(RecorderFileTest, DamageInPagesTheRecorderNeverReadsIsFoundAtStartAndByTheDailyCheck)
{
    {
        auto recorder = makeRecorder();
        for (int cycle = 1; cycle <= 2000; ++cycle)
            recorder->recordCycle(cycleReadings(cycle));
    }
    // The name looked at after each of 2000 cycles, with checkpoints between: no false alarm.
    ASSERT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();
    // Random bytes over old pages in place, as `dd conv=notrunc` writes them.
    const auto damage = [this] {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_GT(file.size(), 40 * 4096);
        QByteArray noise(7 * 4096, '\0');
        for (char& c : noise)
            c = char(QRandomGenerator::global()->bounded(256));
        // Old pages of the readings, in the middle of the file: every write reads the roots and
        // the newest pages, and the purge the first pages of the time index.
        file.seek(file.size() / 4096 / 2 * 4096);
        file.write(noise);
    };
    damage();
    auto recorder = makeRecorder(0); // checked at start, then after every cycle
    recordUntilMessage(*recorder, 3000);
    ASSERT_EQ(messages.size(), 1);
    // Found by the check (it names the page), not by a write.
    EXPECT_TRUE(messages[0].contains(QLatin1String("damaged"))) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QLatin1String("Page"))) << messages[0].toStdString();
    EXPECT_EQ(beside("history.sqlite.damaged-*").size(), 1);

    messages.clear();
    for (int cycle = 4000; cycle <= 6000; ++cycle)
        recorder->recordCycle(cycleReadings(cycle));
    ASSERT_TRUE(checkpoint(path()));
    damage();
    recordUntilMessage(*recorder, 7000);
    ASSERT_EQ(messages.size(), 1) << messages.join(u'\n').toStdString();
    EXPECT_TRUE(messages[0].contains(QLatin1String("Page"))) << messages[0].toStdString();
    EXPECT_EQ(beside("history.sqlite.damaged-*").size(), 2);
    recorder.reset();
    EXPECT_EQ(queryValue(path(), QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
}

TEST_F(RecorderFileTest, TheAlarmStoreFollowsAFileTakenAwayAndKeepsTheStandingAlarmsInTheNewOne)
{
    history::AlarmStore store({dir.path(), 200, [this](const QString& text) { messages << text; }});
    alarms::Alarm alarm;
    alarm.id = 1;
    alarm.input = 2;
    alarm.kind = alarms::AlarmKind::High;
    alarm.raisedMs = 1000;
    store.record({{alarms::AlarmEvent::Type::Raised, 1000, alarm}}, false);
    EXPECT_FALSE(store.followFile());

    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(path() + QString::fromLatin1(suffix));
    ASSERT_TRUE(store.followFile());
    // The new file is the recorder's to make: until then the alarms wait.
    store.keepStanding({alarm});
    ASSERT_TRUE(store.followFile());
    EXPECT_FALSE(QFile::exists(path()));
    auto recorder = makeRecorder();
    ASSERT_TRUE(recorder->recordCycle(cycleReadings(1)));
    store.keepStanding({alarm});
    EXPECT_FALSE(store.followFile()) << messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(queryValue(path(), QStringLiteral("SELECT count(*) FROM alarms WHERE id = 1 AND input = 2")).toInt(), 1);
}

} // namespace
