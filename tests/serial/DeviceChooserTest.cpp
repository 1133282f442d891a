// The device chooser: its lists from the system's ports and their stable names, a refresh that
// keeps what the user typed, OK that stores and Cancel that does not, the notes beside a port;
// and a chosen pseudo-terminal or by-id link that the program's port then really opens.

#include "serial/ConfLS.h"
#include "serial/DeviceChooser.h"
#include "serial/FakeSerialControl.h"
#include "serial/QtSerialControl.h"
#include "serial/SerialDevices.h"
#include "serial/SerialSettings.h"

#include "PtyPeer.h"
#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace serial;
using testing_support::PtyPeer;
using testing_support::readFile;
using testing_support::ScriptedDialogs;
using testing_support::writeFile;

namespace {

class DeviceChooserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(adapterA.path().isEmpty());
        for (int port = 1; port <= 4; ++port)
            qunsetenv(environmentVariable(port).toLatin1().constData());
        useChosenDevices({});
        ASSERT_TRUE(QDir().mkpath(byId()));
        ASSERT_TRUE(QFile::link(adapterA.path(), stableName()));
        ports = {{QStringLiteral("ttyUSB0"), adapterA.path(), QStringLiteral("FT232R USB UART"), QStringLiteral("FTDI"),
                  QStringLiteral("A12345")},
                 {QStringLiteral("ttyACM0"), adapterB.path(), QString(), QString(), QString()}};
    }
    void TearDown() override
    {
        delete chooser.data();
        for (int port = 1; port <= 4; ++port)
            qunsetenv(environmentVariable(port).toLatin1().constData());
        useChosenDevices({});
    }

    QString byId() const { return dir.filePath(QStringLiteral("by-id")); }
    QString stableName() const { return byId() + QStringLiteral("/usb-FTDI_FT232R_USB_UART_A12345-if00-port0"); }
    QString ini() const { return dir.filePath(QStringLiteral("zentlog.ini")); }

    void open()
    {
        delete chooser.data();
        chooser = new DeviceChooser(DeviceChooser::Services{dialogs, dir.path(), [this] { return ports; }, byId()});
        chooser->show();
    }
    QComboBox* box(int port) const { return chooser->findChild<QComboBox*>(QStringLiteral("Device%1").arg(port)); }
    QLabel* note(int port) const { return chooser->findChild<QLabel*>(QStringLiteral("Note%1").arg(port)); }
    QStringList items(int port) const
    {
        QStringList texts;
        for (int k = 0; k < box(port)->count(); ++k)
            texts << box(port)->itemText(k);
        return texts;
    }
    void type(int port, const QString& text) const
    {
        box(port)->lineEdit()->selectAll();
        QTest::keyClicks(box(port)->lineEdit(), text);
    }
    void press(QDialogButtonBox::StandardButton which) const
    {
        chooser->findChild<QDialogButtonBox*>()->button(which)->click();
    }

    PtyPeer adapterA;
    PtyPeer adapterB;
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    QList<PortDescription> ports;
    QPointer<DeviceChooser> chooser;
};

// Opens the port as the measurement does and checks that bytes go both ways through `peer`.
void exchangeThrough(QtSerialControl& port, int commPort, const PtyPeer& peer)
{
    port.setCommPort(static_cast<int16_t>(commPort));
    ASSERT_TRUE(port.setSettings("9600,n,8, 1"));
    ASSERT_TRUE(port.setPortOpen(true)) << port.errorString().toStdString();
    port.Output(QByteArray("\x02\x03\x00\x14", 4));
    testing_support::waitFor([&] { return port.OutBufferCount() == 0; }, 5000);
    EXPECT_EQ(peer.read(4, 5000), QByteArray("\x02\x03\x00\x14", 4));
    peer.write("\x02\x83\x02");
    testing_support::waitFor([&] { return port.InBufferCount() >= 3; }, 5000);
    EXPECT_EQ(port.Input(), QByteArray("\x02\x83\x02"));
    port.setPortOpen(false);
}

} // namespace

