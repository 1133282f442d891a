#include "serial/MbapFrame.h"

#include "serial/ModbusFrame.h"

namespace serial {

namespace {

uint16_t wordAt(QByteArrayView bytes, qsizetype at)
{
    return static_cast<uint16_t>((static_cast<uint8_t>(bytes[at]) << 8) | static_cast<uint8_t>(bytes[at + 1]));
}

void appendWord(QByteArray& bytes, uint16_t value)
{
    bytes.append(static_cast<char>(value >> 8));
    bytes.append(static_cast<char>(value & 0xFF));
}

// A Modbus PDU is at most 253 bytes; with the unit identifier the length field is at most 254.
constexpr uint16_t kMaxLength = 254;

} // namespace

QByteArray mbapFromRtu(QByteArrayView rtu, uint16_t transaction)
{
    if (rtu.size() < 4)
        return {};
    const QByteArrayView unitAndPdu = rtu.first(rtu.size() - 2);
    QByteArray frame;
    frame.reserve(6 + unitAndPdu.size());
    appendWord(frame, transaction);
    appendWord(frame, 0);
    appendWord(frame, static_cast<uint16_t>(unitAndPdu.size()));
    frame.append(unitAndPdu);
    return frame;
}

MbapTake takeMbapFrame(QByteArray& buffer)
{
    MbapTake take;
    if (buffer.size() < kMbapHeaderSize)
        return take;
    const uint16_t protocol = wordAt(buffer, 2);
    const uint16_t length = wordAt(buffer, 4);
    if (protocol != 0 || length < 2 || length > kMaxLength) {
        take.kind = MbapTake::Garbage;
        return take;
    }
    if (buffer.size() < 6 + length)
        return take;
    take.kind = MbapTake::Frame;
    take.transaction = wordAt(buffer, 0);
    take.rtu = buffer.sliced(6, length);
    take.rtu.append(ComputeCrc16(take.rtu));
    buffer.remove(0, 6 + length);
    return take;
}

} // namespace serial
