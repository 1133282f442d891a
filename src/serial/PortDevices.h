#pragma once
// The device the user chose for each of COM1..COM4, kept in "zentlog.ini" (INI format, in the
// working directory):
//   [ports]
//   COM1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0
// A missing file or key means the default device; reading never creates the file. The stable
// names under /dev/serial/by-id are the ones to keep: /dev/ttyUSB0 becomes /dev/ttyUSB1 when a
// second adapter is plugged in first, the by-id link follows its adapter.

#include <QHash>
#include <QList>
#include <QString>

#include <array>
#include <functional>

namespace common {
class IniFile;
}

namespace serial {

inline constexpr int kChoosablePorts = 4;
inline constexpr char kPortsFileName[] = "zentlog.ini";

struct PortChoices {
    // The chosen device of COM1..COM4; empty: the default.
    std::array<QString, kChoosablePorts> devices;
    // What was wrong in the file (a relative path, a file that cannot be read); empty when fine.
    // The default stands in for anything unusable.
    QString problem;

    // Reads "zentlog.ini" from `directory` (empty: the working directory).
    static PortChoices load(const QString& directory = {});
    // Takes [ports] from a file already read; a damaged file gives the defaults, its damage in
    // `problem`.
    static PortChoices load(const common::IniFile& file);
    // Writes the four choices into the [ports] section of "zentlog.ini", every other section and
    // key kept, through an atomic save: the old file stays whole when the save fails. A link at
    // the name is never followed. Returns an empty string on success, otherwise the reason.
    QString save(const QString& directory = {}) const;
};

// The choices deviceForPort uses: the program's one record of them, set by the application at
// start from "zentlog.ini" and again whenever the user stores new ones. Until then, none.
void useChosenDevices(const PortChoices& choices);
const PortChoices& chosenDevices();

// The device of port 1..4 when neither the environment nor the user chose one.
QString defaultDevice(int port);
// ZENTLOG_COMn when it is set (scripts and tests point a port at a device with it); else empty.
QString environmentDevice(int port);
QString environmentVariable(int port);

// Why a device name cannot be used ("is not a full path"); empty when it can.
QString unusableDevice(const QString& device);

// A serial port the system has, as its port list describes it.
struct PortDescription {
    QString portName;       // "ttyUSB0"
    QString systemLocation; // "/dev/ttyUSB0"
    QString description;
    QString manufacturer;
    QString serialNumber;
    bool operator==(const PortDescription&) const = default;
};
using PortSource = std::function<QList<PortDescription>()>;
// The system's list (QSerialPortInfo). Pseudo-terminals are never in it: they are given by path.
QList<PortDescription> systemSerialPorts();

// What a path the user gives as a port's device is.
enum class DeviceKind { Missing, CharacterDevice, NotADevice };
struct DeviceCheck {
    DeviceKind kind = DeviceKind::Missing;
    QString what; // for NotADevice: "a regular file", "a directory", ...
};
// Links are followed: a by-id name is checked as the device it points at.
DeviceCheck checkDevice(const QString& path);

// The stable names in `byIdDirectory` (links made by the system for every USB serial adapter),
// keyed by the canonical path of the device each points at.
QHash<QString, QString> stableNames(const QString& byIdDirectory = QStringLiteral("/dev/serial/by-id"));

} // namespace serial
