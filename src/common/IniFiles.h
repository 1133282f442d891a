#pragma once
// Saving one section of an INI file that QSettings reads ("zentlog.ini") without losing what the
// user wrote around it: every other line, comments, key order and line ends stay as they were.

#include <QList>
#include <QString>

#include <optional>

namespace common {

// A key of the section and what becomes of it: the new value, or nothing to remove it.
struct IniChange {
    QString key;
    std::optional<QString> value;
};

// Applies the changes to [section] of the INI file at `path` (made when missing). A key already
// there is replaced on its own line, a new one goes at the end of the section (a section missing
// is added at the end of the file). The result is read back with QSettings before it replaces the
// file in one rename, so that the old file stays whole when anything fails (a full disk). A link,
// a folder or a pipe at the name is refused, never written through. Files larger than `maxBytes`
// are no settings of ours and are left alone. Returns an empty string on success, otherwise the
// reason, naming the file.
QString saveIniSection(const QString& path, const QString& section, const QList<IniChange>& changes,
                       qint64 maxBytes);

} // namespace common
