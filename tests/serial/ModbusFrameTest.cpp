#include "serial/ModbusFrame.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

using namespace serial;

namespace {
ModbusRequest request(int16_t address, int16_t start)
{
    ModbusRequest r;
    r.Address = address;
    r.FunctionCode = 3;
    r.StartRegister = start;
    r.RegisterCount = 8;
    BuildReadRequest(r);
    return r;
}
} // namespace

TEST(ModbusFrame, ReadRequestsOfBothBlocksAreExact)
{
    const ModbusRequest master = request(1, 0);
    EXPECT_EQ(master.Frame, QByteArray::fromHex("010300000008440C"));
    EXPECT_EQ(master.ExpectedReplyLength, 21);

    const ModbusRequest ext = request(1, 20);
    EXPECT_EQ(ext.Frame, QByteArray::fromHex("0103001400080408"));
    EXPECT_EQ(ext.ExpectedReplyLength, 21);
}

TEST(ModbusFrame, EveryStationAddressGetsAFrameWhoseCrcChecksOut)
{
    for (int16_t address = 1; address <= 14; ++address) {
        const QByteArray frame = request(address, 20).Frame;
        ASSERT_EQ(frame.size(), 8);
        EXPECT_EQ(static_cast<uint8_t>(frame[0]), address);
        // A frame followed by its own CRC (low byte first) has a CRC of zero.
        EXPECT_EQ(crc16Modbus(frame), 0) << testing_support::hex(frame);
    }
}

TEST(ModbusFrame, WordsAreBigEndianAndCrcIsLowByteFirst)
{
    EXPECT_EQ(WordToBytes(0x0180), QByteArray::fromHex("0180"));
    EXPECT_EQ(WordToBytes(20), QByteArray::fromHex("0014"));
    EXPECT_EQ(ComputeCrc16(QByteArray()), QByteArray::fromHex("FFFF"));
    EXPECT_EQ(crc16Modbus(QByteArray()), 0xFFFF);
    // The standard check value of CRC-16/MODBUS.
    EXPECT_EQ(crc16Modbus(QByteArray("123456789")), 0x4B37);
    EXPECT_EQ(ComputeCrc16(QByteArray("123456789")), QByteArray::fromHex("374B"));
}
