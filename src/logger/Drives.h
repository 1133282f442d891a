#pragma once
// The drives the extraction window offers. On Windows these are the drive roots; elsewhere the
// root "/", the home directory and the volumes mounted under /media, /mnt and /run/media, where
// removable media (the logger's card) appear.

#include <QString>
#include <QStringList>

namespace logger {

QStringList listDrives();

// The drive a path lies on: the longest of `drives` that contains it (empty when none does).
QString driveOf(const QStringList& drives, const QString& path);

} // namespace logger
