#include "measure/StationReaders.h"

#include "config/MeasurementTypes.h"
#include "measure/ReplyWords.h"
#include "measure/UnitTables.h"
#include "serial/ModbusFrame.h"
#include "serial/StationExchange.h"

#include <QDateTime>

#include <cmath>

namespace measure {

namespace {

constexpr int kRegisterMain = 3;
constexpr int kRegisterTemperature = 4;

// Asks the station for its 8 registers. On success `frame` holds the checked reply.
diagnostics::Exchange exchange(StationLink link, double address, int16_t startRegister, QByteArray& frame)
{
    const std::optional<uint8_t> addressByte = stationAddressByte(address);
    if (!addressByte) {
        diagnostics::Exchange nothingSent;
        nothingSent.outcome = diagnostics::Outcome::of(diagnostics::OutcomeKind::NoAddress);
        nothingSent.endedAtMs = QDateTime::currentMSecsSinceEpoch();
        return nothingSent;
    }
    serial::ModbusRequest request;
    request.Address = *addressByte;
    request.FunctionCode = 3;
    request.StartRegister = startRegister;
    request.RegisterCount = 8;
    serial::BuildReadRequest(request);
    return serial::exchangeWithStation(link.port, request, link.limits, link.lateReplies, frame);
}

double temperatureOf(const ReplyWords& words)
{
    return words.signedWord(kRegisterTemperature) / 10.0;
}

// The reader's fields from a reply, in the order the reader writes them.
template <typename Decode>
diagnostics::Exchange readWith(StationLink link, double address, int16_t startRegister, Decode decode)
{
    QByteArray frame;
    diagnostics::Exchange result = exchange(link, address, startRegister, frame);
    if (result.ok())
        decode(ReplyWords(frame));
    return result;
}

void setUnit(Text& field, const std::optional<QString>& unit)
{
    if (unit)
        field = *unit;
}

// Range code, signed value and temperature: resistivity and conductivity stations.
diagnostics::Exchange readRangeStation(StationLink link, double address, int16_t startRegister, StationValues& values,
                      Number StationValues::*range, Number StationValues::*raw)
{
    return readWith(link, address, startRegister, [&](const ReplyWords& w) {
        values.*range = w.codeByte();
        values.*raw = w.signedWord(kRegisterMain);
        values.Temperature = temperatureOf(w);
    });
}

// Decimal code, unit from the station's table, signed value and temperature: turbidity, 381
// and 452 stations.
diagnostics::Exchange readDecimalCodeStation(StationLink link, double address, int16_t startRegister, StationValues& values,
                            Number StationValues::*code, Text StationValues::*unit, Number StationValues::*raw,
                            std::optional<QString> (*unitTable)(uint8_t))
{
    return readWith(link, address, startRegister, [&](const ReplyWords& w) {
        values.*code = w.codeByte() & 0x0F;
        setUnit(values.*unit, unitTable(w.codeByte()));
        values.*raw = w.signedWord(kRegisterMain);
        values.Temperature = temperatureOf(w);
    });
}

} // namespace

std::optional<uint8_t> stationAddressByte(double address)
{
    if (!std::isfinite(address) || address < 0.5 || address > 247.5)
        return std::nullopt;
    const double rounded = std::nearbyint(address); // halves to even in the default rounding mode
    if (rounded < 1 || rounded > 247)
        return std::nullopt;
    return static_cast<uint8_t>(rounded);
}

diagnostics::Exchange ReadResistivityStation(StationLink link, double address, int16_t startRegister, StationValues& values)
{
    return readRangeStation(link, address, startRegister, values, &StationValues::ResistivityRange,
                            &StationValues::ResistivityRaw);
}

diagnostics::Exchange ReadConductivityStation(StationLink link, double address, int16_t startRegister, StationValues& values)
{
    return readRangeStation(link, address, startRegister, values, &StationValues::ConductivityRange,
                            &StationValues::ConductivityRaw);
}

diagnostics::Exchange ReadPhStation(StationLink link, double address, int16_t startRegister, StationValues& values)
{
    return readWith(link, address, startRegister, [&](const ReplyWords& w) {
        values.PhValue = w.signedWord(kRegisterMain) / 100.0;
        values.Temperature = temperatureOf(w);
    });
}

diagnostics::Exchange ReadOrpStation(StationLink link, double address, int16_t startRegister, StationValues& values)
{
    return readWith(link, address, startRegister, [&](const ReplyWords& w) {
        values.OrpMillivolts = w.signedWord(kRegisterMain);
        values.Temperature = temperatureOf(w);
    });
}

diagnostics::Exchange ReadOxygenStation(StationLink link, double address, int16_t startRegister, StationValues& values)
{
    return readWith(link, address, startRegister, [&](const ReplyWords& w) {
        values.OxygenUnit = w.codeByte();
        values.OxygenRaw = w.nonNegativeWord(kRegisterMain);
        values.Temperature = temperatureOf(w);
    });
}

diagnostics::Exchange ReadFlowStation(StationLink link, double address, int16_t startRegister, StationValues& values)
{
    return readWith(link, address, startRegister, [&](const ReplyWords& w) {
        values.FlowRange = w.codeByte();
        values.FlowRate = w.unsignedWord(kRegisterMain); // a flow is never negative: 0..65535
        values.Temperature = temperatureOf(w);
        values.FlowTotal2 = w.bcdTotal(2, 1);
        values.FlowTotal1 = w.bcdTotal(7, 6);
    });
}

diagnostics::Exchange ReadChlorineStation(StationLink link, double address, int16_t startRegister, StationValues& values)
{
    return readWith(link, address, startRegister, [&](const ReplyWords& w) {
        values.ChlorineValue = w.signedWord(kRegisterMain) / 1000.0;
        values.Temperature = temperatureOf(w);
    });
}

diagnostics::Exchange ReadTurbidityStation(StationLink link, double address, int16_t startRegister, StationValues& values)
{
    return readDecimalCodeStation(link, address, startRegister, values, &StationValues::TurbidityDecimalCode,
                                  &StationValues::TurbidityUnit, &StationValues::TurbidityRaw, turbidityUnit);
}

diagnostics::Exchange ReadDualResistivityStation(StationLink link, double address, int16_t startRegister, StationValues& values)
{
    return readWith(link, address, startRegister, [&](const ReplyWords& w) {
        values.ResistivityRange = w.codeByte();
        values.ResistivityRaw = w.signedWord(kRegisterMain);
        values.SecondResistivityRaw = w.signedWord(kRegisterTemperature);
    });
}

diagnostics::Exchange ReadModel381Station(StationLink link, double address, int16_t startRegister, StationValues& values)
{
    return readDecimalCodeStation(link, address, startRegister, values, &StationValues::Model381DecimalCode,
                                  &StationValues::Model381Unit, &StationValues::Model381Raw, model381Unit);
}

diagnostics::Exchange ReadModel452Station(StationLink link, double address, int16_t startRegister, StationValues& values)
{
    return readDecimalCodeStation(link, address, startRegister, values, &StationValues::Model452DecimalCode,
                                  &StationValues::Model452Unit, &StationValues::Model452Raw, model452Unit);
}

diagnostics::Exchange ReadStation(int16_t type, serial::SerialControl& port, double address, int16_t startRegister,
                 StationValues& values, const serial::ReplyLimits& limits, serial::LateReplies* lateReplies)
{
    const StationLink link{port, limits, lateReplies};
    switch (type) {
    case config::TypeResistivity: return ReadResistivityStation(link, address, startRegister, values);
    case config::TypeConductivity:
    case config::TypeConductivitySwitch:
    case config::TypeNaCl:
    case config::TypeNaOH:
    case config::TypeHCl:
    case config::TypeH2SO4: return ReadConductivityStation(link, address, startRegister, values);
    case config::TypePH: return ReadPhStation(link, address, startRegister, values);
    case config::TypeORP: return ReadOrpStation(link, address, startRegister, values);
    case config::TypeOxygen: return ReadOxygenStation(link, address, startRegister, values);
    case config::TypeFlow: return ReadFlowStation(link, address, startRegister, values);
    case config::TypeChlorine: return ReadChlorineStation(link, address, startRegister, values);
    case config::TypeTurbidity: return ReadTurbidityStation(link, address, startRegister, values);
    case config::TypeR627: return ReadDualResistivityStation(link, address, startRegister, values);
    case config::Type381: return ReadModel381Station(link, address, startRegister, values);
    case config::Type452: return ReadModel452Station(link, address, startRegister, values);
    default: {
        diagnostics::Exchange nothingSent;
        nothingSent.outcome = diagnostics::Outcome::of(diagnostics::OutcomeKind::NoType);
        nothingSent.endedAtMs = QDateTime::currentMSecsSinceEpoch();
        return nothingSent;
    }
    }
}

} // namespace measure
