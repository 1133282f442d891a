#include "LoggerFiles.h"
#include "TestFiles.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using testing_support::readFile;
using testing_support::writeFile;

namespace {

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class ExtractToolTest : public ::testing::Test {
protected:
    ToolRun tool(const QStringList& arguments, const QString& locale = QStringLiteral("C"))
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), locale);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(work.path());
        process.start(QStringLiteral(ZENTLOG_EXTRACT), arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
                QString::fromLocal8Bit(process.readAllStandardError())};
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
