// The serial interface window: the port probe, the live choices, Validation, Reading, Cancel.

#include "serial/ConfLS.h"
#include "serial/FakeSerialControl.h"
#include "serial/PortComFile.h"
#include "serial/QtSerialControl.h"
#include "serial/SerialDevices.h"
#include "serial/SerialPort.h"

#include "PtyPeer.h"
#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace serial;
using testing_support::PtyPeer;
using testing_support::readFile;
using testing_support::ScriptedDialogs;
using testing_support::writeFile;

namespace {

// COM4, 4800 baud, odd parity, 2 stop bits.
const QByteArray kStored = " 4  1 \r\n 2 \r\n 1 \r\n";

class ConfLSTest : public ::testing::Test {
protected:
    ~ConfLSTest() override { delete window.data(); }

    QString path() const { return dir.filePath(QStringLiteral("PortCom.dat")); }

    void open(SerialControl& port, const QByteArray& stored = kStored)
    {
        writeFile(path(), stored);
        window = new ConfLS(ConfLS::Services{settings, port, dialogs, dir.path(), [this] { return cycleRunning; },
                                             [this] {
                                                 auto spare = std::make_unique<FakeSerialControl>();
                                                 spare->setUnopenable(unopenable);
                                                 return spare;
                                             }});
        window->Form_Load();
    }
    void open(const QByteArray& stored = kStored) { open(fake, stored); }

    QRadioButton* option(int group, int element) const
    {
        auto* w = window->findChild<QRadioButton*>(QStringLiteral("Option%1_%2").arg(group).arg(element));
        if (!w)
            ADD_FAILURE() << "no option " << group << "_" << element;
        return w;
    }
    // A click on the option's button, as a user makes it.
    static void click(QRadioButton* option)
    {
        QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(8, option->height() / 2));
    }
    QPushButton* command(int n) const { return window->findChild<QPushButton*>(QStringLiteral("Command%1").arg(n)); }
    QStringList enabledPorts() const
    {
        QStringList result;
        for (int k = 0; k < 4; ++k) {
            if (option(1, k)->isEnabled())
                result << QStringLiteral("Com%1").arg(k + 1);
        }
        return result;
    }
    // Which option of each group is chosen, as element numbers: port, rate, parity, stop.
    QList<int> choices() const
    {
        QList<int> result;
        for (int group = 1; group <= 4; ++group) {
            int chosen = -1;
            for (int k = 0; k < 4; ++k) {
                auto* w = window->findChild<QRadioButton*>(QStringLiteral("Option%1_%2").arg(group).arg(k));
                if (w && w->isChecked())
                    chosen = k;
            }
            result << chosen;
        }
        return result;
    }

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    SerialSettings settings;
    FakeSerialControl fake;
    std::set<int> unopenable;
    bool cycleRunning = false;
    QPointer<ConfLS> window;
};

} // namespace

TEST_F(ConfLSTest, LoadProbesThePortsAndChoosesTheStoredSettings)
{
    fake.setUnopenable({2});
    open();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Serial interface conf."));
    QStringList frames;
    for (int k = 1; k <= 4; ++k)
        frames << window->findChild<QGroupBox*>(QStringLiteral("Frame%1").arg(k))->title();
    EXPECT_EQ(frames, (QStringList{"Port", "Rate", "Parity", "Stop"}));
    EXPECT_EQ(command(1)->text(), QStringLiteral("Validation"));
    EXPECT_EQ(command(2)->text(), QStringLiteral("Reading"));
    EXPECT_EQ(command(3)->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(option(3, 1)->text(), QStringLiteral("EVEN"));
    EXPECT_EQ(option(2, 2)->text(), QStringLiteral("2400"));
    EXPECT_EQ(option(4, 1)->text(), QStringLiteral("2"));
    EXPECT_EQ(option(1, 0)->text(), QStringLiteral("Com1  ") + deviceForPort(1));

    EXPECT_EQ(enabledPorts(), (QStringList{"Com1", "Com3", "Com4"}));
    EXPECT_EQ(fake.openedPorts(), (QList<int>{1, 3, 4}));
    EXPECT_FALSE(fake.PortOpen());
    EXPECT_EQ(choices(), (QList<int>{3, 1, 2, 1}));
    EXPECT_EQ(settings.portNumber, 4);
    EXPECT_EQ(settings.settingsString(), "4800,o,8, 2");
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

TEST_F(ConfLSTest, AStoredPortThatCannotBeOpenedGivesCom1UntilValidated)
{
    fake.setUnopenable({3});
    open(" 3  0 \r\n 0 \r\n 0 \r\n");
    EXPECT_EQ(choices(), (QList<int>{0, 0, 0, 0}));
    EXPECT_EQ(settings.portNumber, 1);
    EXPECT_EQ(readFile(path()), " 3  0 \r\n 0 \r\n 0 \r\n");

    click(option(1, 1));
    EXPECT_EQ(settings.portNumber, 2);
    command(3)->click(); // Cancel: the same outcome again, without a new probe
    EXPECT_EQ(choices(), (QList<int>{0, 0, 0, 0}));
    EXPECT_EQ(settings.portNumber, 1);
    EXPECT_FALSE(option(1, 2)->isEnabled());
    EXPECT_EQ(fake.openCount(), 3);
    EXPECT_FALSE(window->isVisible());

    window->show();
    command(1)->click();
    EXPECT_EQ(readFile(path()), " 1  0 \r\n 0 \r\n 0 \r\n");
    EXPECT_FALSE(window->isVisible());
}

TEST_F(ConfLSTest, ChoicesAreLiveAndCancelRestoresTheStoredOnes)
{
    open(" 1  0 \r\n 0 \r\n 0 \r\n");
    click(option(2, 1));
    click(option(3, 1));
    click(option(4, 1));
    click(option(1, 2));
    EXPECT_EQ(settings.settingsString(), "4800,e,8, 2");
    EXPECT_EQ(settings.rateIndex, 1);
    EXPECT_EQ(settings.parityIndex, 1);
    EXPECT_EQ(settings.stopIndex, 1);
    EXPECT_EQ(settings.portNumber, 3);
    EXPECT_FALSE(fake.PortOpen()); // choosing touches neither the port nor the file
    EXPECT_EQ(readFile(path()), " 1  0 \r\n 0 \r\n 0 \r\n");

    command(3)->click();
    EXPECT_EQ(choices(), (QList<int>{0, 0, 0, 0}));
    EXPECT_EQ(settings.settingsString(), "9600,n,8, 1");
    EXPECT_EQ(settings.portNumber, 1);
}

TEST_F(ConfLSTest, ValidationStoresTheChosenRatePosition)
{
    open(" 2  0 \r\n 0 \r\n 0 \r\n");
    click(option(2, 1));
    command(1)->click();
    EXPECT_EQ(readFile(path()), " 2  1 \r\n 0 \r\n 0 \r\n");
    EXPECT_FALSE(window->isVisible());
}

TEST_F(ConfLSTest, TheCloseBoxCancelsUnlessACycleRunsAndDestroysTheWindow)
{
    open();
    QSignalSpy discarded(window.data(), &ConfLS::discarded);
    click(option(2, 0));
    window->close();
    EXPECT_EQ(settings.rateIndex, 1);
    EXPECT_EQ(discarded.count(), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());

    open();
    cycleRunning = true;
    click(option(2, 2));
    window->close();
    EXPECT_EQ(settings.rateIndex, 2);
    EXPECT_EQ(settings.rateText, "2400");
}

TEST_F(ConfLSTest, APortTheProgramHoldsOpenIsNeitherProbedNorClosed)
{
    SerialSettings held = SerialSettings::defaults();
    held.portNumber = 2;
    held.deriveTexts();
    ASSERT_TRUE(OpenSerialPort(held, fake));
    unopenable = {2, 3}; // what a spare control finds: COM2 is busy, held by the program
    open(" 2  0 \r\n 0 \r\n 0 \r\n");
    EXPECT_TRUE(fake.PortOpen());
    EXPECT_EQ(fake.CommPort(), 2);
    EXPECT_EQ(fake.openCount(), 1);
    EXPECT_EQ(enabledPorts(), (QStringList{"Com1", "Com2", "Com4"}));

    // Reading keeps the open port open; choosing another port first says so.
    command(2)->click();
    EXPECT_TRUE(fake.PortOpen());
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    click(option(1, 3));
    command(2)->click();
    EXPECT_TRUE(fake.PortOpen());
    EXPECT_EQ(fake.CommPort(), 2);
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("COM2"))) << dialogs.boxes[0].text.toStdString();
}

