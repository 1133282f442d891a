#include "logger/ExtractToText.h"

#include "LoggerFiles.h"
#include "TestFiles.h"
#include "ToolRun.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

using testing_support::readFile;
using testing_support::writeFile;

namespace {

using testing_support::ToolRun;

class ExtractToolTest : public ::testing::Test {
protected:
    ToolRun tool(const QStringList& arguments, const QString& locale = QStringLiteral("C"))
    {
        return testing_support::runTool(QStringLiteral(ZENTLOG_EXTRACT), arguments, work.path(),
                                        testing_support::environmentWithLocale(locale), 60000);
    }
    QString inWork(const QString& name) const { return QDir(work.path()).filePath(name); }

    QTemporaryDir work;
};

} // namespace

TEST_F(ExtractToolTest, WritesTheWorkedExampleIntoTheWorkingDirectory)
{
    writeFile(inWork(QStringLiteral("pump.log")), logger_test::workedExample());
    const ToolRun run = tool({QStringLiteral("pump.log")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith(QStringLiteral("1 : 5/3/99 14:5  1234 215 00012345\n2 records\n")))
        << run.out.toStdString();
    EXPECT_EQ(readFile(inWork(QStringLiteral("Flow_PUMP A.xls"))), logger_test::kWorkedFlowFile);
    EXPECT_EQ(readFile(inWork(QStringLiteral("Resistivity_PUMP A.xls"))), logger_test::kWorkedResistivityFile);
}

TEST_F(ExtractToolTest, ExistingOutputNeedsReplaceOrAppend)
{
    writeFile(inWork(QStringLiteral("pump.log")), logger_test::workedExample());
    QDir(work.path()).mkdir(QStringLiteral("out"));
    const QString flow = QDir(inWork(QStringLiteral("out"))).filePath(QStringLiteral("Flow_PUMP A.xls"));
    writeFile(flow, "old\r\n");

    const QStringList base{QStringLiteral("--output-dir"), QStringLiteral("out"), QStringLiteral("pump.log")};
    ToolRun run = tool(base);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("Flow_PUMP A.xls"))) << run.err.toStdString();
    EXPECT_EQ(readFile(flow), QByteArray("old\r\n"));

    run = tool(QStringList{QStringLiteral("--append")} + base);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(readFile(flow), "old\r\n" + logger_test::kWorkedFlowFile);

    run = tool(QStringList{QStringLiteral("--replace")} + base, QStringLiteral("fr_FR.UTF-8"));
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    QByteArray french = logger_test::kWorkedFlowFile;
    french.replace("12.34\t21.5", "12,34\t21,5");
    EXPECT_EQ(readFile(flow), french);
}

TEST_F(ExtractToolTest, ErrorsAndMisuseExitNonZeroWithAMessage)
{
    writeFile(inWork(QStringLiteral("short.log")), QByteArray(30, '\x01'));
    ToolRun run = tool({QStringLiteral("short.log")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("30 bytes"))) << run.err.toStdString();
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files), QStringList{QStringLiteral("short.log")});

    run = tool({QStringLiteral("missing.log")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("missing.log")));

    EXPECT_EQ(tool({}).exitCode, 2);
    EXPECT_EQ(tool({QStringLiteral("a.log"), QStringLiteral("b.log")}).exitCode, 2);
    EXPECT_EQ(tool({QStringLiteral("--replace"), QStringLiteral("--append"), QStringLiteral("a.log")}).exitCode, 2);
    EXPECT_EQ(tool({QStringLiteral("--bogus"), QStringLiteral("a.log")}).exitCode, 2);
    EXPECT_EQ(tool({QStringLiteral("--output-dir")}).exitCode, 2);
}

