#pragma once
// Station replies for tests, built byte by byte.

#include <QByteArray>

#include <array>
#include <cstdint>

namespace testing_support {

using Registers = std::array<uint16_t, 8>;

// A reply to a read of 8 registers: address, 3, 16, the registers high byte first, CRC.
QByteArray readReply(uint8_t address, const Registers& registers);
// An exception reply: address, 0x83, the exception code, CRC.
QByteArray exceptionReply(uint8_t address, uint8_t code);
// `frame` with its last byte changed, so that the CRC no longer matches.
QByteArray withBadCrc(QByteArray frame);

} // namespace testing_support
