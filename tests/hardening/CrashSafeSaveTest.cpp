// Kills a process at random moments while it saves "config.txt" and "PortCom.dat" and checks that
// each file always holds one of the two complete contents, never a mix or a part.

#include "config/ConfigFile.h"
#include "serial/PortComFile.h"

#include "TestFiles.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

QByteArray configContents(bool second)
{
    config::Channels channels{};
    for (int i = 0; i < config::kChannelCount; ++i) {
        auto& c = channels[static_cast<size_t>(i)];
        c.selected = second ? 1 : 0;
        c.measurementType = static_cast<int16_t>(second ? i + 4 : -1);
        c.stationAddress = second ? QString::number(i + 10) : QString::number(i + 1);
        c.tag = second ? QStringLiteral("second tag %1 with some length to it").arg(i) : QStringLiteral("first %1").arg(i);
    }
    return config::serializeConfig(channels);
}

QByteArray portComContents(bool second)
{
    serial::SerialSettings settings = serial::SerialSettings::defaults();
    settings.portNumber = second ? 4 : 1;
    settings.rateIndex = second ? 2 : 0;
    return serial::serializePortCom(settings);
}

} // namespace

TEST(CrashSafeSave, FilesAreAlwaysTheOldOrTheNewCompleteContent)
{
    QTemporaryDir dir;
    const QString configPath = dir.filePath(QStringLiteral("config.txt"));
    const QString portComPath = dir.filePath(QStringLiteral("PortCom.dat"));
    testing_support::writeFile(configPath, configContents(false));
    testing_support::writeFile(portComPath, portComContents(false));
    const QList<QByteArray> configs{configContents(false), configContents(true)};
    const QList<QByteArray> portComs{portComContents(false), portComContents(true)};

    QRandomGenerator random(20261208);
    constexpr int kKills = 200;
    int bothContentsSeen = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        QProcess saver;
        saver.start(QStringLiteral(ZENTLOG_SAVE_LOOP), {dir.path()});
        ASSERT_TRUE(saver.waitForStarted(10000));
        ASSERT_TRUE(saver.waitForReadyRead(10000)); // "saving": the loop runs
        QThread::usleep(random.bounded(20000));
        ::kill(static_cast<pid_t>(saver.processId()), SIGKILL);
        ASSERT_TRUE(saver.waitForFinished(10000));

        const QByteArray config = testing_support::readFile(configPath);
        const QByteArray portCom = testing_support::readFile(portComPath);
        ASSERT_TRUE(configs.contains(config)) << "kill " << kill << ": " << config.toStdString();
        ASSERT_TRUE(portComs.contains(portCom)) << "kill " << kill << ": " << portCom.toStdString();
        if (config == configs[1])
            ++bothContentsSeen;
    }
    // The kills really landed at different points of the loop.
    EXPECT_GT(bothContentsSeen, 0);
    EXPECT_LT(bothContentsSeen, kKills);
    RecordProperty("kills", kKills);
    RecordProperty("new_content_seen", bothContentsSeen);
    RecordProperty("leftover_temporary_files",
                   static_cast<int>(QDir(dir.path()).entryList(QDir::Files).size()) - 2);
}
