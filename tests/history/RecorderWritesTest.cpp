// When the recorder commits: its schedule, its setting, and the last write at the end (full tmpfs).

#include "history/CommitSchedule.h"
#include "history/HistorySettings.h"
#include "history/Recorder.h"

#include "HistoryFiles.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace history_test;

namespace {

TEST(CommitSchedule, NoReadingWaitsLongerThanTheInterval)
{
    // The interval, the cycle ends (s), and where a commit comes (x).
    const std::tuple<int, std::vector<qint64>, const char*> cases[] = {
        {10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, "x.........x."}, // the first at once
        {10, {0, 1, 2, 9}, "x..x"}, // a cycle slower than those before
        {3, {0, 5, 10}, "xxx"},     // cycles longer than the interval
        {10, {50, 51, 20}, "x.x"},  // the clock went back
    };
    for (const auto& [interval, cycleEnds, commits] : cases) {
        history::CommitSchedule schedule(interval);
        for (std::size_t i = 0; i < cycleEnds.size(); ++i) {
            const bool due = schedule.cycleEnded(cycleEnds[i] * 1000);
            EXPECT_EQ(due, commits[i] == 'x') << "interval " << interval << ", cycle ending at " << cycleEnds[i];
            if (due)
                schedule.committed();
        }
    }
}

TEST(HistorySettingsWriteInterval, ValuesOfTheFile)
{
    const std::tuple<const char*, int, bool> cases[] = {
        {"", 10, false}, {"=0", 0, false}, {"=30", 30, false}, {"=3600", 3600, false},
        {"=3601", 10, true}, {"=-1", 10, true}, {"=ten", 10, true},
    };
    QTemporaryDir dir;
    for (const auto& [value, seconds, problem] : cases) {
        const QByteArray line = *value ? QByteArray("write_interval_seconds") + value : QByteArray();
        testing_support::writeFile(dir.filePath(QStringLiteral("zentlog.ini")), "[history]\n" + line + "\n");
        const history::HistorySettings settings = history::HistorySettings::load(dir.path());
        EXPECT_EQ(settings.writeIntervalSeconds, seconds) << line.constData();
        EXPECT_EQ(settings.problem.contains(QLatin1String(line)) && !line.isEmpty(), problem) << line.constData();
    }
}

TEST(RecorderEnd, ReadingsKeptForAFullDiskAreWrittenAtTheEndOrCountedAsLost)
{
    static QStringList warnings;
    for (const bool roomAtTheEnd : {true, false}) {
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
        recorder->recordCycle(cycleReadings(0, 4, clock));
        disk.fill(QStringLiteral("filler"));
        for (int cycle = 1; cycle < 200; ++cycle, clock += 1000)
            recorder->recordCycle(cycleReadings(cycle, 4, clock));
        const std::size_t waiting = recorder->pendingCount();
        ASSERT_TRUE(recorder->failing() && waiting > 0);
        ASSERT_TRUE(!roomAtTheEnd || QFile::remove(QDir(disk.path()).filePath(QStringLiteral("filler"))));
        warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext&, const QString& text) { if (type == QtWarningMsg) warnings << text; });
        recorder.reset();
        qInstallMessageHandler(previous);
        EXPECT_EQ(rowCount(path), roomAtTheEnd ? 800 : 800 - qint64(waiting)) << roomAtTheEnd;
        EXPECT_EQ(warnings.join(u'|').contains(QStringLiteral("%1 of %1 readings waiting could not be written").arg(waiting)),
                  !roomAtTheEnd) << warnings.join(u'|').toStdString();
        EXPECT_EQ(queryValue(path, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
    }
}

// The log is copied into the file by the timed checkpoints while the recorder runs, not only when
// its connection closes: otherwise the log grows by every page ever written, for good.
TEST(RecorderCheckpoints, CopyTheLogIntoTheFileWhileRecording)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("history.sqlite"));
    qint64 clock = 1'700'000'000'000;
    history::Recorder::Options options;
    options.directory = dir.path();
    options.checkpointIntervalMs = 5000;
    options.clock = [&clock] { return clock; };
    history::Recorder recorder(std::move(options));
    // Each cycle a second later; the checkpoint runs in a thread of its own beside the cycles.
    for (int cycle = 0; cycle < 3000 && QFileInfo(path).size() <= 4096; ++cycle, clock += 1000) {
        recorder.recordCycle(cycleReadings(cycle, 4, clock));
        QThread::msleep(1);
    }
    EXPECT_GT(QFileInfo(path).size(), 4096) << "nothing of the log reached the file";
}

} // namespace