TEST_F(DeviceChooserTest, ListsTheSystemsPortsByTheirStableNamesAndShowsTheStoredChoice)
{
    writeFile(ini(), "[ports]\nCOM2=" + stableName().toUtf8() + "\nCOM3=/dev/pts/4242\n");
    open();
    const QString first = stableName() + QStringLiteral("  (ttyUSB0: FT232R USB UART, FTDI, A12345)");
    const QString second = adapterB.path() + QStringLiteral("  (ttyACM0)");
    EXPECT_EQ(items(1), (QStringList{QStringLiteral("Default (/dev/ttyS0)"), first, second, QStringLiteral("Network...")}));
    EXPECT_EQ(items(4).first(), QStringLiteral("Default (/dev/ttyS3)"));
    EXPECT_EQ(box(1)->currentIndex(), 0);
    EXPECT_EQ(box(2)->currentText(), first);
    EXPECT_EQ(chooser->chosenDevice(2), stableName());
    EXPECT_EQ(box(3)->currentText(), QStringLiteral("/dev/pts/4242"));
    // A stored device that is not there now is kept, with a word about it.
    EXPECT_TRUE(note(3)->isVisibleTo(chooser) && note(3)->text().contains(QStringLiteral("not there now")))
        << note(3)->text().toStdString();
    EXPECT_FALSE(note(1)->isVisibleTo(chooser));
    // Told as a warning: a sign beside it and its colour.
    EXPECT_TRUE(chooser->findChild<QLabel*>(QStringLiteral("NoteIcon3"))->isVisibleTo(chooser));
    EXPECT_NE(note(3)->palette().color(QPalette::WindowText), chooser->palette().color(QPalette::WindowText));
    EXPECT_EQ(chooser->findChild<QLabel*>(QStringLiteral("Problem")), nullptr);
}

TEST_F(DeviceChooserTest, ARefreshFollowsThePlugsAndKeepsWhatEachBoxShows)
{
    open();
    box(1)->setCurrentIndex(1); // the FTDI adapter by its stable name
    type(2, QStringLiteral("/dev/pts/77"));
    box(3)->setCurrentIndex(2); // the ACM adapter

    // The FTDI adapter is unplugged, a third one plugged in.
    PtyPeer adapterC;
    ports = {ports[1], {QStringLiteral("ttyUSB1"), adapterC.path(), QStringLiteral("CP2102"), QString(), QString()}};
    chooser->refresh();
    EXPECT_EQ(items(1), (QStringList{QStringLiteral("Default (/dev/ttyS0)"), adapterB.path() + QStringLiteral("  (ttyACM0)"),
                                     adapterC.path() + QStringLiteral("  (ttyUSB1: CP2102)"), QStringLiteral("Network...")}));
    EXPECT_EQ(chooser->chosenDevice(1), stableName()); // still chosen, now by its name alone
    EXPECT_EQ(box(1)->currentText(), stableName());
    EXPECT_EQ(box(2)->currentText(), QStringLiteral("/dev/pts/77"));
    EXPECT_EQ(box(3)->currentIndex(), 1);
    EXPECT_EQ(chooser->chosenDevice(3), adapterB.path());
    EXPECT_EQ(box(4)->currentIndex(), 0);

    // A click into a box showing a listed port makes what is typed next replace it.
    QTest::mouseClick(box(4)->lineEdit(), Qt::LeftButton);
    QTest::keyClicks(box(4)->lineEdit(), QStringLiteral("/dev/pts/78"));
    EXPECT_EQ(box(4)->currentText(), QStringLiteral("/dev/pts/78"));

    // The timer does the same by itself.
    ports.removeLast();
    testing_support::waitFor([&] { return box(1)->count() == 3; }, 3 * DeviceChooser::kRefreshMs + 5000);
    EXPECT_EQ(box(1)->count(), 3);
    EXPECT_EQ(box(2)->currentText(), QStringLiteral("/dev/pts/77"));
}

