#include "common/SafeFiles.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace common {

namespace {

const QString kNotRegular = QStringLiteral("it is not a regular file (a pipe, a device or a socket)");
const QString kIsLink = QStringLiteral("it is a symbolic link, and the extraction never writes through a link");
const QString kIsDirectory = QStringLiteral("a directory of that name is in the way");

#ifdef Q_OS_UNIX

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

EntryKind kindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return EntryKind::Regular;
    if (S_ISDIR(mode))
        return EntryKind::Directory;
    if (S_ISLNK(mode))
        return EntryKind::SymLink;
    return EntryKind::Other;
}

QString refusalFor(mode_t mode)
{
    return S_ISDIR(mode) ? kIsDirectory : kNotRegular;
}

// A regular file ignores O_NONBLOCK; it is cleared anyway so that the descriptor behaves as
// an ordinary one.
void clearNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

// Hands a checked descriptor to `file`; the descriptor is closed with it.
bool adopt(QFile& file, int fd, QIODevice::OpenMode mode, QString& error)
{
    if (file.open(fd, mode | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
        return true;
    error = file.errorString();
    ::close(fd);
    return false;
}

#endif

} // namespace

QString entryKindText(EntryKind kind)
{
    switch (kind) {
    case EntryKind::Missing: return QStringLiteral("missing");
    case EntryKind::Regular: return QStringLiteral("a regular file");
    case EntryKind::Directory: return QStringLiteral("a directory");
    case EntryKind::SymLink: return QStringLiteral("a symbolic link");
    case EntryKind::Other: return QStringLiteral("not a regular file (a pipe, a device or a socket)");
    }
    return {};
}

bool FileIdentity::sameFileAs(const FileIdentity& other) const
{
    if (!valid || !other.valid)
        return false;
#ifdef Q_OS_UNIX
    return device == other.device && inode == other.inode;
#else
    return !canonicalPath.isEmpty() && canonicalPath == other.canonicalPath;
#endif
}

#ifdef Q_OS_UNIX

EntryKind entryKind(const QString& path)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return EntryKind::Missing;
    return kindOf(status.st_mode);
}

FileIdentity identityAt(const QString& path)
{
    struct stat status {};
    FileIdentity identity;
    if (::lstat(QFile::encodeName(path).constData(), &status) == 0) {
        identity.valid = true;
        identity.device = static_cast<quint64>(status.st_dev);
        identity.inode = static_cast<quint64>(status.st_ino);
    }
    return identity;
}

FileIdentity identityOf(const QFile& file, const QString&)
{
    struct stat status {};
    FileIdentity identity;
    if (file.isOpen() && ::fstat(file.handle(), &status) == 0) {
        identity.valid = true;
        identity.device = static_cast<quint64>(status.st_dev);
        identity.inode = static_cast<quint64>(status.st_ino);
    }
    return identity;
}

bool openForReading(QFile& file, const QString& path, QString& error)
{
    // Non-blocking: opening a pipe for reading would otherwise wait for a writer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = systemReason(errno);
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = S_ISDIR(status.st_mode) ? QStringLiteral("it is a directory, not a regular file") : kNotRegular;
        ::close(fd);
        return false;
    }
    clearNonBlocking(fd);
    return adopt(file, fd, QIODevice::ReadOnly, error);
}

WriteOpening openForWriting(QFile& file, const QString& path, WriteMode mode)
{
    WriteOpening result;
    const QByteArray name = QFile::encodeName(path);
    constexpr int kCommon = O_WRONLY | O_NOCTTY | O_CLOEXEC;
    // A name that comes and goes between the two opens below is tried again, a few times.
    for (int attempt = 0; attempt < 3; ++attempt) {
        // O_EXCL never follows a link, not even a dangling one.
        int fd = ::open(name.constData(), kCommon | O_CREAT | O_EXCL | (mode == WriteMode::AppendOrCreate ? O_APPEND : 0),
                        0666);
        if (fd >= 0) {
            result.created = true;
        } else if (errno != EEXIST) {
            result.error = systemReason(errno);
            return result;
        } else if (mode == WriteMode::CreateNew) {
            result.alreadyThere = true;
            result.error = systemReason(EEXIST);
            return result;
        } else {
            // O_NOFOLLOW refuses a link; O_NONBLOCK keeps a pipe from holding the open.
            fd = ::open(name.constData(), kCommon | O_APPEND | O_NOFOLLOW | O_NONBLOCK);
            if (fd < 0) {
                const int error = errno;
                if (error == ENOENT)
                    continue;
                // ENXIO: a pipe nobody reads.
                result.error = error == ELOOP ? kIsLink : error == ENXIO ? kNotRegular
                    : error == EISDIR                                  ? kIsDirectory
                                                                       : systemReason(error);
                return result;
            }
        }
        struct stat status {};
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            result.error = refusalFor(status.st_mode);
            ::close(fd);
            return result;
        }
        clearNonBlocking(fd);
        result.opened = adopt(file, fd, QIODevice::WriteOnly | QIODevice::Append, result.error);
        return result;
    }
    result.error = QStringLiteral("the file kept appearing and disappearing");
    return result;
}

#else

EntryKind entryKind(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return EntryKind::SymLink;
    if (!info.exists())
        return EntryKind::Missing;
    if (info.isDir())
        return EntryKind::Directory;
    return info.isFile() ? EntryKind::Regular : EntryKind::Other;
}

FileIdentity identityAt(const QString& path)
{
    FileIdentity identity;
    identity.canonicalPath = QFileInfo(path).canonicalFilePath();
    identity.valid = !identity.canonicalPath.isEmpty();
    return identity;
}

FileIdentity identityOf(const QFile& file, const QString& path)
{
    return file.isOpen() ? identityAt(path) : FileIdentity{};
}

bool openForReading(QFile& file, const QString& path, QString& error)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        error = info.isDir() ? QStringLiteral("it is a directory, not a regular file") : kNotRegular;
        return false;
    }
    file.setFileName(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return true;
    error = file.errorString();
    return false;
}

WriteOpening openForWriting(QFile& file, const QString& path, WriteMode mode)
{
    WriteOpening result;
    const EntryKind kind = entryKind(path);
    if (kind == EntryKind::SymLink || kind == EntryKind::Directory || kind == EntryKind::Other) {
        result.alreadyThere = true;
        result.error = kind == EntryKind::SymLink ? kIsLink : kind == EntryKind::Directory ? kIsDirectory : kNotRegular;
        return result;
    }
    if (mode == WriteMode::CreateNew && kind != EntryKind::Missing) {
        result.alreadyThere = true;
        result.error = QStringLiteral("the file exists");
        return result;
    }
    result.created = kind == EntryKind::Missing;
    file.setFileName(path);
    QIODevice::OpenMode openMode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    openMode |= mode == WriteMode::CreateNew ? QIODevice::NewOnly : QIODevice::Append;
    result.opened = file.open(openMode);
    if (!result.opened)
        result.error = file.errorString();
    return result;
}

#endif

} // namespace common
