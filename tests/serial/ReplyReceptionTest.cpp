// Waiting for a station's reply: only a valid frame for the request counts, within the limits.

#include "ModbusReplies.h"
#include "TestFiles.h"

#include "serial/FakeSerialControl.h"
#include "serial/ReplyFrame.h"
#include "serial/ReplyReception.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <thread>

using namespace serial;
using testing_support::exceptionReply;
using testing_support::readReply;
using testing_support::withBadCrc;

namespace {

constexpr testing_support::Registers kRegisters = testing_support::kSomeRegisters;
using testing_support::readRequest;

// Short limits keep the failing cases quick; one test below runs the real ones.
constexpr ReplyLimits kShort{300, 300};

class ReplyReceptionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(port.setPortOpen(true)); }

    // Sends the request of `request` and waits for its reply; `elapsedMs` says how long.
    ReplyOutcome exchange(const ModbusRequest& request, const ReplyLimits& limits = kShort)
    {
        QElapsedTimer clock;
        clock.start();
        port.Output(request.Frame);
        const ReplyOutcome outcome = awaitReplyFrame(port, request, reply, limits);
        elapsedMs = clock.elapsed();
        return outcome;
    }

    // Answers every request with `bytes`, handed over `delayMs` after the request left.
    void answerWith(const QByteArray& bytes, int delayMs = 0)
    {
        port.setResponder([this, bytes, delayMs](const QByteArray&) {
            if (delayMs == 0)
                port.receive(bytes);
            else
                QTimer::singleShot(delayMs, &port, [this, bytes] { port.receive(bytes); });
        });
    }

    FakeSerialControl port;
    QByteArray reply;
    qint64 elapsedMs = 0;
};

TEST_F(ReplyReceptionTest, AValidReplyIsTakenAsItsFrameAlone)
{
    const QByteArray frame = readReply(7, kRegisters);
    answerWith(frame);
    EXPECT_EQ(exchange(readRequest(7)), ReplyOutcome::Reply);
    EXPECT_EQ(reply, frame);

    // Noise before it and bytes after it are left out.
    answerWith(QByteArray::fromHex("00ff07e307") + frame + QByteArray::fromHex("0102"));
    EXPECT_EQ(exchange(readRequest(7)), ReplyOutcome::Reply);
    EXPECT_EQ(reply, frame);
}

TEST_F(ReplyReceptionTest, AReplyArrivingInPiecesIsAssembled)
{
    const QByteArray frame = readReply(3, kRegisters);
    port.setResponder([&](const QByteArray&) {
        QTimer::singleShot(20, &port, [&] { port.receive(frame.left(2)); });
        QTimer::singleShot(40, &port, [&] { port.receive(frame.mid(2, 10)); });
        QTimer::singleShot(60, &port, [&] { port.receive(frame.mid(12)); });
    });
    EXPECT_EQ(exchange(readRequest(3)), ReplyOutcome::Reply);
    EXPECT_EQ(reply, frame);
    EXPECT_LT(elapsedMs, 250);
}

TEST_F(ReplyReceptionTest, AFrameThatIsNotAValidReplyNeverCounts)
{
    const QByteArray frame = readReply(3, kRegisters);
    QByteArray wrongFunction = frame;
    wrongFunction[1] = 0x04;
    QByteArray wrongCount = frame;
    wrongCount[2] = 0x0F;
    const QByteArray otherStation = readReply(4, kRegisters);
    for (const QByteArray& bad : {withBadCrc(frame), wrongFunction, wrongCount, otherStation, frame.left(20)}) {
        answerWith(bad);
        EXPECT_EQ(exchange(readRequest(3)), ReplyOutcome::TimedOut) << testing_support::hex(bad);
        EXPECT_TRUE(reply.isEmpty());
        EXPECT_GE(elapsedMs, 290);
    }
}

TEST_F(ReplyReceptionTest, TheRightStationsReplyIsFoundAfterAnotherStationsFrame)
{
    // A late reply of station 4 arrives first; station 3's own reply follows.
    const QByteArray late = readReply(4, {1, 2, 3, 4, 5, 6, 7, 8});
    const QByteArray own = readReply(3, kRegisters);
    answerWith(late + own, 30);
    EXPECT_EQ(exchange(readRequest(3)), ReplyOutcome::Reply);
    EXPECT_EQ(reply, own);

    // A damaged frame whose tail holds the start of the real one.
    answerWith(withBadCrc(own).left(9) + own);
    EXPECT_EQ(exchange(readRequest(3)), ReplyOutcome::Reply);
    EXPECT_EQ(reply, own);
}

TEST_F(ReplyReceptionTest, AnExceptionReplyEndsTheWaitAtOnce)
{
    answerWith(exceptionReply(3, 0x02), 10);
    EXPECT_EQ(exchange(readRequest(3), {2000, 2000}), ReplyOutcome::Exception);
    EXPECT_TRUE(reply.isEmpty());
    EXPECT_LT(elapsedMs, 1000);

    // One with a wrong CRC, or from another station, is noise.
    answerWith(withBadCrc(exceptionReply(3, 0x02)));
    EXPECT_EQ(exchange(readRequest(3)), ReplyOutcome::TimedOut);
    answerWith(exceptionReply(5, 0x02));
    EXPECT_EQ(exchange(readRequest(3)), ReplyOutcome::TimedOut);
}

TEST_F(ReplyReceptionTest, AnUnopenedPortFailsAtOnce)
{
    port.setPortOpen(false);
    answerWith(readReply(3, kRegisters));
    EXPECT_EQ(exchange(readRequest(3), {2000, 2000}), ReplyOutcome::PortClosed);
    EXPECT_LT(elapsedMs, 100);
    EXPECT_TRUE(port.sentFrames().isEmpty());
}

