#include "serial/PortComFile.h"
#include "serial/SerialDevices.h"
#include "serial/SerialSettings.h"

#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace serial;
using testing_support::readFile;
using testing_support::ScriptedDialogs;
using testing_support::writeFile;

namespace {
SerialSettings settings(int16_t port, int16_t rate, int16_t parity, int16_t stop)
{
    SerialSettings s;
    s.portNumber = port;
    s.rateIndex = rate;
    s.parityIndex = parity;
    s.stopIndex = stop;
    s.deriveTexts();
    return s;
}

void expectPositions(const SerialSettings& s, int port, int rate, int parity, int stop)
{
    EXPECT_EQ(s.portNumber, port);
    EXPECT_EQ(s.rateIndex, rate);
    EXPECT_EQ(s.parityIndex, parity);
    EXPECT_EQ(s.stopIndex, stop);
}

class PortComFileTest : public ::testing::Test {
protected:
    QString path() const { return dir.filePath(QStringLiteral("PortCom.dat")); }
    // Loads the file as it stands and returns the settings.
    SerialSettings load(const QByteArray& contents)
    {
        writeFile(path(), contents);
        SerialSettings s;
        LoadSerialSettings(s, dialogs, dir.path());
        return s;
    }
    // A bad file gives one message naming the file, the defaults, and an untouched file.
    void expectRefused(const QByteArray& contents)
    {
        dialogs.clear();
        const SerialSettings s = load(contents);
        expectPositions(s, 1, 0, 0, 0);
        EXPECT_EQ(s.settingsString(), "9600,n,8, 1");
        ASSERT_EQ(dialogs.boxes.size(), 1);
        EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("\"PortCom.dat\"")));
        EXPECT_EQ(readFile(path()), contents);
    }

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
};
} // namespace

TEST(SerialSettings, SettingsStringHasABlankBeforeTheStopBits)
{
    EXPECT_EQ(settings(1, 0, 0, 0).settingsString(), "9600,n,8, 1");
    EXPECT_EQ(settings(1, 1, 1, 1).settingsString(), "4800,e,8, 2");
    EXPECT_EQ(settings(1, 2, 2, 0).settingsString(), "2400,o,8, 1");
    EXPECT_EQ(parityLetters[3], QByteArray());
}

TEST(SerialSettings, SettingsStringsAreUnderstoodByThePortLayer)
{
    const auto line = parseSettingsString("4800,e,8, 2");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->baudRate, 4800);
    EXPECT_EQ(line->parity, 'e');
    EXPECT_EQ(line->dataBits, 8);
    EXPECT_EQ(line->stopBits, 2);
    EXPECT_FALSE(parseSettingsString("9600,,8, 1"));   // parity letter of index 3
    EXPECT_FALSE(parseSettingsString("9600,n,8"));
    EXPECT_FALSE(parseSettingsString("fast,n,8, 1"));
    EXPECT_FALSE(parseSettingsString("9600,n,8, 3"));
}

TEST(SerialSettings, PortsMapToDevicesWithAnEnvironmentOverride)
{
    qunsetenv("ZENTLOG_COM2");
    EXPECT_EQ(deviceForPort(2), QStringLiteral("/dev/ttyS1"));
    qputenv("ZENTLOG_COM2", "/dev/ttyUSB0");
    EXPECT_EQ(deviceForPort(2), QStringLiteral("/dev/ttyUSB0"));
    qunsetenv("ZENTLOG_COM2");
    EXPECT_EQ(deviceForPort(0), QString());
    EXPECT_EQ(deviceForPort(5), QString());
}

