// "config.txt" and "PortCom.dat" that are not regular files: a FIFO, a link to one, a directory.
// Loading and saving refuse them with a message naming the file, at once, and leave them as
// they are.

#include "config/ChannelConfiguration.h"
#include "config/ConfigFile.h"
#include "serial/PortComFile.h"
#include "serial/SerialSettings.h"

#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::ScriptedDialogs;

namespace {

using namespace std::chrono_literals;

// Runs `work` on another thread and waits a generous while for it. Should it hang on a FIFO, the
// FIFO is opened from this side so that the stuck open returns, and the test fails instead of
// hanging.
template <class Work>
auto finishesInTime(Work work, const QString& fifo)
{
    auto done = std::async(std::launch::async, std::move(work));
    if (done.wait_for(30s) != std::future_status::ready) {
        ADD_FAILURE() << "blocked on " << fifo.toStdString();
        const QByteArray name = fifo.toLocal8Bit();
        // Opening and closing either end wakes an open of the other one, and a reader then
        // sees the end of the file.
        int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
        if (fd < 0)
            fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        done.wait();
    }
    return done.get();
}

bool isFifo(const QString& path)
{
    struct stat status {};
    return ::lstat(path.toLocal8Bit().constData(), &status) == 0 && S_ISFIFO(status.st_mode);
}

class NonRegularFiles : public ::testing::Test {
protected:
    QString configPath() const { return dir.filePath(QStringLiteral("config.txt")); }
    QString portComPath() const { return dir.filePath(QStringLiteral("PortCom.dat")); }
    void makeFifo(const QString& path) { ASSERT_EQ(::mkfifo(path.toLocal8Bit().constData(), 0600), 0); }

    // The one box names the file and says it is not a regular file.
    void expectOneBox(const char* file, const char* says)
    {
        ASSERT_EQ(dialogs.boxes.size(), 1) << dialogs.texts().join(QLatin1Char('|')).toStdString();
        const QString& text = dialogs.boxes[0].text;
        EXPECT_TRUE(text.contains(QStringLiteral("\"%1\"").arg(QLatin1String(file)))) << text.toStdString();
        EXPECT_TRUE(text.contains(QLatin1String(says))) << text.toStdString();
    }

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
};

} // namespace

TEST_F(NonRegularFiles, AFifoIsNeitherReadNorWrittenAndStaysAFifo)
{
    makeFifo(configPath());
    makeFifo(portComPath());
    config::ChannelConfiguration channels(dialogs, dir.path());

    EXPECT_FALSE(finishesInTime([&] { return channels.LoadChannelConfig(); }, configPath()));
    expectOneBox("config.txt", "is not a regular file");
    EXPECT_EQ(channels.channel(0), config::ChannelConfig{});

    dialogs.clear();
    serial::SerialSettings settings;
    EXPECT_FALSE(finishesInTime([&] { return serial::LoadSerialSettings(settings, dialogs, dir.path()); }, portComPath()));
    expectOneBox("PortCom.dat", "is not a regular file");
    EXPECT_EQ(settings.settingsString(), "9600,n,8, 1");

    // Saving onto them is refused as well (no copy is kept of something that is not a file).
    dialogs.clear();
    channels.setTag(0, QStringLiteral("new"));
    EXPECT_FALSE(finishesInTime([&] { return channels.SaveChannelConfig(); }, configPath()));
    expectOneBox("config.txt", "is not a regular file");
    dialogs.clear();
    EXPECT_FALSE(finishesInTime([&] { return serial::SaveSerialSettings(settings, dialogs, dir.path()); }, portComPath()));
    expectOneBox("PortCom.dat", "is not a regular file");

    EXPECT_TRUE(isFifo(configPath()));
    EXPECT_TRUE(isFifo(portComPath()));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size(), 2);
}

TEST_F(NonRegularFiles, ALinkToAFifoIsRefusedLikeTheFifo)
{
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    makeFifo(fifo);
    ASSERT_TRUE(QFile::link(fifo, configPath()));
    config::ChannelConfiguration channels(dialogs, dir.path());
    EXPECT_FALSE(finishesInTime([&] { return channels.LoadChannelConfig(); }, fifo));
    expectOneBox("config.txt", "is not a regular file");
    dialogs.clear();
    EXPECT_FALSE(finishesInTime([&] { return channels.SaveChannelConfig(); }, fifo));
    expectOneBox("config.txt", "is not a regular file");
    EXPECT_TRUE(QFileInfo(configPath()).isSymLink());
    EXPECT_TRUE(isFifo(fifo));
}

TEST_F(NonRegularFiles, ADirectoryAtTheNameIsRefusedAndLeftAlone)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("config.txt")));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("PortCom.dat")));
    testing_support::writeFile(dir.filePath(QStringLiteral("config.txt/inside")), "kept");
    config::ChannelConfiguration channels(dialogs, dir.path());
    EXPECT_FALSE(channels.LoadChannelConfig());
    expectOneBox("config.txt", "it is a directory, not a regular file");
    dialogs.clear();
    EXPECT_FALSE(channels.SaveChannelConfig());
    expectOneBox("config.txt", "not a regular file");
    dialogs.clear();
    EXPECT_FALSE(serial::SaveSerialSettings(serial::SerialSettings::defaults(), dialogs, dir.path()));
    expectOneBox("PortCom.dat", "not a regular file");
    EXPECT_TRUE(QFileInfo(configPath()).isDir());
    EXPECT_TRUE(QFileInfo(portComPath()).isDir());
    EXPECT_EQ(testing_support::readFile(dir.filePath(QStringLiteral("config.txt/inside"))), "kept");
}