TEST_F(DeviceChooserTest, OkStoresAndTakesEffectCancelLeavesEverything)
{
    writeFile(ini(), "[history]\nenabled=false\n");
    open();
    box(1)->setCurrentIndex(1);
    type(3, QStringLiteral("/dev/pts/4242"));
    press(QDialogButtonBox::Cancel);
    EXPECT_EQ(readFile(ini()), "[history]\nenabled=false\n");
    EXPECT_EQ(deviceForPort(1), QStringLiteral("/dev/ttyS0"));

    open();
    box(1)->setCurrentIndex(1);
    type(3, QStringLiteral("/dev/pts/4242")); // not there now: accepted all the same
    press(QDialogButtonBox::Ok);
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join(u'\n').toStdString();
    EXPECT_EQ(chooser->result(), QDialog::Accepted);
    const PortChoices stored = PortChoices::load(dir.path());
    EXPECT_EQ(stored.devices[0], stableName());
    EXPECT_EQ(stored.devices[2], QStringLiteral("/dev/pts/4242"));
    EXPECT_TRUE(readFile(ini()).contains("[history]\nenabled=false"));
    EXPECT_EQ(deviceForPort(1), stableName());
    EXPECT_EQ(deviceForPort(3), QStringLiteral("/dev/pts/4242"));
}

TEST_F(DeviceChooserTest, AFileOrAFolderIsRefusedAndNothingIsStored)
{
    const QString plain = dir.filePath(QStringLiteral("notes.txt"));
    writeFile(plain, "x");
    open();
    type(2, plain);
    EXPECT_TRUE(note(2)->text().contains(QStringLiteral("a regular file, not a serial port")));
    press(QDialogButtonBox::Ok);
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("COM2"))) << dialogs.boxes[0].text.toStdString();
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("is a regular file: it is no serial port")));
    EXPECT_TRUE(chooser->isVisible());
    EXPECT_FALSE(QFile::exists(ini()));

    type(2, dir.path());
    press(QDialogButtonBox::Ok);
    ASSERT_EQ(dialogs.boxes.size(), 2);
    EXPECT_TRUE(dialogs.boxes[1].text.contains(QStringLiteral("is a directory")));
    type(2, QStringLiteral("ttyUSB0"));
    press(QDialogButtonBox::Ok);
    ASSERT_EQ(dialogs.boxes.size(), 3);
    EXPECT_TRUE(dialogs.boxes[2].text.contains(QStringLiteral("not a full path")));
    EXPECT_FALSE(QFile::exists(ini()));
    EXPECT_EQ(deviceForPort(2), QStringLiteral("/dev/ttyS1"));

    // A link at zentlog.ini: the save is refused, told, and the link's file untouched.
    const QString target = dir.filePath(QStringLiteral("other.ini"));
    writeFile(target, "[site]\n");
    ASSERT_TRUE(QFile::link(target, ini()));
    box(2)->setCurrentIndex(0); // the default
    press(QDialogButtonBox::Ok);
    ASSERT_EQ(dialogs.boxes.size(), 4);
    EXPECT_TRUE(dialogs.boxes[3].text.contains(QStringLiteral("symbolic link"))) << dialogs.boxes[3].text.toStdString();
    EXPECT_EQ(readFile(target), "[site]\n");
    EXPECT_TRUE(chooser->isVisible());
}

TEST_F(DeviceChooserTest, TheEnvironmentOverrideAndABadFileAreToldBesideThePorts)
{
    writeFile(ini(), "[ports]\nCOM4=ttyS9\n");
    qputenv("ZENTLOG_COM1", adapterB.path().toLocal8Bit());
    open();
    EXPECT_TRUE(note(1)->isVisibleTo(chooser));
    EXPECT_TRUE(note(1)->text().contains(QStringLiteral("ZENTLOG_COM1 is set: it takes precedence")))
        << note(1)->text().toStdString();
    EXPECT_FALSE(note(2)->isVisibleTo(chooser));
    const QLabel* problem = chooser->findChild<QLabel*>(QStringLiteral("Problem"));
    ASSERT_NE(problem, nullptr);
    EXPECT_TRUE(problem->text().contains(QStringLiteral("COM4=ttyS9 is not a full path")));
}

TEST_F(DeviceChooserTest, APseudoTerminalChosenForCom2IsWhatTheProgramsPortOpens)
{
    open();
    type(2, adapterA.path());
    press(QDialogButtonBox::Ok);
    ASSERT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join(u'\n').toStdString();
    QtSerialControl port;
    exchangeThrough(port, 2, adapterA);
    EXPECT_EQ(port.deviceName(), adapterA.path());
}