TEST_F(PortComFileTest, SavesThreeLinesOfBlankFramedNumbersAndReadsThemBack)
{
    ASSERT_TRUE(SaveSerialSettings(settings(3, 1, 2, 1), dialogs, dir.path()));
    EXPECT_EQ(readFile(path()), " 3  1 \r\n 2 \r\n 1 \r\n");
    SerialSettings back;
    EXPECT_TRUE(LoadSerialSettings(back, dialogs, dir.path()));
    expectPositions(back, 3, 1, 2, 1);
    EXPECT_EQ(back.settingsString(), "4800,o,8, 2");
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

TEST_F(PortComFileTest, ReadsFourNumbersWhateverTheLineLayout)
{
    expectPositions(load(" 2  2  1  1 \r\n"), 2, 2, 1, 1);
    expectPositions(load("2\r\n2\r\n1\r\n1\r\n"), 2, 2, 1, 1);
    expectPositions(load(" 2  2 \n 1 \n 1 \n"), 2, 2, 1, 1); // LF alone
    expectPositions(load("2,2,1,1"), 2, 2, 1, 1);
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

TEST_F(PortComFileTest, BadFilesAreReportedAndGiveTheDefaults)
{
    expectRefused("");
    expectRefused(" 2  1 \r\n 1 \r\n");        // three numbers
    expectRefused(" 2  x \r\n 1 \r\n 1 \r\n");  // not a number
    expectRefused(QByteArray("\x00\x01\x02\xff", 4));
    expectRefused(QByteArray(10 * 1024 * 1024, 'j'));
}

TEST_F(PortComFileTest, MissingFileIsReportedAndNotCreated)
{
    SerialSettings s;
    EXPECT_FALSE(LoadSerialSettings(s, dialogs, dir.path()));
    expectPositions(s, 1, 0, 0, 0);
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(PortComFileTest, ValuesOutsideTheirRangeAreReplacedOneByOne)
{
    const SerialSettings s = load(" 7  2 \r\n 9 \r\n 1 \r\n");
    expectPositions(s, 1, 2, 0, 1);
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("7")));
    EXPECT_EQ(readFile(path()), " 7  2 \r\n 9 \r\n 1 \r\n");
}

TEST(PortComFormat, EveryNumberHasABlankBeforeAndAfterAndLinesEndInCrLf)
{
    EXPECT_EQ(serializePortCom(settings(1, 0, 0, 0)), QByteArray(" 1  0 \r\n 0 \r\n 0 \r\n"));
    EXPECT_EQ(serializePortCom(settings(4, 2, 1, 1)), QByteArray(" 4  2 \r\n 1 \r\n 1 \r\n"));
    EXPECT_EQ(serializePortCom(settings(2, 1, 2, 0)), QByteArray(" 2  1 \r\n 2 \r\n 0 \r\n"));
    // A negative number has its minus sign where the blank would be (never stored by the window,
    // but the format has room for it).
    EXPECT_EQ(serializePortCom(settings(-1, 0, 0, 0)), QByteArray("-1  0 \r\n 0 \r\n 0 \r\n"));
    EXPECT_EQ(serializePortCom(settings(12, 0, 0, 0)).left(5), QByteArray(" 12  "));
}

TEST_F(PortComFileTest, AFileOfExactlyTheSizeLimitIsReadAndOneByteMoreIsNot)
{
    QByteArray text = " 3  1 \r\n 2 \r\n 1 \r\n";
    text += QByteArray(kPortComMaxBytes - text.size(), ' ');
    ASSERT_EQ(text.size(), kPortComMaxBytes);
    expectPositions(load(text), 3, 1, 2, 1);
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join(QLatin1Char('|')).toStdString();
    expectRefused(text + ' ');
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("larger than 4096 bytes"))) << dialogs.boxes[0].text.toStdString();
}

TEST_F(PortComFileTest, SavingOverAnUnreadableFileKeepsItAsBad)
{
    const QString kept = dir.filePath(QStringLiteral("PortCom.dat.bad"));
    const QByteArray damaged = " 2  x \r\n 1 \r\n 1 \r\n";
    SerialSettings s = load(damaged);
    ASSERT_EQ(dialogs.boxes.size(), 1);
    dialogs.clear();
    s.portNumber = 3;
    ASSERT_TRUE(SaveSerialSettings(s, dialogs, dir.path()));
    EXPECT_EQ(readFile(kept), damaged);
    EXPECT_EQ(readFile(path()), " 3  0 \r\n 0 \r\n 0 \r\n");
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Information);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("\"PortCom.dat.bad\""))) << dialogs.boxes[0].text.toStdString();

    // A readable file, even one with a value out of range, is simply replaced.
    QFile::remove(kept);
    s = load(" 7  2 \r\n 1 \r\n 1 \r\n");
    dialogs.clear();
    ASSERT_TRUE(SaveSerialSettings(s, dialogs, dir.path()));
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_FALSE(QFile::exists(kept));
}
