// The device of each port: ZENTLOG_COMn over the choice in "zentlog.ini" over the default; the
// choice stored without losing the rest of the file, never through a link, never half-written.

#include "serial/PortDevices.h"
#include "serial/SerialDevices.h"

#include "SmallFileSystem.h"
#include "TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace serial;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

class PortDevicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int port = 1; port <= 4; ++port)
            qunsetenv(environmentVariable(port).toLatin1().constData());
        useChosenDevices({});
    }
    void TearDown() override { SetUp(); }

    QString ini() const { return dir.filePath(QStringLiteral("zentlog.ini")); }
    static PortChoices choose(int port, const QString& device)
    {
        PortChoices choices;
        choices.devices[static_cast<size_t>(port - 1)] = device;
        return choices;
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(PortDevicesTest, TheEnvironmentGoesBeforeTheStoredChoiceWhichGoesBeforeTheDefault)
{
    EXPECT_EQ(deviceForPort(2), QStringLiteral("/dev/ttyS1"));
    useChosenDevices(choose(2, QStringLiteral("/dev/serial/by-id/usb-A-port0")));
    EXPECT_EQ(deviceForPort(2), QStringLiteral("/dev/serial/by-id/usb-A-port0"));
    EXPECT_EQ(deviceForPort(1), QStringLiteral("/dev/ttyS0")); // the others keep their default
    qputenv("ZENTLOG_COM2", "/dev/pts/7");
    EXPECT_EQ(deviceForPort(2), QStringLiteral("/dev/pts/7"));
    EXPECT_EQ(environmentDevice(2), QStringLiteral("/dev/pts/7"));
    qunsetenv("ZENTLOG_COM2");
    EXPECT_EQ(deviceForPort(2), QStringLiteral("/dev/serial/by-id/usb-A-port0"));
    EXPECT_EQ(deviceForPort(0), QString());
    EXPECT_EQ(deviceForPort(5), QString());
}

TEST_F(PortDevicesTest, LoadingTakesFullPathsAndTellsWhatItCannotUse)
{
    const PortChoices absent = PortChoices::load(dir.path());
    EXPECT_TRUE(absent.problem.isEmpty());
    EXPECT_FALSE(QFile::exists(ini())); // reading never creates the file

    writeFile(ini(), "[history]\nenabled=false\n[ports]\nCOM1=/dev/serial/by-id/usb-FTDI-port0\nCOM2=ttyUSB0\n"
                     "COM3=/dev/a, /dev/b\nCOM4=  \n");
    const PortChoices loaded = PortChoices::load(dir.path());
    EXPECT_EQ(loaded.devices[0], QStringLiteral("/dev/serial/by-id/usb-FTDI-port0"));
    EXPECT_EQ(loaded.devices[1], QString());
    EXPECT_EQ(loaded.devices[2], QString());
    EXPECT_EQ(loaded.devices[3], QString());
    EXPECT_TRUE(loaded.problem.contains(QStringLiteral("COM2=ttyUSB0 is not a full path"))) << loaded.problem.toStdString();
    EXPECT_TRUE(loaded.problem.contains(QStringLiteral("COM3=/dev/a, /dev/b is not one device"))) << loaded.problem.toStdString();
    EXPECT_FALSE(loaded.problem.contains(QStringLiteral("COM4")));
}

TEST_F(PortDevicesTest, SomethingOtherThanAFileAtTheNameIsToldAndNeverWaitedOn)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(ini()).constData(), 0600), 0);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(PortChoices::load(dir.path()).problem.contains(QStringLiteral("not a regular file")));
    const QString refusal = choose(1, QStringLiteral("/dev/ttyUSB0")).save(dir.path());
    EXPECT_TRUE(refusal.contains(QStringLiteral("not a regular file"))) << refusal.toStdString();
    EXPECT_LT(clock.elapsed(), 10000);
    QFile::remove(ini());

    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("zentlog.ini")));
    EXPECT_FALSE(PortChoices::load(dir.path()).problem.isEmpty());
    EXPECT_FALSE(choose(1, QStringLiteral("/dev/ttyUSB0")).save(dir.path()).isEmpty());
}