TEST_F(DeviceChooserTest, AnAdapterChosenByItsStableNameIsFoundAgainInAnotherSocket)
{
    open();
    box(1)->setCurrentIndex(1);
    press(QDialogButtonBox::Ok);
    QtSerialControl port;
    exchangeThrough(port, 1, adapterA);

    // Unplugged and plugged into another socket: the same stable name now leads to another tty.
    ASSERT_TRUE(QFile::remove(stableName()));
    ASSERT_TRUE(QFile::link(adapterB.path(), stableName()));
    exchangeThrough(port, 1, adapterB);
    EXPECT_EQ(port.deviceName(), stableName());
}

TEST_F(DeviceChooserTest, TheSerialInterfaceWindowOpensItShowsTheDevicesChosenAndProbesThemAgain)
{
    PortChoices nowhere;
    for (QString& device : nowhere.devices)
        device = QStringLiteral("/dev/zentlog-no-such-device");
    ASSERT_EQ(nowhere.save(dir.path()), QString());
    useChosenDevices(nowhere);
    SerialSettings settings;
    QtSerialControl port;
    writeFile(dir.filePath(QStringLiteral("PortCom.dat")), " 1  0 \r\n 0 \r\n 0 \r\n");
    QPointer<ConfLS> window = new ConfLS(ConfLS::Services{settings, port, dialogs, dir.path(), [] { return false; },
                                                          {}, [this] { return ports; }});
    window->Form_Load();
    auto* com4 = window->findChild<QRadioButton*>(QStringLiteral("Option1_3"));
    EXPECT_FALSE(com4->isEnabled());
    auto* devices = window->findChild<QPushButton*>(QStringLiteral("Devices"));
    ASSERT_NE(devices, nullptr);
    EXPECT_EQ(devices->text(), QStringLiteral("Device..."));
    devices->click();
    chooser = window->findChild<DeviceChooser*>();
    ASSERT_NE(chooser, nullptr);
    EXPECT_TRUE(chooser->isVisible());
    devices->click(); // a second click brings the same dialog forward
    EXPECT_EQ(window->findChildren<DeviceChooser*>().size(), 1);

    type(4, adapterB.path());
    press(QDialogButtonBox::Ok);
    EXPECT_EQ(com4->toolTip(), QStringLiteral("COM4 is %1 on this computer").arg(adapterB.path()));
    EXPECT_TRUE(com4->text().startsWith(QStringLiteral("Com4  ")));
    EXPECT_TRUE(com4->isEnabled()); // the pseudo-terminal opens: COM4 can be chosen now
    EXPECT_FALSE(window->findChild<QRadioButton*>(QStringLiteral("Option1_0"))->isEnabled());
    EXPECT_FALSE(port.PortOpen());
    delete window.data();
}

TEST_F(DeviceChooserTest, NetworkAsksForTheAddressAndStoresItCancelKeepsTheChoice)
{
    open();
    const auto pickNetwork = [&](int port) {
        const int entry = box(port)->count() - 1;
        box(port)->setCurrentIndex(entry);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the one asked before
        emit box(port)->activated(entry);
        return chooser->findChild<QDialog*>(QStringLiteral("NetworkAddress"));
    };
    QDialog* ask = pickNetwork(2);
    ASSERT_NE(ask, nullptr);
    ask->findChild<QLineEdit*>(QStringLiteral("Host"))->setText(QStringLiteral("::1"));
    ask->findChild<QSpinBox*>(QStringLiteral("TcpPort"))->setValue(502);
    ask->findChild<QComboBox*>(QStringLiteral("Mode"))->setCurrentIndex(1);
    ask->accept();
    EXPECT_EQ(chooser->chosenDevice(2), QStringLiteral("modbus+tcp://[::1]:502"));
    EXPECT_FALSE(note(2)->isVisibleTo(chooser)) << note(2)->text().toStdString();

    ask = pickNetwork(3);
    ASSERT_NE(ask, nullptr);
    ask->findChild<QLineEdit*>(QStringLiteral("Host"))->setText(QStringLiteral("bad host"));
    EXPECT_FALSE(ask->findChild<QLabel*>(QStringLiteral("Problem"))->text().isEmpty());
    ask->accept(); // refused: stays open
    EXPECT_TRUE(ask->isVisible());
    ask->reject();
    EXPECT_EQ(chooser->chosenDevice(3), QString()); // the default, as before

    press(QDialogButtonBox::Ok);
    EXPECT_EQ(PortChoices::load(dir.path()).devices[1], QStringLiteral("modbus+tcp://[::1]:502"));
}
