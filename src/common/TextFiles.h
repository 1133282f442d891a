#pragma once
// Small whole-file reads with a size limit, and atomic saves: a crash or a full disk never
// leaves a half-written file behind.

#include <QByteArray>
#include <QString>

namespace common {

struct FileRead {
    enum class Status { Ok, Missing, TooLarge, Unreadable };
    Status status = Status::Ok;
    QByteArray bytes;
    QString error; // why the file could not be read, for the user
};

FileRead readSmallFile(const QString& path, qint64 maxBytes);

// Writes the bytes to a temporary file beside `path` and renames it over `path` once complete.
// Returns an empty string on success, otherwise the reason for the user.
QString saveAtomically(const QString& path, const QByteArray& bytes);

} // namespace common
