#pragma once
// The service manager's notifications (sd_notify): readiness, a one-line status, and the watchdog
// pings by which systemd tells a hung measurement from a working one. Without a service manager
// (NOTIFY_SOCKET unset) or without libsystemd, every call does nothing.

#include <QByteArray>
#include <QString>

namespace station {

class SystemdNotify {
public:
    SystemdNotify();

    void ready();
    // Sent only when it differs from the last status sent.
    void status(const QString& line);
    // Only while the service manager asked for pings (WATCHDOG_USEC).
    void watchdog();
    void stopping();
    // A service manager listens (NOTIFY_SOCKET): worth making a status line for.
    bool enabled() const { return enabled_; }

private:
    void send(const QByteArray& state);

    bool enabled_ = false;
    quint64 watchdogUsec_ = 0;
    QString lastStatus_;
};

} // namespace station
