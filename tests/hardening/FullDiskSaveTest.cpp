// Saving "config.txt" and "PortCom.dat" onto a file system with no room left, through the window
// commands a user presses: the save is refused with the file and the reason, and the files hold
// exactly what they held before.

#include "config/ChannelConfiguration.h"
#include "config/ConfigFile.h"
#include "config/ConfigW.h"
#include "serial/ConfLS.h"
#include "serial/FakeSerialControl.h"
#include "serial/PortComFile.h"
#include "serial/SerialSettings.h"

#include "ScriptedDialogs.h"
#include "SmallFileSystem.h"
#include "TestFiles.h"

#include <QDir>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

using hardening_test::SmallFileSystem;
using testing_support::readFile;
using testing_support::ScriptedDialogs;
using testing_support::writeFile;

namespace {

const QByteArray kPortCom = " 2  1 \r\n 1 \r\n 0 \r\n";
const QString kFiller = QStringLiteral("filler");

config::Channels sampleChannels()
{
    config::Channels channels{};
    channels[0] = {1, config::TypePH, QStringLiteral("3"), QStringLiteral("tank A"), true, false};
    channels[2] = {1, config::TypeFlow, QStringLiteral("4"), QStringLiteral("pump"), false, false};
    return channels;
}

class FullDiskSave : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!disk.mounted())
            GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
        writeFile(configPath(), configBytes);
        writeFile(portComPath(), kPortCom);
        ASSERT_GT(disk.fill(kFiller), 0);
    }
    void TearDown() override
    {
        delete configWindow.data();
        delete serialWindow.data();
    }

    QString configPath() const { return disk.filePath(QStringLiteral("config.txt")); }
    QString portComPath() const { return disk.filePath(QStringLiteral("PortCom.dat")); }
    QStringList files() const { return QDir(disk.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
    void makeRoom() { QFile::remove(disk.filePath(kFiller)); }

    config::ConfigW* openConfigWindow()
    {
        configWindow = new config::ConfigW(config::ConfigW::Services{channels, dialogs, {}, title, stopMarker, {}});
        configWindow->Form_Load();
        return configWindow;
    }
    serial::ConfLS* openSerialWindow()
    {
        serialWindow = new serial::ConfLS(serial::ConfLS::Services{settings, port, dialogs, disk.path(), {}, {}});
        serialWindow->Form_Load();
        return serialWindow;
    }
    template <class T>
    static T* child(QWidget* window, const QString& name)
    {
        T* widget = window->findChild<T*>(name);
        if (!widget)
            ADD_FAILURE() << "no control " << name.toStdString();
        return widget;
    }

    // The one box of a refused save: it names the file and says why.
    void expectRefusal(const char* file)
    {
        ASSERT_EQ(dialogs.boxes.size(), 1) << dialogs.texts().join(QLatin1Char('|')).toStdString();
        const QString& text = dialogs.boxes[0].text;
        EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Critical);
        EXPECT_TRUE(text.contains(QStringLiteral("\"%1\"").arg(QLatin1String(file)))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("No space left on device"))) << text.toStdString();
    }

    SmallFileSystem disk;
    QByteArray configBytes = config::serializeConfig(sampleChannels());
    ScriptedDialogs dialogs;
    config::ChannelConfiguration channels{dialogs, disk.path()};
    QString title;
    QByteArray stopMarker;
    serial::SerialSettings settings;
    serial::FakeSerialControl port;
    QPointer<config::ConfigW> configWindow;
    QPointer<serial::ConfLS> serialWindow;
};

} // namespace

TEST_F(FullDiskSave, OkInTheConfigurationWindowKeepsTheOldFileAndSaysWhy)
{
    config::ConfigW* window = openConfigWindow();
    ASSERT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join(QLatin1Char('|')).toStdString();
    channels.setTag(0, QStringLiteral("a longer tag than before"));
    child<QPushButton>(window, QStringLiteral("Commande1"))->click();

    expectRefusal("config.txt");
    EXPECT_EQ(readFile(configPath()), configBytes);
    EXPECT_TRUE(window->isVisible()); // the edits stay on screen
    EXPECT_EQ(files(), (QStringList{QStringLiteral("PortCom.dat"), QStringLiteral("config.txt"), kFiller}));

    // With room again, the same OK saves.
    makeRoom();
    dialogs.clear();
    child<QPushButton>(window, QStringLiteral("Commande1"))->click();
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_EQ(config::parseConfig(readFile(configPath())).channels[0].tag, QStringLiteral("a longer tag than before"));
}

TEST_F(FullDiskSave, ValidationInTheSerialInterfaceWindowKeepsTheOldFileAndSaysWhy)
{
    serial::ConfLS* window = openSerialWindow();
    ASSERT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join(QLatin1Char('|')).toStdString();
    child<QRadioButton>(window, QStringLiteral("Option2_2"))->click(); // 2400 baud
    ASSERT_EQ(settings.rateIndex, 2);
    child<QPushButton>(window, QStringLiteral("Command1"))->click();

    expectRefusal("PortCom.dat");
    EXPECT_EQ(readFile(portComPath()), kPortCom);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(files(), (QStringList{QStringLiteral("PortCom.dat"), QStringLiteral("config.txt"), kFiller}));

    makeRoom();
    dialogs.clear();
    child<QPushButton>(window, QStringLiteral("Command1"))->click();
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_EQ(readFile(portComPath()), " 2  2 \r\n 1 \r\n 0 \r\n");
}

TEST_F(FullDiskSave, AnUnreadableFileThatCannotBeKeptIsNotReplaced)
{
    // A damaged "config.txt" is kept as "config.txt.bad" before the save; with no room for that
    // copy, nothing is saved and the damaged file stays as it is.
    const QByteArray damaged = "1,5\r\n\"3\",\"PUMP A\"\r\nthis is not a configuration\r\n";
    QFile::remove(disk.filePath(kFiller));
    writeFile(configPath(), damaged);
    ASSERT_GT(disk.fill(kFiller), 0);
    config::ConfigW* window = openConfigWindow();
    ASSERT_EQ(dialogs.boxes.size(), 1); // the load's message
    dialogs.clear();
    channels.setSelected(1, 1);
    channels.setStationAddress(1, QStringLiteral("5"));
    child<QPushButton>(window, QStringLiteral("Commande1"))->click();

    expectRefusal("config.txt");
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("config.txt.bad"))) << dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(readFile(configPath()), damaged);
    EXPECT_FALSE(QFile::exists(disk.filePath(QStringLiteral("config.txt.bad"))));
}
