#include "ToolRun.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace testing_support {

ToolRun runTool(const QString& program, const QStringList& arguments, const QString& directory,
                const QProcessEnvironment& environment, int ms)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(directory);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(ms)) << "the tool did not end";
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

QProcessEnvironment environmentWithLocale(const QString& locale)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), locale);
    return env;
}

} // namespace testing_support
