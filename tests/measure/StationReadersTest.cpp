// The station readers against byte-exact replies.

#include "ModbusReplies.h"
#include "TestFiles.h"

#include "config/MeasurementTypes.h"
#include "measure/StationReaders.h"
#include "serial/FakeSerialControl.h"
#include "serial/LateReplies.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

using namespace measure;
using testing_support::Registers;

namespace {

constexpr serial::ReplyLimits kShort{200, 200};

Registers block(uint16_t code, uint16_t main, uint16_t fourth = 0x00FB)
{
    return {code, 0, 0, main, fourth, 0, 0, 0};
}

class StationReadersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(port.setPortOpen(true));
        port.setResponder([this](const QByteArray& request) {
            const auto address = static_cast<uint8_t>(request[0]);
            const auto found = stations.find(address);
            if (found != stations.end())
                port.receive(testing_support::readReply(address, found->second));
        });
    }

    // Reads station 1 of `type`, answering with `registers`.
    bool read(int16_t type, const Registers& registers)
    {
        stations[1] = registers;
        return ReadStation(type, port, 1.0, 0, values, kShort).ok();
    }

    serial::FakeSerialControl port;
    std::map<uint8_t, Registers> stations;
    StationValues values;
};

TEST_F(StationReadersTest, EveryTypeSendsOneExactRequestFromItsStartRegister)
{
    stations[1] = block(1, 1);
    for (int16_t type = 0; type < config::kMeasurementTypeCount; ++type)
        EXPECT_TRUE(ReadStation(type, port, 1.0, type % 2 == 0 ? 0 : 20, values, kShort).ok()) << type;
    const QByteArrayList sent = port.sentFrames();
    ASSERT_EQ(sent.size(), 16);
    EXPECT_EQ(sent[0], QByteArray::fromHex("010300000008440C"));
    EXPECT_EQ(sent[1], QByteArray::fromHex("0103001400080408"));

    // No type, nothing sent.
    EXPECT_FALSE(ReadStation(-1, port, 1.0, 0, values, kShort).ok());
    EXPECT_FALSE(ReadStation(16, port, 1.0, 0, values, kShort).ok());
    EXPECT_EQ(port.sentFrames().size(), 16);
}