TEST_F(ConfLSTest, WithRealDevicesAMissingOneIsGreyedOutAndReadingOpensAPseudoTerminal)
{
    PtyPeer com1;
    PtyPeer com3;
    PtyPeer com4;
    ASSERT_FALSE(com1.path().isEmpty());
    qputenv("ZENTLOG_COM1", com1.path().toLocal8Bit());
    qputenv("ZENTLOG_COM2", "/dev/zentlog-no-such-device");
    qputenv("ZENTLOG_COM3", com3.path().toLocal8Bit());
    qputenv("ZENTLOG_COM4", com4.path().toLocal8Bit());
    {
        QtSerialControl port;
        open(port, " 1  0 \r\n 0 \r\n 0 \r\n");
        EXPECT_EQ(enabledPorts(), (QStringList{"Com1", "Com3", "Com4"}));
        EXPECT_EQ(option(1, 0)->text(), QStringLiteral("Com1  ") + com1.path());
        EXPECT_FALSE(port.PortOpen());

        command(2)->click();
        EXPECT_TRUE(port.PortOpen());
        EXPECT_EQ(port.Settings(), "9600,n,8, 1");
        EXPECT_EQ(port.deviceName(), com1.path());
        port.Output("\x01\x03");
        testing_support::waitFor([&] { return port.OutBufferCount() == 0; }, 5000);
        EXPECT_EQ(com1.read(2, 5000), QByteArray("\x01\x03"));
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(dialogs.boxes.isEmpty());
        CloseSerialPort(port);

        // A port that fails to open is reported with its device.
        click(option(1, 1)); // greyed out: no choice
        EXPECT_EQ(settings.portNumber, 1);
        settings.portNumber = 2;
        command(2)->click();
        EXPECT_FALSE(port.PortOpen());
        EXPECT_EQ(dialogs.beeps, 1);
        ASSERT_EQ(dialogs.boxes.size(), 1);
        EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("COM2")));
        EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("/dev/zentlog-no-such-device")));
        delete window.data();
    }
    for (const char* name : {"ZENTLOG_COM1", "ZENTLOG_COM2", "ZENTLOG_COM3", "ZENTLOG_COM4"})
        qunsetenv(name);
}

TEST_F(ConfLSTest, ANetworkPortSaysRateAndParityDoNotApplyAndKeepsThem)
{
    qputenv("ZENTLOG_COM4", "rtu+tcp://127.0.0.1:4001");
    open();
    const auto* note = window->findChild<QLabel*>(QStringLiteral("NetworkNote"));
    EXPECT_TRUE(note->isVisible()); // COM4 is stored
    click(option(1, 0));
    EXPECT_FALSE(note->isVisible());
    click(option(1, 3));
    EXPECT_TRUE(note->isVisible());
    command(1)->click();
    EXPECT_EQ(readFile(path()), kStored);
    qunsetenv("ZENTLOG_COM4");
}
