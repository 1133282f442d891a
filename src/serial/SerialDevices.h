#pragma once
// Which device each of COM1..COM4 means on this machine: the environment variable ZENTLOG_COMn
// when it is set (for example ZENTLOG_COM1=/dev/ttyUSB0), else the device chosen in
// "zentlog.ini" [ports] (see PortDevices.h), else the default: on Windows the port names
// themselves, on Linux /dev/ttyS0../dev/ttyS3.

#include <QString>

#include <optional>

namespace serial {

// The device of port 1..4; empty for any other number.
QString deviceForPort(int port);

// "9600,n,8, 1" taken apart. Parity is one of 'n', 'e', 'o', 'm', 's'.
struct LineSettings {
    int baudRate = 9600;
    char parity = 'n';
    int dataBits = 8;
    int stopBits = 1; // 1 or 2
};
std::optional<LineSettings> parseSettingsString(const QByteArray& settings);

} // namespace serial
