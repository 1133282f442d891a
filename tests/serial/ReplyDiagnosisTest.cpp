// Why a wait found no valid reply, and late replies told apart from the replies of the station
// being asked.

#include "ModbusReplies.h"

#include "serial/FakeSerialControl.h"
#include "serial/LateReplies.h"
#include "serial/ReplyFrame.h"
#include "serial/StationExchange.h"

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

using diagnostics::InvalidReason;
using diagnostics::Outcome;
using namespace serial;
using testing_support::exceptionReply;
using testing_support::readReply;
using testing_support::withBadCrc;
using testing_support::withCrc;

namespace {

constexpr testing_support::Registers kRegisters = testing_support::kSomeRegisters;
using testing_support::readRequest;

TEST(ReplyDiagnosis, NamesWhatWasWrongWithTheBytes)
{
    const ModbusRequest request = readRequest(7);
    const QByteArray reply = readReply(7, kRegisters);
    // A reply of another station whose registers hold our address followed by our function code:
    // the bytes inside it are no damaged frame of ours.
    const QByteArray foreignWithOurBytes = readReply(9, {0x0703, 0x0710, 0, 0, 0, 0, 0, 0});
    struct Case {
        const char* what;
        QByteArray bytes;
        InvalidReason reason;
    };
    const Case cases[] = {
        {"nothing", {}, InvalidReason::None},
        {"a valid reply that came too late", reply, InvalidReason::None},
        {"wrong CRC", withBadCrc(reply), InvalidReason::Crc},
        {"exception reply with a wrong CRC", withBadCrc(exceptionReply(7, 2)), InvalidReason::Crc},
        {"cut short", reply.first(9), InvalidReason::Length},
        {"the address alone", reply.first(1), InvalidReason::Length},
        {"wrong byte count", withCrc(QByteArray::fromHex("07030e") + QByteArray(14, 0)), InvalidReason::Length},
        {"another station's reply", readReply(9, kRegisters), InvalidReason::Address},
        {"another station's reply holding our bytes", foreignWithOurBytes, InvalidReason::Address},
        {"a whole frame of another function", withCrc(QByteArray::fromHex("07040200ff")), InvalidReason::Function},
        {"noise", QByteArray::fromHex("00ff3c5a11"), InvalidReason::Noise},
        {"noise holding our address", QByteArray::fromHex("ff0711"), InvalidReason::Noise},
        {"noise, then a damaged reply", QByteArray::fromHex("55aa") + withBadCrc(reply), InvalidReason::Crc},
    };
    for (const Case& c : cases)
        EXPECT_EQ(diagnoseReply(c.bytes, request), c.reason) << c.what;
}

TEST(OutcomeWords, CodesReadBackAndDescriptionsNameTheReason)
{
    const Outcome all[] = {
        Outcome::value(), Outcome::noReply(2000), Outcome::invalidReply(InvalidReason::Crc),
        Outcome::invalidReply(InvalidReason::Address), Outcome::invalidReply(InvalidReason::Function),
        Outcome::invalidReply(InvalidReason::Length), Outcome::invalidReply(InvalidReason::Noise),
        Outcome::exception(2), Outcome::exception(255), Outcome::of(diagnostics::OutcomeKind::PortLost),
        Outcome::of(diagnostics::OutcomeKind::PortClosed), Outcome::of(diagnostics::OutcomeKind::NoAddress),
        Outcome::of(diagnostics::OutcomeKind::NoType),
    };
    QStringList codes;
    for (const Outcome& o : all) {
        EXPECT_EQ(Outcome::fromCode(o.code()), o) << o.code().toStdString();
        codes << o.code();
    }
    codes.removeDuplicates();
    EXPECT_EQ(codes.size(), static_cast<qsizetype>(std::size(all)));
    for (const char* bad : {"", "exception_", "exception_x", "exception_256", "exception_-1", "valu"})
        EXPECT_FALSE(Outcome::fromCode(QString::fromLatin1(bad))) << bad;

    EXPECT_EQ(Outcome::noReply(2000).describe(), QStringLiteral("no reply within 2000 ms"));
    EXPECT_EQ(Outcome::exception(2).describe(), QStringLiteral("exception 2 (illegal data address)"));
    EXPECT_EQ(Outcome::exception(6).describe(), QStringLiteral("exception 6 (slave device busy)"));
    EXPECT_EQ(Outcome::invalidReply(InvalidReason::Crc).describe(), QStringLiteral("invalid reply: wrong CRC"));
}

class StationExchangeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(port.setPortOpen(true)); }

    diagnostics::Exchange exchange(int16_t address, const ReplyLimits& limits = kShort)
    {
        QByteArray frame;
        return exchangeWithStation(port, readRequest(address), limits, &late, frame);
    }

    static constexpr ReplyLimits kShort{300, 200, 1000};
    FakeSerialControl port;
    LateReplies late;
};

TEST_F(StationExchangeTest, AnExceptionReplyEndsTheWaitWithItsCode)
{
    port.setResponder([this](const QByteArray&) { port.receive(exceptionReply(3, 6)); });
    const diagnostics::Exchange e = exchange(3);
    EXPECT_EQ(e.outcome, Outcome::exception(6));
    EXPECT_EQ(e.request, readRequest(3).Frame);
    EXPECT_EQ(e.received, exceptionReply(3, 6));
    EXPECT_TRUE(e.replyMs.has_value());
}

TEST_F(StationExchangeTest, ALateReplyIsCountedForTheStationThatOwedItNotAsAFaultOfTheNext)
{
    // Station 3 answers only after its limit; station 4 is silent. The late reply arrives while
    // station 4 is waited for: station 4 did not answer, and the reply is station 3's.
    port.setResponder([this](const QByteArray& request) {
        if (request[0] == 3)
            QTimer::singleShot(300, &port, [this] { port.receive(readReply(3, kRegisters)); });
    });
    EXPECT_EQ(exchange(3).outcome, Outcome::noReply(kShort.replyMs));
    const diagnostics::Exchange next = exchange(4);
    EXPECT_EQ(next.outcome, Outcome::noReply(kShort.replyMs));
    ASSERT_EQ(next.lateReplies.size(), 1U);
    EXPECT_EQ(next.lateReplies[0], (diagnostics::StationBlock{3, 0}));

    // Late again, but this time it is waiting in the buffer when the next request goes out.
    EXPECT_EQ(exchange(3).outcome, Outcome::noReply(kShort.replyMs));
    QEventLoop loop;
    QTimer::singleShot(200, &loop, &QEventLoop::quit);
    loop.exec();
    port.setResponder([this](const QByteArray&) { port.receive(readReply(5, kRegisters)); });
    const diagnostics::Exchange third = exchange(5);
    EXPECT_TRUE(third.ok());
    ASSERT_EQ(third.lateReplies.size(), 1U);
    EXPECT_EQ(third.lateReplies[0].address, 3);
    // Left-over bytes that are nobody's late reply are dropped before a request, never counted.
    port.receive(QByteArray::fromHex("0011"));
    EXPECT_TRUE(exchange(5).lateReplies.empty());
}

TEST_F(StationExchangeTest, NothingIsSentOnAClosedPort)
{
    port.setPortOpen(false);
    const diagnostics::Exchange e = exchange(3);
    EXPECT_EQ(e.outcome.kind, diagnostics::OutcomeKind::PortClosed);
    EXPECT_TRUE(e.request.isEmpty());
    EXPECT_TRUE(port.sentFrames().isEmpty());
}

} // namespace
