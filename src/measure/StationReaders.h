#pragma once
// The station readers: each asks one station for its 8 registers from the start register (0 for
// a "Master" channel, 20 for an "Ext." one) and, when a valid reply came in time, decodes it into
// its fields of StationValues. On failure no field is touched. Each returns the exchange: its
// outcome says whether there was a value and, if not, why.

#include "diagnostics/Exchange.h"
#include "measure/StationValues.h"
#include "serial/ReplyReception.h"

#include <cstdint>
#include <optional>

namespace serial {
class LateReplies;
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
    // The late replies still to be expected on this port; none are watched for without it.
    serial::LateReplies* lateReplies = nullptr;
};

diagnostics::Exchange ReadResistivityStation(StationLink link, double address, int16_t startRegister, StationValues& values);
diagnostics::Exchange ReadConductivityStation(StationLink link, double address, int16_t startRegister, StationValues& values);
diagnostics::Exchange ReadPhStation(StationLink link, double address, int16_t startRegister, StationValues& values);
diagnostics::Exchange ReadOrpStation(StationLink link, double address, int16_t startRegister, StationValues& values);
diagnostics::Exchange ReadOxygenStation(StationLink link, double address, int16_t startRegister, StationValues& values);
diagnostics::Exchange ReadFlowStation(StationLink link, double address, int16_t startRegister, StationValues& values);
diagnostics::Exchange ReadChlorineStation(StationLink link, double address, int16_t startRegister, StationValues& values);
diagnostics::Exchange ReadTurbidityStation(StationLink link, double address, int16_t startRegister, StationValues& values);
diagnostics::Exchange ReadDualResistivityStation(StationLink link, double address, int16_t startRegister, StationValues& values);
diagnostics::Exchange ReadModel381Station(StationLink link, double address, int16_t startRegister, StationValues& values);
diagnostics::Exchange ReadModel452Station(StationLink link, double address, int16_t startRegister, StationValues& values);

// Reads the station of measurement type 0..15 with the reader of that type; the outcome NoType,
// with nothing sent, for any other type.
diagnostics::Exchange ReadStation(int16_t type, serial::SerialControl& port, double address, int16_t startRegister,
                 StationValues& values, const serial::ReplyLimits& limits = {},
                 serial::LateReplies* lateReplies = nullptr);

} // namespace measure
