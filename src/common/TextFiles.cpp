#include "common/TextFiles.h"

#include "common/SafeFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace common {

namespace {

const QString kNotRegular = QStringLiteral("it is not a regular file");

// What stands at a name we are about to replace, when it is not a file we may replace: a
// directory, or a FIFO or device that a writer could block on.
QString refuseNonRegularTarget(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("it is a directory, not a regular file");
    if (info.exists() && !info.isFile())
        return kNotRegular;
    return {};
}

} // namespace

AtomicWriter::AtomicWriter(const QString& path)
    : file_(path)
{
}

AtomicWriter::~AtomicWriter() = default;

QString AtomicWriter::open()
{
    if (QString refusal = refuseNonRegularTarget(file_.fileName()); !refusal.isEmpty())
        return refusal;
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        // A file is saved beside itself and renamed over the old one: the folder must be
        // writable, not only the file. "Permission denied" alone would not say which to mend.
        const QFileInfo folder(QFileInfo(file_.fileName()).absolutePath());
        if (folder.isDir() && !folder.isWritable())
            return QStringLiteral("this user may not write to the folder \"%1\" (%2)")
                .arg(QDir::toNativeSeparators(folder.absoluteFilePath()), file_.errorString());
        return file_.errorString();
    }
    return {};
}

QString AtomicWriter::write(QByteArrayView bytes)
{
    // An unbuffered write may take only part of a large block (the last free bytes of a disk)
    // without an error; writing the rest then gives the reason, "No space left on device".
    while (!bytes.isEmpty()) {
        const qint64 written = file_.write(bytes.data(), bytes.size());
        if (written <= 0)
            return file_.errorString();
        written_ += written;
        bytes = bytes.sliced(written);
    }
    return {};
}

QString AtomicWriter::commit()
{
    if (!file_.flush())
        return file_.errorString();
    const qint64 onDisk = file_.size();
    if (onDisk != written_)
        return QStringLiteral("only %1 of its %2 bytes reached the disk").arg(onDisk).arg(written_);
    if (!file_.commit())
        return file_.errorString();
    return {};
}

void AtomicWriter::discard()
{
    file_.cancelWriting();
    if (file_.isOpen())
        file_.commit(); // after cancelWriting() this only removes the temporary file
}

FileRead readSmallFile(const QString& path, qint64 maxBytes)
{
    FileRead result;
    const auto refuse = [&result](FileRead::Status status, const QString& error) {
        result.status = status;
        result.error = error;
        result.bytes.clear();
        return result;
    };
    if (!QFileInfo::exists(path))
        return refuse(FileRead::Status::Missing, QStringLiteral("the file does not exist"));
    // A FIFO, a device or a directory is refused on the open file itself, and opening never
    // waits: a FIFO opened the ordinary way would wait for a writer, for ever if none came.
    QFile file;
    QString reason;
    if (!openForReading(file, path, reason)) {
        const bool notRegular = QFileInfo::exists(path) && !QFileInfo(path).isFile();
        return refuse(notRegular ? FileRead::Status::NotRegular : FileRead::Status::Unreadable, reason);
    }
    // The size now that it is open: what is appended from here on is not read.
    const qint64 size = file.size();
    if (size > maxBytes)
        return refuse(FileRead::Status::TooLarge, QStringLiteral("the file is larger than %1 bytes").arg(maxBytes));
    result.bytes = file.read(size);
    if (file.error() != QFileDevice::NoError)
        return refuse(FileRead::Status::Unreadable, file.errorString());
    return result;
}

QString saveAtomically(const QString& path, const QByteArray& bytes)
{
    AtomicWriter writer(path);
    if (QString error = writer.open(); !error.isEmpty())
        return error;
    if (QString error = writer.write(bytes); !error.isEmpty())
        return error;
    return writer.commit();
}

QString copyAtomically(const QString& from, const QString& to)
{
    QFile source;
    QString reason;
    if (!openForReading(source, from, reason))
        return reason;
    AtomicWriter writer(to);
    if (QString error = writer.open(); !error.isEmpty())
        return error;
    constexpr qint64 kChunk = 64 * 1024;
    for (qint64 left = source.size(); left > 0;) {
        const QByteArray chunk = source.read(qMin(left, kChunk));
        if (source.error() != QFileDevice::NoError)
            return source.errorString();
        if (chunk.isEmpty())
            break; // the file shrank meanwhile: what is there is copied
        if (QString error = writer.write(chunk); !error.isEmpty())
            return error;
        left -= chunk.size();
    }
    return writer.commit();
}

SettingsLoad loadSettingsFile(const QString& path, qint64 maxBytes, const QString& binaryProblem,
                              const std::function<ParsedSettings(QByteArrayView)>& parse)
{
    SettingsLoad load;
    const FileRead read = readSmallFile(path, maxBytes);
    load.status = read.status;
    if (read.status != FileRead::Status::Ok) {
        load.malformed = true;
        load.problems << read.error;
    } else if (read.bytes.contains('\0')) {
        load.malformed = true;
        load.problems << binaryProblem;
    } else {
        ParsedSettings parsed = parse(read.bytes);
        load.malformed = parsed.malformed;
        load.problems = std::move(parsed.problems);
    }
    return load;
}

QString keptCopyPath(const QString& path)
{
    return path + QStringLiteral(".bad");
}

SettingsSave saveSettingsFile(const QString& path, const QByteArray& bytes, bool keepExisting)
{
    SettingsSave save;
    // Only a regular file is kept; anything else at the name makes the save itself refuse.
    if (keepExisting && QFileInfo(path).isFile()) {
        // An earlier kept copy is replaced: it was the file at an earlier failed load, and the
        // user was told where it went then. One copy keeps the folder from filling up.
        const QString kept = keptCopyPath(path);
        if (const QString error = copyAtomically(path, kept); !error.isEmpty()) {
            save.error = QStringLiteral("the unreadable file could not first be kept as \"%1\" (%2)")
                             .arg(QFileInfo(kept).fileName(), error);
            return save;
        }
        save.keptCopy = kept;
    }
    save.error = saveAtomically(path, bytes);
    return save;
}

} // namespace common
