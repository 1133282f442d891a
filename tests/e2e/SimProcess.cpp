#include "SimProcess.h"

#include "TestFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace testing_support {

SimProcess::SimProcess(const QStringList& stations, const QStringList& extra)
{
    writeConfig(stations);
    const bool network = extra.contains(QStringLiteral("--listen"));
    QStringList args{QStringLiteral("--config"), dir_.filePath(QStringLiteral("stations.conf")),
                     QStringLiteral("--log"), requestLogPath(), QStringLiteral("--fault-log"), faultLogPath()};
    if (!network)
        args << QStringLiteral("--link") << linkPath();
    process_.start(QStringLiteral(ZENTLOG_SIM), args + extra);
    // The first line it prints is its terminal or its address: from then on it serves.
    if (!process_.waitForStarted(5000) || !process_.waitForReadyRead(5000))
        ADD_FAILURE() << "zentlog-sim did not start: " << process_.readAllStandardError().toStdString();
    else if (network)
        address_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
    else if (!QFileInfo(linkPath()).exists())
        ADD_FAILURE() << "zentlog-sim made no link";
}

SimProcess::~SimProcess()
{
    if (process_.state() == QProcess::Running) {
        process_.terminate();
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(1000);
    }
}

void SimProcess::writeConfig(const QStringList& stations)
{
    writeFile(dir_.filePath(QStringLiteral("stations.conf")), stations.join(u'\n').toUtf8() + "\n");
}

QStringList SimProcess::requests() const
{
    QStringList result;
    QFile file(requestLogPath());
    if (!file.open(QIODevice::ReadOnly))
        return result;
    for (const QByteArray& line : file.readAll().split('\n')) {
        QStringList fields = QString::fromLatin1(line).split(u' ', Qt::SkipEmptyParts);
        if (fields.size() == 5)
            result << fields.mid(1).join(u' '); // without the time
    }
    return result;
}

void SimProcess::signal(int number)
{
    // A process that has ended has no id any more, and signalling id 0 would reach the test itself.
    const qint64 pid = process_.processId();
    if (process_.state() != QProcess::Running || pid <= 0) {
        ADD_FAILURE() << "zentlog-sim has ended (exit code " << process_.exitCode()
                      << "): " << process_.readAllStandardError().toStdString();
        return;
    }
    ::kill(static_cast<pid_t>(pid), number);
}

void SimProcess::reconfigure(const QStringList& stations)
{
    writeConfig(stations);
    process_.readAllStandardError();
    signal(SIGHUP);
    // Reloaded once it says so.
    for (int i = 0; i < 50 && !process_.readAllStandardError().contains("reloaded"); ++i)
        process_.waitForReadyRead(100);
}

void SimProcess::recreateLine()
{
    process_.readAllStandardOutput();
    signal(SIGUSR1);
    if (!process_.waitForReadyRead(3000))
        ADD_FAILURE() << "zentlog-sim did not re-create its terminal";
}

PollRun runPoll(const QStringList& arguments)
{
    QProcess poll;
    poll.start(QStringLiteral(ZENTLOG_POLL), arguments);
    PollRun run;
    if (!poll.waitForFinished(20000)) {
        ADD_FAILURE() << "zentlog-poll did not finish";
        poll.kill();
        poll.waitForFinished();
        return run;
    }
    run.exitCode = poll.exitStatus() == QProcess::NormalExit ? poll.exitCode() : -1;
    run.output = QString::fromUtf8(poll.readAllStandardOutput());
    run.errors = QString::fromUtf8(poll.readAllStandardError());
    return run;
}

} // namespace testing_support
