#include "ModbusReplies.h"

#include "serial/ModbusFrame.h"

namespace testing_support {

QByteArray withCrc(QByteArray body)
{
    body.append(serial::ComputeCrc16(body));
    return body;
}

serial::ModbusRequest readRequest(int16_t address, int16_t start)
{
    serial::ModbusRequest request;
    request.Address = address;
    request.StartRegister = start;
    serial::BuildReadRequest(request);
    return request;
}

QByteArray readReply(uint8_t address, const Registers& registers)
{
    QByteArray body;
    body.append(static_cast<char>(address));
    body.append('\x03');
    body.append('\x10');
    for (const uint16_t r : registers) {
        body.append(static_cast<char>(r >> 8));
        body.append(static_cast<char>(r & 0xFF));
    }
    return withCrc(body);
}

QByteArray exceptionReply(uint8_t address, uint8_t code)
{
    QByteArray body;
    body.append(static_cast<char>(address));
    body.append('\x83');
    body.append(static_cast<char>(code));
    return withCrc(body);
}

QByteArray withBadCrc(QByteArray frame)
{
    frame[frame.size() - 1] = static_cast<char>(frame[frame.size() - 1] ^ 0x5A);
    return frame;
}

} // namespace testing_support
