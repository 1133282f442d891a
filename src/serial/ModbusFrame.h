#pragma once
// Modbus RTU read requests (function 3) and the CRC-16 that closes every frame.

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

namespace serial {

// The one request record that every station reader fills before it asks a station.
struct ModbusRequest {
    int16_t Address = 0;
    int16_t FunctionCode = 3;
    int16_t StartRegister = 0;
    int16_t RegisterCount = 8;
    int16_t ExpectedReplyLength = 0; // out: bytes of the complete reply
    QByteArray Frame;                // out: the request frame with its CRC
};

// Fills ExpectedReplyLength and Frame from the other fields.
void BuildReadRequest(ModbusRequest& request);

// High byte, then low byte.
QByteArray WordToBytes(int16_t value);

// CRC-16/MODBUS of the bytes as a number (register starts at 0xFFFF, reflected polynomial 0xA001).
uint16_t crc16Modbus(QByteArrayView bytes);

// The CRC as it travels: low byte, then high byte.
QByteArray ComputeCrc16(QByteArrayView bytes);

} // namespace serial
