#pragma once
// A COM port's device may be a network address instead of a serial device:
//   rtu+tcp://HOST:PORT     a serial device server: the line's RTU bytes over one TCP connection
//   modbus+tcp://HOST:PORT  a Modbus TCP gateway: each request and reply behind an MBAP header
// HOST is a name, an IPv4 address or an IPv6 address in brackets ("[::1]").

#include <QString>

#include <cstdint>
#include <optional>

namespace serial {

enum class NetworkMode { RawRtu, ModbusTcp };

struct NetworkDevice {
    NetworkMode mode = NetworkMode::RawRtu;
    QString host; // without brackets
    uint16_t port = 0;
};

// True when `device` is written as a network address (whether or not it is a valid one).
bool isNetworkDevice(const QString& device);

// The address taken apart; std::nullopt with the reason in `problem` ("has no port number") when
// `device` is not a valid network address.
std::optional<NetworkDevice> parseNetworkDevice(const QString& device, QString* problem = nullptr);

// The address written out again, as parseNetworkDevice reads it.
QString networkDeviceText(const NetworkDevice& device);

} // namespace serial