TEST_F(PortDevicesTest, SavingKeepsEveryOtherSectionAndReadsBackExactly)
{
    writeFile(ini(), "[history]\nenabled=false\nretention_days=30\n\n[diagnostics]\ntrace=true\n\n"
                     "[site]\nname=Pump house 2\n\n[ports]\nCOM4=/dev/ttyUSB9\n");
    // udev writes a space in a by-id name as \x20: the backslash must come back as it went.
    const QString byId = QStringLiteral(R"(/dev/serial/by-id/usb-Prolific\x20Technology_USB-Serial-if00-port0)");
    PortChoices choices;
    choices.devices[0] = byId;
    choices.devices[2] = QStringLiteral("/dev/pts/3");
    ASSERT_EQ(choices.save(dir.path()), QString());

    const PortChoices back = PortChoices::load(dir.path());
    EXPECT_TRUE(back.problem.isEmpty()) << back.problem.toStdString();
    EXPECT_EQ(back.devices[0], byId);
    EXPECT_EQ(back.devices[1], QString());
    EXPECT_EQ(back.devices[2], QStringLiteral("/dev/pts/3"));
    EXPECT_EQ(back.devices[3], QString()); // back to the default: the key is gone
    const QSettings file(ini(), QSettings::IniFormat);
    EXPECT_EQ(file.value(QStringLiteral("history/enabled")).toString(), QStringLiteral("false"));
    EXPECT_EQ(file.value(QStringLiteral("history/retention_days")).toString(), QStringLiteral("30"));
    EXPECT_EQ(file.value(QStringLiteral("diagnostics/trace")).toString(), QStringLiteral("true"));
    EXPECT_EQ(file.value(QStringLiteral("site/name")).toString(), QStringLiteral("Pump house 2"));
    EXPECT_FALSE(file.contains(QStringLiteral("ports/COM4")));
    // Nothing is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("zentlog.ini")});

    // A new file is made when there was none.
    QTemporaryDir fresh;
    ASSERT_EQ(choose(2, QStringLiteral("/dev/ttyACM0")).save(fresh.path()), QString());
    EXPECT_EQ(PortChoices::load(fresh.path()).devices[1], QStringLiteral("/dev/ttyACM0"));
}

TEST_F(PortDevicesTest, TheUsersCommentsAndLayoutStayAsTheyWereWritten)
{
    const QByteArray before = "; site Pump house 2, set up by J.\r\n[history]\r\nretention_days = 90 ; three months\r\n\r\n"
                              "[ports]\r\n; the FTDI cable on the left\r\nCOM1=/dev/ttyUSB0\r\nCOM3=/dev/ttyUSB1\r\n\r\n"
                              "[diagnostics]\r\ntrace=false\r\n";
    writeFile(ini(), before);
    PortChoices choices;
    choices.devices[0] = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0");
    choices.devices[1] = QStringLiteral("/dev/my adapter, \"blue\"");
    ASSERT_EQ(choices.save(dir.path()), QString());
    EXPECT_EQ(readFile(ini()),
              "; site Pump house 2, set up by J.\r\n[history]\r\nretention_days = 90 ; three months\r\n\r\n"
              "[ports]\r\n; the FTDI cable on the left\r\n"
              "COM1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0\r\n"
              "COM2=\"/dev/my adapter, \\\"blue\\\"\"\r\n\r\n[diagnostics]\r\ntrace=false\r\n");
    const PortChoices back = PortChoices::load(dir.path());
    EXPECT_EQ(back.devices[1], QStringLiteral("/dev/my adapter, \"blue\""));
    EXPECT_EQ(back.devices[2], QString());

    // Without a [ports] section one is added at the end.
    writeFile(ini(), "[history]\nenabled=false\n");
    ASSERT_EQ(choose(4, QStringLiteral("/dev/ttyACM0")).save(dir.path()), QString());
    EXPECT_EQ(readFile(ini()), "[history]\nenabled=false\n\n[ports]\nCOM4=/dev/ttyACM0\n");
}

