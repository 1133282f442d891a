#pragma once
// The socket file of the live feed in the file system: what is at its name, its access, and the
// name to bind or connect to when its path is too long for a socket address.

#include <QString>

namespace feed {

enum class FileKind { Missing, Socket, Other };
// What is at `path`, without following a link (a link is Other).
FileKind fileKind(const QString& path);

// Mode 0660 and the group of `directory`: the access to the feed is the working directory's
// group's. Empty on success, else the reason.
QString restrictToGroup(const QString& path, const QString& directory);

// The name to give QLocalServer::listen or QLocalSocket::connectToServer for the socket of a
// working directory. When the socket's path does not fit a socket address, Linux reaches the very
// same file through a descriptor of the directory, held open by this object
// ("/proc/self/fd/N/zentlog-station.sock"); elsewhere it is fallbackSocketPath(). Keep the object
// while the name is in use.
class SocketName {
public:
    explicit SocketName(const QString& directory);
    ~SocketName();
    SocketName(const SocketName&) = delete;
    SocketName& operator=(const SocketName&) = delete;

    // The socket file ("<directory>/zentlog-station.sock", or the fallback file elsewhere than Linux).
    const QString& file() const { return file_; }
    // What to listen on or connect to; empty when the directory could not be opened (see problem()).
    const QString& name() const { return name_; }
    const QString& problem() const { return problem_; }

private:
    QString file_;
    QString name_;
    QString problem_;
    int directoryFd_ = -1;
};

} // namespace feed
