#include "serial/DeviceLock.h"

#include "serial/NetworkDevice.h"

#include "common/MeasurementLock.h"

#include <QFileInfo>
#include <QLockFile>

namespace serial {

std::optional<qint64> deviceHolder(const QString& device)
{
    if (const auto holder = deviceHolderOf(device))
        return holder->pid;
    return std::nullopt;
}

bool stationHolds(const QString& device)
{
    const auto holder = deviceHolderOf(device);
    return holder && holder->program == QLatin1String(common::kStationProgramName);
}

std::optional<DeviceHolder> deviceHolderOf(const QString& device)
{
    if (isNetworkDevice(device))
        return std::nullopt; // a network address has no lock file: the device server serves whom it will
#ifdef Q_OS_UNIX
    // The folders Qt's serial port looks in for its lock file, in its order.
    static const char* const kLockFolders[] = {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                               "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"};
    const QString resolved = QFileInfo(device).canonicalFilePath();
    QString name = resolved.isEmpty() ? device : resolved;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char* folder : kLockFolders) {
        const QString path = QString::fromLatin1(folder) + QStringLiteral("/LCK..") + name;
        if (!QFileInfo::exists(path))
            continue;
        QLockFile lock(path);
        qint64 pid = 0;
        QString host;
        QString program;
        // A lock whose process is gone is no holder: the next open takes it over. Nor is one whose
        // number a program of another name now has (a holder killed, its number used again), as
        // Qt's own lock file sees it; a process whose program cannot be looked at counts.
        if (!lock.getLockInfo(&pid, &host, &program) || pid <= 0)
            continue;
        const QString process = QStringLiteral("/proc/%1").arg(pid);
        if (!QFileInfo::exists(process))
            continue;
        const QString executable = QFileInfo(process + QStringLiteral("/exe")).symLinkTarget();
        if (executable.isEmpty() || program.isEmpty() || QFileInfo(executable).fileName() == program)
            return DeviceHolder{pid, program};
    }
#else
    Q_UNUSED(device);
#endif
    return std::nullopt;
}

} // namespace serial
