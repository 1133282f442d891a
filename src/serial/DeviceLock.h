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

} // namespace serial
