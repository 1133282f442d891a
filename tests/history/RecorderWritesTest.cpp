// When the recorder commits: the schedule of grouped commits, its setting in "zentlog.ini", and
// the last write at the end on a real full tmpfs.

#include "history/CommitSchedule.h"
#include "history/HistorySettings.h"
#include "history/Recorder.h"

#include "HistoryFiles.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

using namespace history_test;

namespace {

TEST(CommitSchedule, NoReadingWaitsLongerThanTheInterval)
{
    struct Case {
        const char* name;
        int intervalSeconds;
        std::vector<qint64> cycleEnds; // ms
        std::vector<bool> commits;
    };
    const Case cases[] = {
        {"every cycle", 0, {0, 1000, 2000}, {true, true, true}},
        // The first is written at once; then the last cycle end before a reading would wait 10 s.
        {"one-second cycles", 10, {0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000, 11000},
         {true, false, false, false, false, false, false, false, false, false, true, false}},
        {"slow cycles", 10, {0, 4000, 8000, 12000, 16000}, {true, false, false, true, false}},
        {"a cycle slower than the ones before", 10, {0, 1000, 2000, 9000}, {true, false, false, true}},
        {"a cycle longer than the interval", 3, {0, 5000, 10000}, {true, true, true}},
        {"the clock went back", 10, {50000, 51000, 20000}, {true, false, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        history::CommitSchedule schedule(c.intervalSeconds);
        ASSERT_EQ(c.cycleEnds.size(), c.commits.size());
        for (std::size_t i = 0; i < c.cycleEnds.size(); ++i) {
            const bool due = schedule.cycleEnded(c.cycleEnds[i]);
            EXPECT_EQ(due, c.commits[i]) << "cycle ending at " << c.cycleEnds[i];
            if (due)
                schedule.committed();
        }
    }
}

TEST(HistorySettingsWriteInterval, ValuesOfTheFile)
{
    struct Case {
        const char* line;
        int seconds;
        bool problem;
    };
    const Case cases[] = {
        {"", 10, false},
        {"write_interval_seconds=0", 0, false},
        {"write_interval_seconds=30", 30, false},
        {"write_interval_seconds=3600", 3600, false},
        {"write_interval_seconds=3601", 10, true},
        {"write_interval_seconds=-1", 10, true},
        {"write_interval_seconds=ten", 10, true},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        testing_support::writeFile(dir.filePath(QStringLiteral("zentlog.ini")),
                                   QByteArray("[history]\n") + c.line + "\n");
        const history::HistorySettings settings = history::HistorySettings::load(dir.path());
        EXPECT_EQ(settings.writeIntervalSeconds, c.seconds);
        EXPECT_EQ(!settings.problem.isEmpty(), c.problem) << settings.problem.toStdString();
        if (c.problem) {
            EXPECT_TRUE(settings.problem.contains(QLatin1String(c.line)));
        }
    }
}

QStringList warnings;

void keepWarnings(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtWarningMsg)
        warnings << text;
}

TEST(RecorderEnd, ReadingsKeptForAFullDiskAreWrittenAtTheEndOrCountedAsLost)
{
    for (const bool roomAtTheEnd : {true, false}) {
        SCOPED_TRACE(roomAtTheEnd ? "room at the end" : "still full at the end");
        TmpFs disk("1m");
        if (!disk.mounted()) {
            GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
        }
        const QString path = QDir(disk.path()).filePath(QStringLiteral("history.sqlite"));
        qint64 clock = 1'700'000'000'000;
        history::Recorder::Options options;
        options.directory = disk.path();
        options.writeIntervalSeconds = 10;
        options.retryIntervalMs = 0;
        options.clock = [&clock] { return clock; };
        auto recorder = std::make_unique<history::Recorder>(std::move(options));
        ASSERT_TRUE(recorder->recordCycle(cycleReadings(0, 4, clock)));
        disk.fill(QStringLiteral("filler"));
        int cycle = 1;
        for (; cycle <= 200; ++cycle) {
            clock += 1000;
            recorder->recordCycle(cycleReadings(cycle, 4, clock));
        }
        ASSERT_TRUE(recorder->failing());
        const std::size_t waiting = recorder->pendingCount();
        ASSERT_GT(waiting, 0u);
        if (roomAtTheEnd) {
            ASSERT_TRUE(QFile::remove(QDir(disk.path()).filePath(QStringLiteral("filler"))));
        }
        warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(keepWarnings);
        recorder.reset();
        qInstallMessageHandler(previous);
        const QString lost = QStringLiteral("%1 of %1 readings waiting could not be written").arg(waiting);
        if (roomAtTheEnd) {
            EXPECT_EQ(rowCount(path), 4 * cycle);
            EXPECT_FALSE(warnings.join(u'|').contains(QStringLiteral("lost"))) << warnings.join(u'|').toStdString();
        } else {
            EXPECT_EQ(rowCount(path) + qint64(waiting), 4 * cycle);
            EXPECT_TRUE(warnings.join(u'|').contains(lost)) << warnings.join(u'|').toStdString();
        }
        EXPECT_EQ(queryValue(path, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
    }
}

} // namespace
