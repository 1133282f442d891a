// zentlog-history against real database files: info, export in both formats and locales, the
// period's edges in local time, exit statuses, and a target that must not be written.

#include "ExportTestDatabase.h"
#include "TestFiles.h"
#include "ToolRun.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using history_test::Reading;
using history_test::utcMs;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

using testing_support::ToolRun;

class HistoryToolTest : public ::testing::Test {
protected:
    QProcessEnvironment environment(const QString& locale) const
    {
        QProcessEnvironment env = testing_support::environmentWithLocale(locale);
        env.insert(QStringLiteral("TZ"), QStringLiteral("CET-1CEST,M3.5.0,M10.5.0/3"));
        return env;
    }

    ToolRun tool(const QStringList& arguments, const QString& locale = QStringLiteral("C"))
    {
        return testing_support::runTool(QStringLiteral(ZENTLOG_HISTORY), arguments, work.path(), environment(locale), 120000);
    }
    QString inWork(const QString& name) const { return QDir(work.path()).filePath(name); }
    QStringList filesInWork() const { return QDir(work.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name); }

    void fillSample()
    {
        history_test::TestDatabase db(inWork(QStringLiteral("history.sqlite")));
        db.add({utcMs("2026-12-09T02:00:00"), 0, QStringLiteral("PH 1"), QStringLiteral("pH"), true, 7.25, QStringLiteral("pH"),
                21.5, {}, {}, {}, {}, QStringLiteral("t")});
        db.add({utcMs("2026-12-09T02:00:00.500"), 3, QStringLiteral("T°"), QStringLiteral("Temperature"), false, {}, {}, {},
                {}, {}, {}, {}, QStringLiteral("Out of order")});
        db.add({utcMs("2026-12-09T03:00:00"), 0, QStringLiteral("PH 1"), QStringLiteral("pH"), true, 0.0001, QStringLiteral("pH"),
                21.0, {}, {}, {}, {}, QStringLiteral("t")});
    }

    QTemporaryDir work;
};

} // namespace

