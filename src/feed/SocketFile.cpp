#include "feed/SocketFile.h"

#include "feed/FeedProtocol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace feed {

FileKind fileKind(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return FileKind::Missing;
    return S_ISSOCK(info.st_mode) ? FileKind::Socket : FileKind::Other;
#else
    const QFileInfo info(path);
    return !info.exists() && !info.isSymLink() ? FileKind::Missing : FileKind::Other;
#endif
}

QString restrictToGroup(const QString& path, const QString& directory)
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    struct stat folder {};
    if (::stat(QFile::encodeName(directory).constData(), &folder) != 0)
        return QStringLiteral("the group of \"%1\" cannot be read: %2").arg(directory, QString::fromLocal8Bit(std::strerror(errno)));
    // The group first: until the mode is set, only the owner may connect.
    if (::chown(name.constData(), static_cast<uid_t>(-1), folder.st_gid) != 0)
        return QStringLiteral("\"%1\" cannot be given the group of the working directory: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (::chmod(name.constData(), 0660) != 0)
        return QStringLiteral("\"%1\" cannot be given mode 0660: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return {};
#else
    Q_UNUSED(directory)
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup);
    return {};
#endif
}

SocketName::SocketName(const QString& directory)
    : file_(socketPath(directory))
{
    if (fitsSocketAddress(file_)) {
        name_ = file_;
        return;
    }
#ifdef Q_OS_LINUX
    directoryFd_ = ::open(QFile::encodeName(QDir(directory).absolutePath()).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd_ < 0) {
        problem_ = QStringLiteral("\"%1\" cannot be opened: %2").arg(directory, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    name_ = QStringLiteral("/proc/self/fd/%1/%2").arg(directoryFd_).arg(QLatin1String(kSocketName));
#else
    file_ = fallbackSocketPath(directory);
    name_ = file_;
#endif
}

SocketName::~SocketName()
{
#ifdef Q_OS_UNIX
    if (directoryFd_ >= 0)
        ::close(directoryFd_);
#endif
}

} // namespace feed
