#pragma once
// Who holds a serial device. Qt's serial port takes a lock file beside the other programs' UUCP
// locks ("LCK..ttyUSB0" in /var/lock, or the first writable of the usual folders) holding the
// process id of the program that opened the device; a program refused the device can name it.

#include <QString>

#include <optional>

namespace serial {

// The process that holds `device` (a path under /dev, links already resolved) open, when a lock
// file names one that still runs; empty otherwise (and always where there are no such locks).
std::optional<qint64> deviceHolder(const QString& device);

// The process holding `device` and the program its lock names ("zentlog-station" for the
// station service), as deviceHolder finds it.
struct DeviceHolder {
    qint64 pid = 0;
    QString program;
};
std::optional<DeviceHolder> deviceHolderOf(const QString& device);

// Whether the station service (zentlog-station) holds `device` open.
bool stationHolds(const QString& device);

} // namespace serial
