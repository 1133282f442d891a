#include "history/HistoryFile.h"

#include <QFile>

namespace history {

namespace {

constexpr int kHeaderBytes = 100;

quint32 bigEndian(const QByteArray& bytes, int at, int count)
{
    quint32 value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | static_cast<quint8>(bytes[at + i]);
    return value;
}

// True when the header is SQLite's and the file holds every page the header counts. The page
// count at offset 28 is only valid while the "version valid for" number (offset 92) equals the
// change counter (offset 24); SQLite keeps both in step at every checkpoint.
bool wholeDatabase(const QString& path)
{
    QFile file(path);
    QString error;
    if (!common::openForReading(file, path, error))
        return true; // cannot look (permissions): nothing is concluded from it
    const qint64 size = file.size();
    if (size == 0)
        return false;
    const QByteArray header = file.read(kHeaderBytes);
    if (header.size() < kHeaderBytes || !header.startsWith(QByteArrayLiteral("SQLite format 3\0")))
        return false;
    const quint32 rawPageSize = bigEndian(header, 16, 2);
    const qint64 pageSize = rawPageSize == 1 ? 65536 : rawPageSize;
    if (bigEndian(header, 92, 4) != bigEndian(header, 24, 4))
        return true;
    return qint64(bigEndian(header, 28, 4)) * pageSize <= size;
}

} // namespace

FileChange checkHistoryFile(const QString& path, const common::FileIdentity& opened)
{
    const common::FileIdentity now = common::identityAt(path);
    if (!now.valid)
        return common::entryKind(path) == common::EntryKind::Missing ? FileChange::Removed : FileChange::None;
    if (opened.valid && !now.sameFileAs(opened))
        return FileChange::Replaced;
    return wholeDatabase(path) ? FileChange::None : FileChange::Truncated;
}

bool holdsDatabase(const QString& path)
{
    QFile file(path);
    QString error;
    if (!common::openForReading(file, path, error) || file.size() == 0)
        return true;
    return file.read(16) == QByteArrayLiteral("SQLite format 3\0");
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
