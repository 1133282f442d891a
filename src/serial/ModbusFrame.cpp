#include "serial/ModbusFrame.h"

namespace serial {

void BuildReadRequest(ModbusRequest& request)
{
    const QByteArray start = WordToBytes(request.StartRegister);
    const QByteArray count = WordToBytes(request.RegisterCount);
    request.ExpectedReplyLength = static_cast<int16_t>(2 * request.RegisterCount + 5);

    QByteArray frame;
    frame.reserve(8);
    frame.append(static_cast<char>(request.Address & 0xFF));
    frame.append(static_cast<char>(request.FunctionCode & 0xFF));
    frame.append(start);
    frame.append(count);
    frame.append(ComputeCrc16(frame));
    request.Frame = frame;
}

QByteArray WordToBytes(int16_t value)
{
    const auto word = static_cast<uint16_t>(value);
    QByteArray bytes(2, '\0');
    bytes[0] = static_cast<char>(word >> 8);
    bytes[1] = static_cast<char>(word & 0xFF);
    return bytes;
}

uint16_t crc16Modbus(QByteArrayView bytes)
{
    uint16_t crc = 0xFFFF;
    for (const char c : bytes) {
        crc ^= static_cast<uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit) {
            const bool lsb = (crc & 1U) != 0;
            crc = static_cast<uint16_t>(crc >> 1);
            if (lsb)
                crc ^= 0xA001;
        }
    }
    return crc;
}

QByteArray ComputeCrc16(QByteArrayView bytes)
{
    const uint16_t crc = crc16Modbus(bytes);
    QByteArray result(2, '\0');
    result[0] = static_cast<char>(crc & 0xFF);
    result[1] = static_cast<char>(crc >> 8);
    return result;
}

} // namespace serial
