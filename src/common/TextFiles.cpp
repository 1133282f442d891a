#include "common/TextFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace common {

FileRead readSmallFile(const QString& path, qint64 maxBytes)
{
    FileRead result;
    const QFileInfo info(path);
    if (!info.exists()) {
        result.status = FileRead::Status::Missing;
        result.error = QStringLiteral("the file does not exist");
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.status = FileRead::Status::Unreadable;
        result.error = file.errorString();
        return result;
    }
    // Read one byte past the limit so that a file that grows meanwhile is still caught.
    result.bytes = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        result.status = FileRead::Status::Unreadable;
        result.error = file.errorString();
        result.bytes.clear();
    } else if (result.bytes.size() > maxBytes) {
        result.status = FileRead::Status::TooLarge;
        result.error = QStringLiteral("the file is larger than %1 bytes").arg(maxBytes);
        result.bytes.clear();
    }
    return result;
}

QString saveAtomically(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

} // namespace common