TEST_F(HistoryToolTest, InfoTellsRowsAndTimesPerChannelAndTheFileSize)
{
    fillSample();
    const QByteArray before = readFile(inWork(QStringLiteral("history.sqlite")));
    const ToolRun run = tool({QStringLiteral("info")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("history.sqlite: %1 bytes\n"
                                      "channel 0: 2 readings from 2026-12-09T03:00:00+01:00 to 2026-12-09T04:00:00+01:00\n"
                                      "channel 3: 1 readings from 2026-12-09T03:00:00+01:00 to 2026-12-09T03:00:00+01:00\n")
                           .arg(before.size()));
    // Read-only: not a byte of the file changes, and SQLite leaves no journal beside it.
    EXPECT_EQ(readFile(inWork(QStringLiteral("history.sqlite"))), before);
    EXPECT_EQ(filesInWork(), QStringList({QStringLiteral("history.sqlite")}));

    EXPECT_EQ(tool({QStringLiteral("info"), QStringLiteral("missing.sqlite")}).exitCode, 2);
    writeFile(inWork(QStringLiteral("notes.txt")), QByteArray(2048, 'n'));
    const ToolRun foreign = tool({QStringLiteral("info"), QStringLiteral("notes.txt")});
    EXPECT_EQ(foreign.exitCode, 2);
    EXPECT_TRUE(foreign.err.contains(QStringLiteral("notes.txt"))) << foreign.err.toStdString();
}

TEST_F(HistoryToolTest, ExportsXlsByDefaultIntoTheWorkingDirectory)
{
    fillSample();
    const ToolRun run = tool({QStringLiteral("export")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("3 readings written to history.xls\n"));
    EXPECT_EQ(readFile(inWork(QStringLiteral("history.xls"))),
              QByteArray("time\tchannel\ttag\ttype\tok\tvalue\tunit\ttemperature\tvalue2\tunit2\ttotal_day\ttotal\r\n"
                         "2026-12-09 03:00:00\t0\tPH 1\tpH\t1\t7.25\tpH\t21.5\t\t\t\t\r\n"
                         "2026-12-09 03:00:00\t3\tT\xb0\tTemperature\t0\t\t\t\t\t\t\t\r\n"
                         "2026-12-09 04:00:00\t0\tPH 1\tpH\t1\t0.0001\tpH\t21\t\t\t\t\r\n"));
}

TEST_F(HistoryToolTest, ExportsCsvWithTheLocaleSeparatorsAndTheChosenChannel)
{
    fillSample();
    const ToolRun run = tool({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("csv"), QStringLiteral("--channel"),
                              QStringLiteral("0"), QStringLiteral("--output"), QStringLiteral("ph.csv")},
                             QStringLiteral("fr_FR.UTF-8"));
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(readFile(inWork(QStringLiteral("ph.csv"))),
              QByteArray("\xEF\xBB\xBFtime;channel;tag;type;ok;value;unit;temperature;value2;unit2;total_day;total\r\n"
                         "2026-12-09T03:00:00.000+01:00;0;PH 1;pH;1;7,25;pH;21,5;;;;\r\n"
                         "2026-12-09T04:00:00.000+01:00;0;PH 1;pH;1;0,0001;pH;21;;;;\r\n"));
}

TEST_F(HistoryToolTest, FromIsInToIsOutAndAnEmptyPeriodExitsWithOne)
{
    fillSample();
    // Local times: 03:00 is the first two readings, 04:00 the last.
    ToolRun run = tool({QStringLiteral("export"), QStringLiteral("--from"), QStringLiteral("2026-12-09T03:00"), QStringLiteral("--to"),
                        QStringLiteral("2026-12-09T04:00")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("2 readings written to history.xls\n"));
    run = tool({QStringLiteral("export"), QStringLiteral("--from"), QStringLiteral("2026-12-09T04:00")});
    EXPECT_EQ(run.out, QStringLiteral("1 readings written to history.xls\n"));

    QFile::remove(inWork(QStringLiteral("history.xls")));
    run = tool({QStringLiteral("export"), QStringLiteral("--from"), QStringLiteral("2026-12-10"), QStringLiteral("--format"),
                QStringLiteral("csv")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("no readings"))) << run.err.toStdString();
    EXPECT_EQ(filesInWork(), QStringList({QStringLiteral("history.sqlite")}));
}

TEST_F(HistoryToolTest, UsageAndFileErrorsExitWithTwo)
{
    fillSample();
    const QList<QStringList> wrong{
        {},
        {QStringLiteral("purge")},
        {QStringLiteral("export"), QStringLiteral("--channel"), QStringLiteral("4")},
        {QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("ods")},
        {QStringLiteral("export"), QStringLiteral("--from"), QStringLiteral("yesterday")},
        {QStringLiteral("export"), QStringLiteral("--from"), QStringLiteral("2026-12-10"), QStringLiteral("--to"), QStringLiteral("2026-12-09")},
        {QStringLiteral("info"), QStringLiteral("--channel"), QStringLiteral("1")},
        {QStringLiteral("export"), QStringLiteral("a.sqlite"), QStringLiteral("b.sqlite")},
    };
    for (const QStringList& arguments : wrong) {
        const ToolRun run = tool(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("usage:"))) << run.err.toStdString();
    }

    // A link at the output name is refused, and what it points at is left alone.
    writeFile(inWork(QStringLiteral("precious.txt")), "keep me");
    ASSERT_EQ(::symlink("precious.txt", inWork(QStringLiteral("history.xls")).toLocal8Bit().constData()), 0);
    const ToolRun run = tool({QStringLiteral("export")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("symbolic link"))) << run.err.toStdString();
    EXPECT_EQ(readFile(inWork(QStringLiteral("precious.txt"))), "keep me");
    EXPECT_TRUE(QFileInfo(inWork(QStringLiteral("history.xls"))).isSymLink());
}

TEST_F(HistoryToolTest, AnInterruptedExportLeavesNoFile)
{
    {
        history_test::TestDatabase db(inWork(QStringLiteral("history.sqlite")));
        db.addSeries(0, utcMs("2026-12-01T00:00:00"), 400000);
    }
    QProcess process;
    process.setProcessEnvironment(environment(QStringLiteral("C")));
    process.setWorkingDirectory(work.path());
    process.start(QStringLiteral(ZENTLOG_HISTORY), {QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("csv")});
    ASSERT_TRUE(process.waitForStarted());
    // The temporary file has no name on Linux (O_TMPFILE), so there is nothing to wait for: the
    // export of 400000 rows takes most of a second, and the interruption comes well before.
    QThread::msleep(150);
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(120000));
    if (process.exitCode() == 0)
        GTEST_SKIP() << "the export ended before the interruption reached it";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_EQ(filesInWork(), QStringList({QStringLiteral("history.sqlite")}));
}
