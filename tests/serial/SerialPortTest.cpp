// The QSerialPort layer against a real pseudo-terminal.

#include "serial/FakeSerialControl.h"
#include "serial/QtSerialControl.h"
#include "serial/SerialPort.h"

#include "PtyPeer.h"

#include <gtest/gtest.h>

using namespace serial;
using testing_support::PtyPeer;
using testing_support::waitFor;

namespace {

QByteArray everyByte()
{
    QByteArray bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<char>(i);
    return bytes;
}

} // namespace

TEST(QtSerialControl, EveryByteValuePassesUnchangedBothWays)
{
    PtyPeer peer;
    ASSERT_FALSE(peer.path().isEmpty());
    qputenv("ZENTLOG_COM1", peer.path().toLocal8Bit());

    QtSerialControl port;
    SerialSettings settings = SerialSettings::defaults();
    ASSERT_TRUE(OpenSerialPort(settings, port)) << port.errorString().toStdString();
    EXPECT_TRUE(port.PortOpen());
    EXPECT_EQ(port.Settings(), "9600,n,8, 1");
    EXPECT_EQ(port.deviceName(), peer.path());

    // Program to station.
    port.Output(everyByte());
    waitFor([&] { return port.OutBufferCount() == 0; }, 5000);
    EXPECT_EQ(peer.read(256, 5000), everyByte());

    // Station to program.
    peer.write(everyByte());
    waitFor([&] { return port.InBufferCount() >= 256; }, 5000);
    EXPECT_EQ(port.InBufferCount(), 256);
    EXPECT_EQ(port.Input(), everyByte());
    EXPECT_EQ(port.InBufferCount(), 0);

    // Discarding what came in.
    peer.write("stray");
    waitFor([&] { return port.InBufferCount() >= 5; }, 5000);
    port.setInBufferCount(0);
    EXPECT_EQ(port.InBufferCount(), 0);

    // A second opening of an open port fails and leaves it open; closing works.
    EXPECT_FALSE(port.setPortOpen(true));
    EXPECT_TRUE(port.PortOpen());
    CloseSerialPort(port);
    EXPECT_FALSE(port.PortOpen());
    qunsetenv("ZENTLOG_COM1");
}

// The reasons are the reasons alone: whoever shows them names the port and its device once.
TEST(QtSerialControl, APortThatCannotBeOpenedSaysWhyOnce)
{
    qputenv("ZENTLOG_COM3", "/dev/zentlog-no-such-device");
    QtSerialControl port;
    port.setCommPort(3);
    EXPECT_FALSE(port.setPortOpen(true));
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(port.errorString(), QStringLiteral("No such file or directory"));
    port.setCommPort(5);
    EXPECT_FALSE(port.setPortOpen(true));
    EXPECT_EQ(port.errorString(), QStringLiteral("the program's ports are COM1 to COM4"));
    qunsetenv("ZENTLOG_COM3");
}

TEST(QtSerialControl, APortHeldByAnotherProgramIsInUse)
{
    PtyPeer peer;
    ASSERT_FALSE(peer.path().isEmpty());
    qputenv("ZENTLOG_COM2", peer.path().toLocal8Bit());
    // Another QSerialPort takes the device first, lock file and all, as another program would.
    QSerialPort other(peer.path());
    ASSERT_TRUE(other.open(QIODevice::ReadWrite)) << other.errorString().toStdString();

    QtSerialControl port;
    port.setCommPort(2);
    EXPECT_FALSE(port.setPortOpen(true));
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(port.errorString(), QStringLiteral("in use by another program"));

    // Once the other lets go, it opens; a second opening of our own open port is refused.
    other.close();
    EXPECT_TRUE(port.setPortOpen(true)) << port.errorString().toStdString();
    EXPECT_FALSE(port.setPortOpen(true));
    EXPECT_EQ(port.errorString(), QStringLiteral("it is already open"));
    EXPECT_TRUE(port.PortOpen());
    qunsetenv("ZENTLOG_COM2");
}

TEST(QtSerialControl, InvalidSettingsAreRefusedAndTheOldOnesKept)
{
    QtSerialControl port;
    EXPECT_TRUE(port.setSettings("4800,e,8, 2"));
    EXPECT_FALSE(port.setSettings("4800,,8, 2"));
    EXPECT_EQ(port.Settings(), "4800,e,8, 2");
}

TEST(FakeSerialControl, OpensWithTheSettingsOfThePositions)
{
    FakeSerialControl port;
    SerialSettings settings = SerialSettings::defaults();
    settings.portNumber = 2;
    settings.stopIndex = 1;
    settings.deriveTexts();
    port.setUnopenable({3});
    ASSERT_TRUE(OpenSerialPort(settings, port));
    EXPECT_EQ(port.CommPort(), 2);
    EXPECT_EQ(port.Settings(), "9600,n,8, 2");
    EXPECT_EQ(port.inputLen(), 0);
    CloseSerialPort(port);
    settings.portNumber = 3;
    EXPECT_FALSE(OpenSerialPort(settings, port));
}
