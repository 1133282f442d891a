#include "common/MeasurementLock.h"

#include <QDir>
#include <QFileInfo>

namespace common {

MeasurementLock lockMeasurement(const QString& directory)
{
    const QDir folder(directory.isEmpty() ? QDir::currentPath() : directory);
    const QString where = QDir::toNativeSeparators(folder.absolutePath());
    MeasurementLock result;
    result.lock = std::make_unique<QLockFile>(folder.filePath(QString::fromLatin1(kMeasurementLockName)));
    QLockFile& lock = *result.lock;
    // Only a holder that no longer runs makes the lock stale, however long it has measured.
    lock.setStaleLockTime(0);
    if (lock.tryLock(0))
        return result;
    qint64 pid = 0;
    QString host;
    QString program;
    if (lock.error() != QLockFile::LockFailedError || !lock.getLockInfo(&pid, &host, &program)) {
        result.warning = QStringLiteral("The folder \"%1\" cannot hold the lock file \"%2\" that keeps a second "
                                        "program from measuring it at the same time; measuring goes on without it.")
                             .arg(where, QString::fromLatin1(kMeasurementLockName));
    } else if (program == QLatin1String(kStationProgramName)) {
        result.refusal = QStringLiteral("\"%1\" is already being measured by process %2, the station service "
                                        "(zentlog-station). One program at a time measures a folder: stop the "
                                        "service first (systemctl stop zentlog-station) to measure here.")
                             .arg(where)
                             .arg(pid);
    } else {
        result.refusal = QStringLiteral("\"%1\" is already being measured by process %2 (%3). One program at a "
                                        "time measures a folder.")
                             .arg(where)
                             .arg(pid)
                             .arg(program.isEmpty() ? QStringLiteral("another program") : program);
    }
    result.lock.reset();
    return result;
}

} // namespace common
