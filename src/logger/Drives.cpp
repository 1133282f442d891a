#include "logger/Drives.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace logger {

namespace {

#ifdef Q_OS_WIN
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseSensitive;
#endif

bool contains(const QString& drive, const QString& path)
{
    if (drive.endsWith(QLatin1Char('/')))
        return path.startsWith(drive, kPathCase) || path.compare(drive.chopped(1), kPathCase) == 0;
    return path.compare(drive, kPathCase) == 0 || path.startsWith(drive + QLatin1Char('/'), kPathCase);
}

} // namespace

QStringList listDrives()
{
    QStringList drives;
#ifdef Q_OS_WIN
    for (const QFileInfo& drive : QDir::drives())
        drives << drive.absolutePath();
#else
    drives << QStringLiteral("/") << QDir::homePath();
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (root.startsWith(QLatin1String("/media/")) || root.startsWith(QLatin1String("/mnt/"))
            || root.startsWith(QLatin1String("/run/media/")))
            drives << root;
    }
    drives.removeDuplicates();
    std::sort(drives.begin() + 1, drives.end());
#endif
    return drives;
}

QString driveOf(const QStringList& drives, const QString& path)
{
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(path));
    QString best;
    for (const QString& drive : drives) {
        const QString cleanDrive = QDir::cleanPath(drive);
        if (contains(cleanDrive, clean) && cleanDrive.size() > QDir::cleanPath(best).size())
            best = drive;
    }
    return best;
}

} // namespace logger
