// The built program started as the desktop menu starts it: from "/" or the home folder, with
// no "config.txt" there. It must settle in its data folder, not write beside the user's files.

#include "ToolRun.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

const QString kProgram = QStringLiteral(ZENTLOG_PROGRAM);
constexpr int kStartMs = 60000; // a loaded machine starts a Qt program slowly

class ProgramStartTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(root_.isValid()); }

    QString home() const { return QDir(root_.path()).filePath(QStringLiteral("home")); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home());
        env.remove(QStringLiteral("XDG_DATA_HOME"));
        env.remove(QStringLiteral("ZENTLOG_WORKDIR"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

    // The directory a running process works in, as the kernel sees it.
    static QString workingDirectoryOf(const QProcess& process)
    {
        return QFileInfo(QStringLiteral("/proc/%1/cwd").arg(process.processId())).symLinkTarget();
    }

    static void stop(QProcess& process)
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(kStartMs);
        }
    }

    QTemporaryDir root_;
};

TEST_F(ProgramStartTest, FromTheMenuItWorksInItsDataFolder)
{
    ASSERT_TRUE(QDir().mkpath(home()));
    const QString dataFolder = home() + QStringLiteral("/.local/share/zentlog");

    for (const QString& start : {QStringLiteral("/"), home()}) {
        SCOPED_TRACE(start.toStdString());
        QProcess program;
        program.setProcessEnvironment(environment());
        program.setWorkingDirectory(start);
        program.start(kProgram, {});
        ASSERT_TRUE(program.waitForStarted(kStartMs));

        const QDeadlineTimer deadline(kStartMs);
        while (workingDirectoryOf(program) != dataFolder && program.state() == QProcess::Running
               && !deadline.hasExpired())
            QThread::msleep(50);
        EXPECT_EQ(workingDirectoryOf(program), dataFolder) << program.readAllStandardError().toStdString();
        EXPECT_EQ(program.state(), QProcess::Running) << "the program ended at its start";
        stop(program);
        EXPECT_TRUE(QFileInfo(dataFolder).isDir());
    }
    // Nothing of the program's beside the user's files in the home folder.
    EXPECT_EQ(QDir(home()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList());
}

TEST_F(ProgramStartTest, AMissingWorkdirIsNamedAndNothingIsCreated)
{
    ASSERT_TRUE(QDir().mkpath(home()));
    const QString missing = QDir(root_.path()).filePath(QStringLiteral("no-such-station"));
    QProcess program;
    program.setProcessEnvironment(environment());
    program.setWorkingDirectory(home());
    program.start(kProgram, {QStringLiteral("--workdir"), missing});
    ASSERT_TRUE(program.waitForStarted(kStartMs));

    // The message goes to standard error and to a box that waits for the user, so the program
    // is stopped here once the message is out.
    QByteArray err;
    const QDeadlineTimer deadline(kStartMs);
    // Until the message itself: Qt may write a warning of its own first.
    while (!err.contains("does not exist") && !deadline.hasExpired()) {
        program.waitForReadyRead(200);
        err += program.readAllStandardError();
        if (program.state() != QProcess::Running) {
            err += program.readAllStandardError();
            break;
        }
    }
    stop(program);
    EXPECT_TRUE(err.contains(missing.toLocal8Bit())) << err.toStdString();
    EXPECT_TRUE(err.contains("does not exist")) << err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_FALSE(QFileInfo::exists(home() + QStringLiteral("/.local")));
}

TEST_F(ProgramStartTest, HelpNamesTheWorkdirOptionAndVersionThePackageVersion)
{
    const testing_support::ToolRun help = testing_support::runTool(kProgram, {QStringLiteral("--help")}, root_.path(),
                                                                   environment(), kStartMs);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("--workdir <DIR>"))) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains(QStringLiteral(".local/share/zentlog"))) << help.out.toStdString();

    const testing_support::ToolRun version = testing_support::runTool(kProgram, {QStringLiteral("--version")},
                                                                      root_.path(), environment(), kStartMs);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.trimmed(), QStringLiteral("ZENTLOG 2.19.0"));
    // Neither created the data folder: asking for help starts nothing.
    EXPECT_FALSE(QFileInfo::exists(home()));
}

} // namespace
