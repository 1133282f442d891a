#pragma once
// The 8 registers a simulated station serves: code byte, totalisers, main value, temperature.

#include "SimConfig.h"

#include <array>
#include <cstdint>

namespace sim {

// The registers of `station` at `seconds` since the start: fixed ones as configured, otherwise
// the type's plausible values (or the configured ones), varying slowly unless `fixed`.
std::array<uint16_t, 8> registersAt(const StationConfig& station, double seconds);

// Eight decimal digits as two BCD registers: high four digits, low four digits.
std::array<uint16_t, 2> bcdRegisters(uint32_t number);

// CRC-16/MODBUS, for checking requests and altering replies.
uint16_t crc16(const uint8_t* bytes, std::size_t length);

} // namespace sim
