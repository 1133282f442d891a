#include "history/HistoryFile.h"

#include <QFile>

namespace history {

namespace {

enum class Start { Unreadable, Empty, Database, Other };

// What the file at `path` begins with. (The page count in the header is no measure of a cut: in
// WAL mode the file may lawfully end a page short of it until the next checkpoint.)
Start startOf(const QString& path)
{
    QFile file(path);
    QString error;
    if (!common::openForReading(file, path, error))
        return Start::Unreadable;
    if (file.size() == 0)
        return Start::Empty;
    return file.read(16) == QByteArrayLiteral("SQLite format 3\0") ? Start::Database : Start::Other;
}

} // namespace

FileChange checkHistoryFile(const QString& path, const common::FileIdentity& opened)
{
    const common::FileIdentity now = common::identityAt(path);
    if (!now.valid)
        return common::entryKind(path) == common::EntryKind::Missing ? FileChange::Removed : FileChange::None;
    if (opened.valid && !now.sameFileAs(opened))
        return FileChange::Replaced;
    // A file that cannot be looked at (permissions) is not concluded about.
    const Start start = startOf(path);
    return start == Start::Empty || start == Start::Other ? FileChange::Truncated : FileChange::None;
}

bool holdsDatabase(const QString& path)
{
    return startOf(path) != Start::Other;
}

QString describe(FileChange change)
{
    switch (change) {
    case FileChange::None:
        break;
    case FileChange::Removed:
        return QStringLiteral("was removed");
    case FileChange::Replaced:
        return QStringLiteral("was replaced by another file");
    case FileChange::Truncated:
        return QStringLiteral("was truncated or overwritten");
    }
    return {};
}

} // namespace history
