#include "SimRegisters.h"

#include <cmath>
#include <numbers>

namespace sim {

namespace {

struct TypeDefaults {
    int code;
    int value;
    int temperature; // tenths of a degree (or the second value of the dual resistivity)
};

// A plausible reading of each type, shown by the program as for example 18.20 MOhm, 450.0 µS,
// pH 7.00, 350 mV, 8.50 mg/l, 12.50 m3/h, 0.450 mg/l, 15.00 mS, 3.5 %, 1.2 NTU, 2.50 m, 3.50 g/l.
constexpr std::array<TypeDefaults, 16> kDefaults{{
    {6, 1820, 250},  {3, 4500, 200}, {0, 700, 180}, {0, 350, 180},  {1, 850, 150},    {10, 1250, 120},
    {0, 450, 200},   {2, 1500, 200}, {0, 35, 200},  {0, 35, 200},   {0, 35, 200},     {0, 35, 200},
    {0x03, 12, 200}, {6, 1820, 1750}, {0x02, 250, 150}, {0x12, 350, 200},
}};

constexpr int kFlowType = 5;
constexpr int kDualResistivityType = 13;

int wave(double seconds, double periodSeconds, double amplitude, double phase)
{
    return static_cast<int>(std::lround(amplitude * std::sin(2 * std::numbers::pi * seconds / periodSeconds + phase)));
}

uint16_t word(int value)
{
    return static_cast<uint16_t>(value & 0xFFFF);
}

} // namespace

std::array<uint16_t, 2> bcdRegisters(uint32_t number)
{
    uint32_t bcd = 0;
    for (int shift = 0; shift < 32; shift += 4) {
        bcd |= (number % 10) << shift;
        number /= 10;
    }
    return {static_cast<uint16_t>(bcd >> 16), static_cast<uint16_t>(bcd & 0xFFFF)};
}

std::array<uint16_t, 8> registersAt(const StationConfig& station, double seconds)
{
    if (station.registers)
        return *station.registers;
    const TypeDefaults& d = kDefaults[static_cast<std::size_t>(station.type)];
    int value = station.value.value_or(d.value);
    int fourth = station.type == kDualResistivityType ? station.second.value_or(d.temperature)
                                                      : station.temperature.value_or(d.temperature);
    uint32_t total1 = station.total1.value_or(station.type == kFlowType ? 1234 : 0);
    uint32_t total2 = station.total2.value_or(station.type == kFlowType ? 123456 : 0);
    if (station.vary) {
        const double phase = station.address * 0.7 + station.block * 0.1;
        value += wave(seconds, 60, std::max(1.0, std::abs(value) / 50.0), phase);
        fourth += wave(seconds, 300, station.type == kDualResistivityType ? std::abs(fourth) / 50.0 : 5.0, phase);
        const auto grown = static_cast<uint32_t>(seconds / 10);
        total1 = (total1 + grown) % 100000000;
        total2 = (total2 + grown) % 100000000;
    }
    const auto t1 = bcdRegisters(total1);
    const auto t2 = bcdRegisters(total2);
    return {word(station.code.value_or(d.code)), t2[1], t2[0], word(value), word(fourth), 0, t1[1], t1[0]};
}

uint16_t crc16(const uint8_t* bytes, std::size_t length)
{
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>(crc ^ bytes[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1U) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

} // namespace sim