TEST_F(PortDevicesTest, ALinkAtTheNameIsNeverWrittenThroughNorAHardLinkedTwin)
{
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere.ini"));
    const QByteArray original = "[history]\nenabled=true\n";
    writeFile(elsewhere, original);
    ASSERT_TRUE(QFile::link(elsewhere, ini()));
    const QString refusal = choose(1, QStringLiteral("/dev/ttyUSB0")).save(dir.path());
    EXPECT_TRUE(refusal.contains(QStringLiteral("symbolic link"))) << refusal.toStdString();
    EXPECT_EQ(readFile(elsewhere), original);
    EXPECT_TRUE(QFileInfo(ini()).isSymLink());
    QFile::remove(ini());

    // A second name of the same file keeps the old content: the new file replaces the name only.
    ASSERT_EQ(::link(QFile::encodeName(elsewhere).constData(), QFile::encodeName(ini()).constData()), 0);
    ASSERT_EQ(choose(1, QStringLiteral("/dev/ttyUSB0")).save(dir.path()), QString());
    EXPECT_EQ(readFile(elsewhere), original);
    EXPECT_EQ(PortChoices::load(dir.path()).devices[0], QStringLiteral("/dev/ttyUSB0"));
}

TEST_F(PortDevicesTest, AFullDiskLeavesTheOldFileWholeAndSaysWhy)
{
    hardening_test::SmallFileSystem disk;
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    const QString path = disk.filePath(QStringLiteral("zentlog.ini"));
    QByteArray original = "[history]\nenabled=false\n[site]\n";
    for (int i = 0; i < 40; ++i)
        original += "note" + QByteArray::number(i) + "=a line the user wrote about the site\n";
    writeFile(path, original);
    ASSERT_GT(disk.fill(QStringLiteral("filler")), 0);

    const QString error = choose(1, QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0"))
                              .save(disk.path());
    EXPECT_TRUE(error.contains(QStringLiteral("No space left on device"))) << error.toStdString();
    EXPECT_EQ(readFile(path), original);
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{QStringLiteral("filler"), QStringLiteral("zentlog.ini")}));
}

TEST_F(PortDevicesTest, DevicesAreToldFromFilesAndStableNamesFoundThroughTheirLinks)
{
    EXPECT_EQ(checkDevice(QStringLiteral("/dev/null")).kind, DeviceKind::CharacterDevice);
    writeFile(dir.filePath(QStringLiteral("plain")), "x");
    const DeviceCheck file = checkDevice(dir.filePath(QStringLiteral("plain")));
    EXPECT_EQ(file.kind, DeviceKind::NotADevice);
    EXPECT_EQ(file.what, QStringLiteral("a regular file"));
    EXPECT_EQ(checkDevice(dir.path()).what, QStringLiteral("a directory"));
    EXPECT_EQ(checkDevice(dir.filePath(QStringLiteral("gone"))).kind, DeviceKind::Missing);

    // A by-id link is checked as the device it points at; one whose adapter is gone is missing.
    const QString byId = dir.filePath(QStringLiteral("by-id"));
    ASSERT_TRUE(QDir().mkpath(byId));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), byId + QStringLiteral("/usb-Null-port0")));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("gone")), byId + QStringLiteral("/usb-Gone-port0")));
    writeFile(byId + QStringLiteral("/README"), "not a link");
    EXPECT_EQ(checkDevice(byId + QStringLiteral("/usb-Null-port0")).kind, DeviceKind::CharacterDevice);
    EXPECT_EQ(checkDevice(byId + QStringLiteral("/usb-Gone-port0")).kind, DeviceKind::Missing);

    const QHash<QString, QString> names = stableNames(byId);
    EXPECT_EQ(names.size(), 1);
    EXPECT_EQ(names.value(QStringLiteral("/dev/null")), byId + QStringLiteral("/usb-Null-port0"));
    EXPECT_TRUE(stableNames(dir.filePath(QStringLiteral("no-such-dir"))).isEmpty());
}
