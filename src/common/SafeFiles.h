#pragma once
// Opening files so that a name can never lead somewhere else: only regular
// files are read or written, a link at an output name is never followed, and neither a pipe
// nor a device can make an open wait for ever. On Unix every check is made on the open file
// itself, so that nothing swapped in between a check and the open gets through.

#include <QFile>
#include <QString>

namespace common {

// What a directory entry is, without following a link. Missing also stands for an entry that
// cannot be looked at: opening it then gives the reason.
enum class EntryKind { Missing, Regular, Directory, SymLink, Other };
EntryKind entryKind(const QString& path);

// "a symbolic link", "a directory", ... for messages.
QString entryKindText(EntryKind kind);

// Tells whether two names mean one file, hard links included. On Unix the device and inode
// number; elsewhere the canonical path, which sees no hard link.
struct FileIdentity {
    bool valid = false;
    quint64 device = 0;
    quint64 inode = 0;
    QString canonicalPath;

    bool sameFileAs(const FileIdentity& other) const;
};
// The entry itself, a link not followed.
FileIdentity identityAt(const QString& path);
// The open file (`path` is its name, used where the system has no inode numbers).
FileIdentity identityOf(const QFile& file, const QString& path);

// Opens `path` for reading, unbuffered, when it is a regular file; a pipe, a device or a
// directory is refused without waiting. False with the reason in `error`.
bool openForReading(QFile& file, const QString& path, QString& error);

struct WriteOpening {
    bool opened = false;
    bool created = false;      // the file did not exist before
    bool alreadyThere = false; // CreateNew: something of that name exists
    QString error;
};
enum class WriteMode {
    CreateNew,      // a new file; fails when anything of that name exists, a dangling link included
    AppendOrCreate, // an existing regular file is extended, a missing one created
};
// Opens `path` for writing, unbuffered, never through a link and never blocking.
WriteOpening openForWriting(QFile& file, const QString& path, WriteMode mode);

} // namespace common
