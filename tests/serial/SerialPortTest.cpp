// The QSerialPort layer against a real pseudo-terminal.

#include "ProcessCpu.h"
#include "serial/DeviceLock.h"
#include "serial/FakeSerialControl.h"
#include "serial/QtSerialControl.h"
#include "serial/ReplyReception.h"
#include "serial/SerialPort.h"

#include "ModbusReplies.h"
#include "PtyPeer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>

#include <gtest/gtest.h>

using namespace serial;
using testing_support::PtyPeer;
using testing_support::waitFor;

using testing_support::cpuSeconds;

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

// The other end of the line goes away while a reply is half received: the wait ends at once as a
// lost port, instead of spinning on the hung-up line until its limit.
TEST(QtSerialControl, AHangUpInTheMiddleOfAReplyEndsTheWaitAsALostPort)
{
    PtyPeer peer;
    ASSERT_FALSE(peer.path().isEmpty());
    qputenv("ZENTLOG_COM1", peer.path().toLocal8Bit());
    QtSerialControl port;
    SerialSettings settings = SerialSettings::defaults();
    ASSERT_TRUE(OpenSerialPort(settings, port)) << port.errorString().toStdString();
    QString lostReason;
    QObject::connect(&port, &SerialControl::portLost, [&](const QString& reason) { lostReason = reason; });

    ModbusRequest request;
    request.Address = 7;
    BuildReadRequest(request);
    port.Output(request.Frame);
    ASSERT_EQ(peer.read(8, 5000), request.Frame);
    peer.write(testing_support::readReply(7, {1, 2, 3, 4, 5, 6, 7, 8}).left(9));
    waitFor([&] { return port.InBufferCount() >= 9; }, 5000);
    peer.hangUp();
    // QSerialPort judges the end of file it then reads by whatever errno holds at that moment; a
    // stale EAGAIN (from the peer's last read) happens to make it look like a lost device, a clean
    // errno makes it a read error, as in the program.
    errno = 0;

    // A generous limit, so that only the hang-up can end the wait early.
    ReplyLimits limits;
    limits.replyMs = 20000;
    QByteArray reply;
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuSeconds();
    const ReplyOutcome outcome = awaitReplyFrame(port, request, reply, limits);
    const double cpu = cpuSeconds() - cpuBefore;
    RecordProperty("wait_ms", static_cast<int>(clock.elapsed()));
    RecordProperty("cpu_ms", static_cast<int>(cpu * 1000));
    EXPECT_EQ(outcome, ReplyOutcome::PortLost);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(reply.isEmpty());
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(lostReason, QStringLiteral("the line was hung up"));
    qunsetenv("ZENTLOG_COM1");
}

// A device reached by two names (a link and the device itself) is still one device: a second
// program, or a second port of this one, cannot open it while it is held.
TEST(QtSerialControl, ADeviceHeldUnderOneNameCannotBeOpenedUnderAnother)
{
    PtyPeer peer;
    ASSERT_FALSE(peer.path().isEmpty());
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("station-line"));
    ASSERT_TRUE(QFile::link(peer.path(), link));

    qputenv("ZENTLOG_COM1", link.toLocal8Bit());
    qputenv("ZENTLOG_COM2", peer.path().toLocal8Bit());
    QtSerialControl first;
    first.setCommPort(1);
    ASSERT_TRUE(first.setPortOpen(true)) << first.errorString().toStdString();
    QtSerialControl second;
    second.setCommPort(2);
    EXPECT_FALSE(second.setPortOpen(true));
    EXPECT_EQ(second.errorString(), QStringLiteral("in use by another program"));

    // Once the first lets go, the device opens under either name.
    first.setPortOpen(false);
    EXPECT_TRUE(second.setPortOpen(true)) << second.errorString().toStdString();
    qunsetenv("ZENTLOG_COM1");
    qunsetenv("ZENTLOG_COM2");
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

    EXPECT_EQ(deviceHolder(peer.path()), QCoreApplication::applicationPid());

    // Once the other lets go, it opens; a second opening of our own open port is refused.
    other.close();
    EXPECT_EQ(deviceHolder(peer.path()), std::nullopt);
    EXPECT_TRUE(port.setPortOpen(true)) << port.errorString().toStdString();
    EXPECT_FALSE(port.setPortOpen(true));
    EXPECT_EQ(port.errorString(), QStringLiteral("it is already open"));
    EXPECT_TRUE(port.PortOpen());
    qunsetenv("ZENTLOG_COM2");
}

TEST(DeviceLock, ALockOfAProcessWhoseNumberAnotherProgramNowHasHoldsNothing)
{
    PtyPeer peer;
    ASSERT_FALSE(peer.path().isEmpty());
    const QString lockPath =
        QStringLiteral("/var/lock/LCK..") + QFileInfo(peer.path()).canonicalFilePath().mid(5).replace(u'/', u'_');
    QFile lock(lockPath);
    if (!lock.open(QIODevice::WriteOnly))
        GTEST_SKIP() << "cannot write " << lockPath.toStdString();
    // This process's number, under the name of the program that held the device before.
    lock.write(QByteArray::number(QCoreApplication::applicationPid()) + "\nzentlog-station\nhost\n");
    lock.close();
    EXPECT_EQ(deviceHolder(peer.path()), std::nullopt);
    QFile::remove(lockPath);
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
