// A COM port on a real TCP connection over loopback, against a peer that misbehaves in each of the
// ways a device server or a gateway can: every fault ends in its outcome without spinning, and
// the port comes back by itself.

#include "ModbusReplies.h"
#include "ProcessCpu.h"

#include "diagnostics/FrameTrace.h"
#include "serial/MbapFrame.h"
#include "serial/NetworkSerialControl.h"
#include "serial/StationExchange.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

using namespace serial;
using diagnostics::OutcomeKind;

namespace {

void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

enum class Peer { Refuses, Silent, ClosesMidReply, OtherTransaction, OneBytePieces, Answers };

// The peer's reply to `request` (as it came over the connection), in the connection's framing.
QByteArray replyTo(const QByteArray& request, NetworkMode mode, uint16_t transactionShift = 0)
{
    const bool mbap = mode == NetworkMode::ModbusTcp;
    const QByteArray rtu = testing_support::readReply(static_cast<uint8_t>(request[mbap ? 6 : 0]), testing_support::kSomeRegisters);
    if (!mbap)
        return rtu;
    const auto transaction = static_cast<uint16_t>((static_cast<uint8_t>(request[0]) << 8) | static_cast<uint8_t>(request[1]));
    return mbapFromRtu(rtu, static_cast<uint16_t>(transaction + transactionShift));
}

void serve(QTcpSocket* socket, Peer& behaviour, NetworkMode mode)
{
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, &behaviour, mode] {
        const QByteArray reply = replyTo(socket->readAll(), mode, behaviour == Peer::OtherTransaction ? 1 : 0);
        switch (behaviour) {
        case Peer::Refuses: case Peer::Silent: break;
        case Peer::Answers:
        case Peer::OtherTransaction: socket->write(reply); break;
        case Peer::ClosesMidReply:
            socket->write(reply.first(9));
            socket->disconnectFromHost();
            break;
        case Peer::OneBytePieces:
            for (qsizetype i = 0; i < reply.size(); ++i)
                QTimer::singleShot(50 * static_cast<int>(i + 1), socket, [socket, b = reply.mid(i, 1)] { socket->write(b); });
            break;
        }
    });
}

} // namespace

TEST(NetworkPort, EachFaultEndsInItsOutcomeWithoutSpinningAndThePortComesBack)
{
    struct Case {
        Peer peer;
        NetworkMode mode;
        OutcomeKind outcome;
        const char* reason; // errorString after the fault
        int discarded;
    };
    const Case cases[] = {
        {Peer::Refuses, NetworkMode::RawRtu, OutcomeKind::PortLost, "connection refused", 0},
        {Peer::Silent, NetworkMode::ModbusTcp, OutcomeKind::NoReply, "", 0},
        {Peer::ClosesMidReply, NetworkMode::RawRtu, OutcomeKind::PortLost, "the connection was closed by the other end", 0},
        {Peer::OtherTransaction, NetworkMode::ModbusTcp, OutcomeKind::NoReply, "", 1},
        {Peer::OneBytePieces, NetworkMode::RawRtu, OutcomeKind::Value, "", 0},
        {Peer::OneBytePieces, NetworkMode::ModbusTcp, OutcomeKind::Value, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.peer));
        Peer behaviour = c.peer;
        QTcpServer server;
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
        const uint16_t tcpPort = server.serverPort();
        QObject::connect(&server, &QTcpServer::newConnection, &server,
                         [&] { serve(server.nextPendingConnection(), behaviour, c.mode); });
        if (c.peer == Peer::Refuses)
            server.close();

        NetworkSerialControl port;
        port.setDevice({c.mode, QStringLiteral("127.0.0.1"), tcpPort});
        ASSERT_TRUE(port.setPortOpen(true)); // connecting goes on behind
        const ModbusRequest request = testing_support::readRequest(5);
        QByteArray frame;
        const double cpuBefore = testing_support::cpuSeconds();
        const auto exchange = exchangeWithStation(port, request, {}, nullptr, frame);
        EXPECT_EQ(exchange.outcome.kind, c.outcome);
        EXPECT_LT(testing_support::cpuSeconds() - cpuBefore, 0.25) << "the wait must sleep, not poll";
        EXPECT_EQ(port.errorString(), QString::fromUtf8(c.reason));
        EXPECT_EQ(port.discardedReplies(), c.discarded);

        // The peer mends; the port is reopened as the ticks do (refused until the delay after the
        // failure has passed) and reads again.
        behaviour = Peer::Answers;
        if (c.peer == Peer::Refuses) {
            ASSERT_TRUE(server.listen(QHostAddress::LocalHost, tcpPort));
        }
        if (!port.PortOpen()) {
            EXPECT_FALSE(port.setPortOpen(true)) << "retried without a delay";
        }
        QElapsedTimer mend;
        mend.start();
        bool read = false;
        diagnostics::Exchange last;
        while (!read && mend.elapsed() < 12000) {
            if (port.PortOpen() || port.setPortOpen(true)) {
                last = exchangeWithStation(port, request, {}, nullptr, frame);
                read = last.outcome.ok();
            } else {
                pause(200);
            }
        }
        EXPECT_TRUE(read);
        // The trace shows what went over the connection: the MBAP headers, then the frames.
        const QByteArray trace = diagnostics::FrameTrace(QString()).lines(last, QStringLiteral("COM1"));
        EXPECT_EQ(trace.contains("TX [MBAP ") && trace.contains("RX [MBAP "), c.mode == NetworkMode::ModbusTcp) << trace.constData();
    }
}