TEST_F(ExtractToolTest, ReportsAnIgnoredFragmentAndStillSucceeds)
{
    writeFile(inWork(QStringLiteral("pump.log")), logger_test::workedExample() + "\x01\x02\x03");
    const ToolRun run = tool({QStringLiteral("pump.log")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.err.contains(QStringLiteral("3 bytes"))) << run.err.toStdString();
}

TEST_F(ExtractToolTest, RefusesLinksPipesAndDevicesWithAMessage)
{
    writeFile(inWork(QStringLiteral("pump.log")), logger_test::workedExample());
    QDir(work.path()).mkdir(QStringLiteral("out"));
    writeFile(inWork(QStringLiteral("precious.txt")), "precious");
    const QString flow = inWork(QStringLiteral("out/Flow_PUMP A.xls"));
    ASSERT_TRUE(QFile::link(inWork(QStringLiteral("precious.txt")), flow));
    for (const QStringList& options : {QStringList{}, QStringList{QStringLiteral("--replace")},
                                       QStringList{QStringLiteral("--append")}}) {
        const ToolRun run = tool(options + QStringList{QStringLiteral("--output-dir"), QStringLiteral("out"),
                                                       QStringLiteral("pump.log")});
        EXPECT_EQ(run.exitCode, 1) << options.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("Flow_PUMP A.xls")) && run.err.contains(QStringLiteral("symbolic link")))
            << run.err.toStdString();
        EXPECT_EQ(readFile(inWork(QStringLiteral("precious.txt"))), QByteArray("precious"));
        EXPECT_TRUE(QFileInfo(flow).isSymLink());
    }

    // A pipe as the logger file: refused at once, not waited on (the run has a deadline).
    ASSERT_EQ(::mkfifo(QFile::encodeName(inWork(QStringLiteral("pipe.log"))).constData(), 0600), 0);
    ToolRun run = tool({QStringLiteral("pipe.log")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("not a regular file"))) << run.err.toStdString();
    run = tool({QStringLiteral("/dev/zero")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("/dev/zero"))) << run.err.toStdString();
}

TEST_F(ExtractToolTest, ASecondRunIntoTheSameFolderIsRefused)
{
    writeFile(inWork(QStringLiteral("pump.log")), logger_test::workedExample());
    {
        // Another extraction (a window or a tool) holds the folder.
        QLockFile held(inWork(QString::fromLatin1(logger::kOutputLockName)));
        ASSERT_TRUE(held.tryLock(0));
        const ToolRun run = tool({QStringLiteral("pump.log")});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.contains(QStringLiteral("Another extraction"))) << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(inWork(QStringLiteral("Flow_PUMP A.xls"))));
    }

    // Two tools at once: the first is caught holding the folder and stopped there, the second
    // refused; the first then finishes with one complete copy.
    constexpr int kRecords = 400000;
    QByteArray big = logger_test::workedExampleHeader();
    for (int k = 0; k < kRecords; ++k)
        big += logger_test::workedExampleRecord();
    writeFile(inWork(QStringLiteral("big.log")), big);
    const QString lock = inWork(QString::fromLatin1(logger::kOutputLockName));
    bool caught = false;
    for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
        QFile::remove(inWork(QStringLiteral("Flow_PUMP A.xls")));
        QFile::remove(inWork(QStringLiteral("Resistivity_PUMP A.xls")));
        QProcess first;
        first.setWorkingDirectory(work.path());
        first.start(QStringLiteral(ZENTLOG_EXTRACT), {QStringLiteral("big.log")});
        ASSERT_TRUE(first.waitForStarted());
        while (first.state() == QProcess::Running && !QFileInfo::exists(lock)) {
        }
        if (first.state() == QProcess::Running && ::kill(static_cast<pid_t>(first.processId()), SIGSTOP) == 0) {
            // Still holding the folder when stopped, unless it ended just before.
            if (QFileInfo::exists(lock)) {
                caught = true;
                const ToolRun second = tool({QStringLiteral("--append"), QStringLiteral("big.log")});
                EXPECT_EQ(second.exitCode, 1);
                EXPECT_TRUE(second.err.contains(QStringLiteral("Another extraction"))) << second.err.toStdString();
            }
            ::kill(static_cast<pid_t>(first.processId()), SIGCONT);
        }
        ASSERT_TRUE(first.waitForFinished(120000));
        EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
    }
    ASSERT_TRUE(caught) << "the first run always ended before it could be caught";
    EXPECT_EQ(readFile(inWork(QStringLiteral("Flow_PUMP A.xls"))).count('\n'), 5 + kRecords);
    EXPECT_FALSE(QFileInfo::exists(lock));
}

TEST_F(ExtractToolTest, TheReadmeExampleIsWhatTheToolPrintsForTheDemoFile)
{
    const QString source = qEnvironmentVariable("ZENTLOG_SOURCE_DIR");
    ASSERT_FALSE(source.isEmpty());
    const QString readme = QString::fromUtf8(readFile(QDir(source).filePath(QStringLiteral("tools/README.md"))));
    const QString command = QStringLiteral("zentlog-extract --output-dir /tmp demo/Virlzent.log\n");
    const qsizetype at = readme.indexOf(command);
    ASSERT_GE(at, 0);
    const QString shown = readme.mid(at + command.size()).section(QStringLiteral("Written:"), 0, 0);

    ASSERT_TRUE(QFile::copy(QDir(source).filePath(QStringLiteral("demo/Virlzent.log")), inWork(QStringLiteral("demo.log"))));
    const ToolRun run = tool({QStringLiteral("demo.log")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.section(QStringLiteral("Written:"), 0, 0), shown);
}