TEST_F(StationReadersTest, TheAddressIsRoundedHalfToEven)
{
    stations[2] = block(1, 1);
    stations[4] = block(1, 1);
    EXPECT_TRUE(ReadStation(config::TypePH, port, 2.5, 0, values, kShort).ok());
    EXPECT_TRUE(ReadStation(config::TypePH, port, 3.5, 0, values, kShort).ok());
    EXPECT_TRUE(ReadStation(config::TypePH, port, 1.6, 0, values, kShort).ok());
    ASSERT_EQ(port.sentFrames().size(), 3);
    EXPECT_EQ(port.sentFrames()[0][0], 2);
    EXPECT_EQ(port.sentFrames()[1][0], 4);
    EXPECT_EQ(port.sentFrames()[2][0], 2);

    EXPECT_EQ(stationAddressByte(0.5), std::nullopt); // rounds to 0: no station
    EXPECT_EQ(stationAddressByte(247.5), std::nullopt);
    EXPECT_EQ(stationAddressByte(14.4), 14);
    EXPECT_EQ(stationAddressByte(-3), std::nullopt);
    EXPECT_EQ(stationAddressByte(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
    // An address that is no station is not sent at all.
    EXPECT_FALSE(ReadStation(config::TypePH, port, 0.0, 0, values, kShort).ok());
    EXPECT_FALSE(ReadStation(config::TypePH, port, 300.0, 0, values, kShort).ok());
    EXPECT_EQ(port.sentFrames().size(), 3);
}

TEST_F(StationReadersTest, TemperatureAndSignedWords)
{
    ASSERT_TRUE(read(config::TypePH, block(0, 0x02BC, 0x00FB)));
    EXPECT_EQ(values.PhValue, 7.0);
    EXPECT_EQ(values.Temperature, 25.1);
    ASSERT_TRUE(read(config::TypePH, block(0, 0xFFFF, 0xFF38)));
    EXPECT_EQ(values.PhValue, -0.01);
    EXPECT_EQ(values.Temperature, -20.0);

    ASSERT_TRUE(read(config::TypeChlorine, block(0, 0x04D2)));
    EXPECT_EQ(values.ChlorineValue, 1.234);
    ASSERT_TRUE(read(config::TypeORP, block(0, 0xFE0C)));
    EXPECT_EQ(values.OrpMillivolts, -500);
    ASSERT_TRUE(read(config::TypeConductivity, block(0x0103, 0x8000)));
    EXPECT_EQ(values.ConductivityRaw, -32768);
    EXPECT_EQ(values.ConductivityRange, 3); // low byte only
    ASSERT_TRUE(read(config::TypeResistivity, block(0x00FF, 0x7FFF)));
    EXPECT_EQ(values.ResistivityRange, 255);
    EXPECT_EQ(values.ResistivityRaw, 32767);
}

TEST_F(StationReadersTest, OxygenIsNeverNegative)
{
    ASSERT_TRUE(read(config::TypeOxygen, block(0x0003, 0x8001)));
    EXPECT_EQ(values.OxygenRaw, 0);
    EXPECT_EQ(values.OxygenUnit, 3);
    ASSERT_TRUE(read(config::TypeOxygen, block(0x0002, 0x7FFF)));
    EXPECT_EQ(values.OxygenRaw, 32767);
    EXPECT_EQ(values.OxygenUnit, 2);
}

TEST_F(StationReadersTest, FlowRateIsUnsignedAndTotalsAreBcd)
{
    ASSERT_TRUE(read(config::TypeFlow, {0x001F, 0x3456, 0x0012, 0xFFFF, 0x00C8, 0, 0x0000, 0x0000}));
    EXPECT_EQ(values.FlowRange, 31);
    EXPECT_EQ(values.FlowRate, 65535);
    EXPECT_EQ(values.FlowTotal2, 123456);
    EXPECT_EQ(values.FlowTotal1, 0);
    EXPECT_EQ(values.Temperature, 20.0);

    ASSERT_TRUE(read(config::TypeFlow, {0, 0x9999, 0x9999, 0x8000, 0, 0, 0x0789, 0x0001}));
    EXPECT_EQ(values.FlowRate, 32768);
    EXPECT_EQ(values.FlowTotal2, 99999999);
    EXPECT_EQ(values.FlowTotal1, 10789); // register 7 holds the high digits

    // A digit A..F makes the total no number at all.
    ASSERT_TRUE(read(config::TypeFlow, {0, 0x3456, 0x001A, 0, 0, 0, 0x0000, 0xF000}));
    EXPECT_EQ(values.FlowTotal2, std::nullopt);
    EXPECT_EQ(values.FlowTotal1, std::nullopt);
}

TEST_F(StationReadersTest, UnitTablesLeaveUnknownKeysUnchanged)
{
    ASSERT_TRUE(read(config::TypeTurbidity, block(0x0023, 1234)));
    EXPECT_EQ(values.TurbidityDecimalCode, 3);
    EXPECT_EQ(values.TurbidityUnit, QStringLiteral("mg/l"));
    ASSERT_TRUE(read(config::TypeTurbidity, block(0x0091, 5)));
    EXPECT_EQ(values.TurbidityDecimalCode, 1);
    EXPECT_EQ(values.TurbidityUnit, QStringLiteral("mg/l"));
    ASSERT_TRUE(read(config::TypeTurbidity, block(0x0080, 5)));
    EXPECT_EQ(values.TurbidityUnit, QString());

    ASSERT_TRUE(read(config::Type452, block(0x0012, 7)));
    EXPECT_EQ(values.Model452DecimalCode, 2);
    EXPECT_EQ(values.Model452Unit, QStringLiteral("g/l"));
    ASSERT_TRUE(read(config::Type452, block(0x0022, 7)));
    EXPECT_EQ(values.Model452Unit, QStringLiteral("g/l"));

    ASSERT_TRUE(read(config::Type381, block(0x0070, 7)));
    EXPECT_EQ(values.Model381Unit, QStringLiteral("\u00B0C"));
    ASSERT_TRUE(read(config::Type381, block(0x0060, 7)));
    EXPECT_EQ(values.Model381Unit, QString());
    ASSERT_TRUE(read(config::Type381, block(0x00F4, 7)));
    EXPECT_EQ(values.Model381Unit, QString());
    EXPECT_EQ(values.Model381DecimalCode, 4);

    // Before any key that has a text, the unit is empty.
    StationValues fresh;
    EXPECT_FALSE(fresh.TurbidityUnit.has_value());
}

TEST_F(StationReadersTest, DualResistivityKeepsTheTemperature)
{
    ASSERT_TRUE(read(config::TypePH, block(0, 700, 0x00FB)));
    ASSERT_TRUE(read(config::TypeR627, block(0x0006, 1820, 1750)));
    EXPECT_EQ(values.ResistivityRange, 6);
    EXPECT_EQ(values.ResistivityRaw, 1820);
    EXPECT_EQ(values.SecondResistivityRaw, 1750);
    EXPECT_EQ(values.Temperature, 25.1);
}

TEST_F(StationReadersTest, AFailedReadingTouchesNothing)
{
    ASSERT_TRUE(read(config::TypeTurbidity, block(0x0023, 1234)));
    const StationValues before = values;
    stations.clear();
    EXPECT_FALSE(ReadStation(config::TypeTurbidity, port, 1.0, 0, values, kShort).ok());
    EXPECT_EQ(values.TurbidityRaw, before.TurbidityRaw);
    EXPECT_EQ(values.TurbidityUnit, before.TurbidityUnit);
    EXPECT_EQ(values.Temperature, before.Temperature);

    // A reply for another station, or an old byte left in the buffer, is no reading either.
    port.setResponder([this](const QByteArray&) { port.receive(testing_support::readReply(2, block(0x0001, 1))); });
    EXPECT_FALSE(ReadStation(config::TypeTurbidity, port, 1.0, 0, values, kShort).ok());
    EXPECT_EQ(values.TurbidityDecimalCode, 3);
}

TEST_F(StationReadersTest, TheReceiveBufferIsClearedBeforeTheRequest)
{
    // Bytes of an earlier exchange are gone before the new request leaves.
    port.receive(testing_support::readReply(1, block(0x0001, 999)));
    port.setResponder([this](const QByteArray&) {
        EXPECT_EQ(port.InBufferCount(), 0);
        port.receive(testing_support::readReply(1, block(0x0001, 42)));
    });
    ASSERT_TRUE(ReadStation(config::TypeORP, port, 1.0, 0, values, kShort).ok());
    EXPECT_EQ(values.OrpMillivolts, 42);
}

// A station that answers after the reply limit: its late reply must never pass for the reply to
// the next request, above all not for the other block of the same station, which a reply cannot
// be told from.
class LateReplyTest : public StationReadersTest {
protected:
    static constexpr serial::ReplyLimits kLimits{200, 100, 300};

    // Station 1 answers block 0 `lateMs` after the request (never when negative) and block 20
    // after 60 ms; every other station at once. `sentAfterMs` keeps when each request went out,
    // counted from the start of its reading.
    void answer(int lateMs)
    {
        port.setResponder([this, lateMs](const QByteArray& request) {
            sentAfterMs << clock.elapsed();
            const auto address = static_cast<uint8_t>(request[0]);
            const bool blockZero = request[3] == 0;
            const QByteArray reply = testing_support::readReply(address, blockZero ? kPh : kOrp);
            if (address != 1)
                port.receive(reply);
            else if (!blockZero)
                QTimer::singleShot(60, &port, [this, reply] { port.receive(reply); });
            else if (lateMs >= 0)
                QTimer::singleShot(lateMs, &port, [this, reply] { port.receive(reply); });
        });
    }
    bool readAt(int16_t type, double address, int16_t start)
    {
        clock.start();
        return ReadStation(type, port, address, start, values, kLimits, &late).ok();
    }

    const testing_support::Registers kPh = block(0, 700);
    const testing_support::Registers kOrp = block(0, 350);
    serial::LateReplies late;
    QElapsedTimer clock;
    QList<qint64> sentAfterMs;
};

TEST_F(LateReplyTest, TheLateReplyOfOneBlockIsNotTakenForTheOtherBlock)
{
    // Block 0's reply comes 30 ms after the limit, before block 20's own reply would.
    answer(130);
    EXPECT_FALSE(readAt(config::TypePH, 1, 0));
    ASSERT_TRUE(readAt(config::TypeORP, 1, 20));
    EXPECT_EQ(values.OrpMillivolts, 350);
    // Block 20 was asked once the late reply had come, and no later than that.
    ASSERT_EQ(sentAfterMs.size(), 2);
    EXPECT_GE(sentAfterMs[1], 15);
    EXPECT_LT(sentAfterMs[1], 250);

    // Without the watch, the late reply is taken for block 20's.
    answer(130);
    EXPECT_FALSE(ReadStation(config::TypePH, port, 1, 0, values, kLimits).ok());
    ASSERT_TRUE(ReadStation(config::TypeORP, port, 1, 20, values, kLimits).ok());
    EXPECT_EQ(values.OrpMillivolts, 700);
}

TEST_F(LateReplyTest, OnlyTheOtherBlockOfTheSameStationWaitsAndNoLongerThanTheLateLimit)
{
    answer(-1); // block 0 of station 1 never answers
    EXPECT_FALSE(readAt(config::TypePH, 1, 0));
    // The same block, or another station, is asked at once.
    EXPECT_FALSE(readAt(config::TypePH, 1, 0));
    EXPECT_TRUE(readAt(config::TypePH, 2, 0));
    EXPECT_EQ(values.PhValue, 7.0);
    ASSERT_EQ(sentAfterMs.size(), 3);
    EXPECT_LT(sentAfterMs[1], 50);
    EXPECT_LT(sentAfterMs[2], 50);

    // The other block waits out what is left of the 300 ms after the last time-out, then is read.
    EXPECT_TRUE(readAt(config::TypeORP, 1, 20));
    EXPECT_EQ(values.OrpMillivolts, 350);
    ASSERT_EQ(sentAfterMs.size(), 4);
    EXPECT_GE(sentAfterMs[3], 150);
    EXPECT_LT(sentAfterMs[3], 600);
    // Once waited for, a late reply is no longer expected.
    EXPECT_TRUE(readAt(config::TypePH, 2, 0));
    EXPECT_TRUE(readAt(config::TypeORP, 1, 20));
    EXPECT_LT(sentAfterMs.back(), 50);
}

} // namespace
