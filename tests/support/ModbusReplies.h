#pragma once
// Station replies for tests, built byte by byte.

#include "serial/ModbusFrame.h"

#include <QByteArray>

#include <array>
#include <cstdint>

namespace testing_support {

using Registers = std::array<uint16_t, 8>;

// Registers a station might hold, for tests that need some.
inline constexpr Registers kSomeRegisters{0x0005, 0x3456, 0x0012, 0x04D2, 0x00FB, 0, 0x0001, 0x0002};

// The program's read request for 8 registers from `start` of station `address`, its frame built.
serial::ModbusRequest readRequest(int16_t address, int16_t start = 0);

// A reply to a read of 8 registers: address, 3, 16, the registers high byte first, CRC.
QByteArray readReply(uint8_t address, const Registers& registers);
// An exception reply: address, 0x83, the exception code, CRC.
QByteArray exceptionReply(uint8_t address, uint8_t code);
// `body` followed by its CRC.
QByteArray withCrc(QByteArray body);
// `frame` with its last byte changed, so that the CRC no longer matches.
QByteArray withBadCrc(QByteArray frame);

} // namespace testing_support
