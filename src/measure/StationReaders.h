#pragma once
// The station readers: each asks one station for its 8 registers from the start register (0 for
// a "Master" channel, 20 for an "Ext." one) and, when a valid reply came in time, decodes it into
// its fields of StationValues. On failure no field is touched.

#include "measure/StationValues.h"
#include "serial/ReplyReception.h"

#include <cstdint>
#include <optional>

namespace serial {
class SerialControl;
}

namespace measure {

// The address byte sent for a station address: the number rounded to the nearest integer,
// halves to the even neighbour (2.5 gives 2, 3.5 gives 4). Empty when that is no station
// address a request can go to (1..247): nothing is sent then.
std::optional<uint8_t> stationAddressByte(double address);

struct StationLink {
    serial::SerialControl& port;
    serial::ReplyLimits limits{};
};

bool ReadResistivityStation(StationLink link, double address, int16_t startRegister, StationValues& values);
bool ReadConductivityStation(StationLink link, double address, int16_t startRegister, StationValues& values);
bool ReadPhStation(StationLink link, double address, int16_t startRegister, StationValues& values);
bool ReadOrpStation(StationLink link, double address, int16_t startRegister, StationValues& values);
bool ReadOxygenStation(StationLink link, double address, int16_t startRegister, StationValues& values);
bool ReadFlowStation(StationLink link, double address, int16_t startRegister, StationValues& values);
bool ReadChlorineStation(StationLink link, double address, int16_t startRegister, StationValues& values);
bool ReadTurbidityStation(StationLink link, double address, int16_t startRegister, StationValues& values);
bool ReadDualResistivityStation(StationLink link, double address, int16_t startRegister, StationValues& values);
bool ReadModel381Station(StationLink link, double address, int16_t startRegister, StationValues& values);
bool ReadModel452Station(StationLink link, double address, int16_t startRegister, StationValues& values);

// Reads the station of measurement type 0..15 with the reader of that type. False, with nothing
// sent, for any other type.
bool ReadStation(int16_t type, serial::SerialControl& port, double address, int16_t startRegister,
                 StationValues& values, const serial::ReplyLimits& limits = {});

} // namespace measure
