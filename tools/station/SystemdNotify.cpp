#include "SystemdNotify.h"

#ifdef ZENTLOG_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace station {

SystemdNotify::SystemdNotify()
{
#ifdef ZENTLOG_HAVE_SYSTEMD
    enabled_ = qEnvironmentVariableIsSet("NOTIFY_SOCKET");
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0)
        watchdogUsec_ = usec;
#endif
}

void SystemdNotify::send(const QByteArray& state)
{
#ifdef ZENTLOG_HAVE_SYSTEMD
    sd_notify(0, state.constData());
#else
    Q_UNUSED(state);
#endif
}

void SystemdNotify::ready()
{
    send("READY=1");
}

void SystemdNotify::status(const QString& line)
{
    if (line == lastStatus_)
        return;
    lastStatus_ = line;
    // One line: a newline would end the STATUS assignment and start another.
    QString text = line;
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    send("STATUS=" + text.toUtf8());
}

void SystemdNotify::watchdog()
{
    if (watchdogUsec_ > 0)
        send("WATCHDOG=1");
}

void SystemdNotify::stopping()
{
    send("STOPPING=1");
}

} // namespace station