TEST_F(ReplyReceptionTest, ALostPortEndsTheWaitAtOnce)
{
    port.setResponder([&](const QByteArray&) {
        QTimer::singleShot(50, &port, [&] { port.losePort(QStringLiteral("unplugged")); });
    });
    EXPECT_EQ(exchange(readRequest(3), {2000, 2000}), ReplyOutcome::PortLost);
    EXPECT_LT(elapsedMs, 1000);
}

TEST_F(ReplyReceptionTest, ARequestHeldInTheSendBufferIsDroppedAfterItsLimit)
{
    port.holdTransmission(true);
    answerWith(readReply(3, kRegisters));
    EXPECT_EQ(exchange(readRequest(3), {200, 300}), ReplyOutcome::TimedOut);
    EXPECT_EQ(port.OutBufferCount(), 0); // discarded
    EXPECT_TRUE(port.sentFrames().isEmpty());
    EXPECT_GE(elapsedMs, 490); // both limits ran, one after the other

    // Released within its limit, the request goes and its reply counts.
    port.setResponder([&](const QByteArray&) { port.receive(readReply(3, kRegisters)); });
    QTimer::singleShot(100, &port, [&] { port.holdTransmission(false); });
    EXPECT_EQ(exchange(readRequest(3), {2000, 2000}), ReplyOutcome::Reply);
    EXPECT_EQ(port.sentFrames().size(), 1);
}

TEST_F(ReplyReceptionTest, AReplyCompletedOnlyAsTheLimitRunsOutIsATimeOut)
{
    const QByteArray frame = readReply(3, kRegisters);
    port.setResponder([&](const QByteArray&) {
        port.receive(frame.left(20));
        // The last byte comes while the event loop is busy past the limit.
        QTimer::singleShot(250, &port, [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            port.receive(frame.right(1));
        });
    });
    EXPECT_EQ(exchange(readRequest(3)), ReplyOutcome::TimedOut);
    EXPECT_TRUE(reply.isEmpty());
}

TEST_F(ReplyReceptionTest, ASilentStationFailsAfterTheRealLimitWithoutBurningTheProcessor)
{
    const std::clock_t cpuBefore = std::clock();
    EXPECT_EQ(exchange(readRequest(3), ReplyLimits{}), ReplyOutcome::TimedOut);
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    EXPECT_GE(elapsedMs, 2000);
    EXPECT_LT(elapsedMs, 2600);
    EXPECT_LT(cpuMs, 200.0) << "the wait must sleep, not poll";
}

TEST_F(ReplyReceptionTest, TheWaitEndsWhenTheApplicationQuits)
{
    // As in the program: the wait runs inside a handler of the main event loop, and the
    // application is told to quit meanwhile.
    std::optional<ReplyOutcome> outcome;
    QTimer::singleShot(0, qApp, [&] { outcome = exchange(readRequest(3), {2000, 2000}); });
    QTimer::singleShot(100, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    EXPECT_EQ(outcome, ReplyOutcome::Quit);
    EXPECT_LT(elapsedMs, 1000);
}

TEST(ReplyFrameTest, ScanReportsWhatCanBeDropped)
{
    ModbusRequest request;
    request.Address = 9;
    BuildReadRequest(request);
    const QByteArray frame = readReply(9, kRegisters);

    ReplyScan scan = scanForReply(QByteArray::fromHex("0102030405"), request);
    EXPECT_EQ(scan.kind, ReplyScan::Incomplete);
    EXPECT_EQ(scan.discardable, 5);

    scan = scanForReply(QByteArray::fromHex("0102") + frame.left(7), request);
    EXPECT_EQ(scan.kind, ReplyScan::Incomplete);
    EXPECT_EQ(scan.discardable, 2); // the start of the frame is kept

    scan = scanForReply(QByteArray::fromHex("0102") + frame, request);
    EXPECT_EQ(scan.kind, ReplyScan::Reply);
    EXPECT_EQ(scan.offset, 2);
    EXPECT_EQ(scan.length, 21);

    // An incomplete reply candidate does not hide a complete exception after it.
    scan = scanForReply(QByteArray::fromHex("090310") + exceptionReply(9, 4), request);
    EXPECT_EQ(scan.kind, ReplyScan::Exception);
    EXPECT_EQ(scan.offset, 3);
}

} // namespace

namespace {

TEST(ReplyFrameTest, WhateverTheBytesAFoundReplyIsAlwaysValid)
{
    ModbusRequest request;
    request.Address = 1;
    BuildReadRequest(request);
    const QByteArray frame = readReply(1, kRegisters);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 60);
    int found = 0;
    for (int round = 0; round < 5000; ++round) {
        // Noise made of bytes that often look like the start of a reply, sometimes with the
        // real frame or a piece of it inside.
        QByteArray bytes;
        for (int i = length(random); i > 0; --i)
            bytes.append(static_cast<char>(round % 3 == 0 ? byte(random) : "\x01\x03\x10\x83"[byte(random) % 4]));
        if (round % 5 == 0)
            bytes.insert(byte(random) % (bytes.size() + 1), frame.left(byte(random) % 22));
        const ReplyScan scan = scanForReply(bytes, request);
        ASSERT_LE(scan.discardable, bytes.size());
        if (scan.kind != ReplyScan::Reply)
            continue;
        ++found;
        ASSERT_LE(scan.offset + scan.length, bytes.size());
        const QByteArray candidate = bytes.sliced(scan.offset, scan.length);
        EXPECT_EQ(candidate.left(3), QByteArray::fromHex("010310"));
        EXPECT_EQ(ComputeCrc16(candidate.left(19)), candidate.right(2));
    }
    EXPECT_GT(found, 0);
}

} // namespace
