#include "feed/FeedServer.h"

#include "feed/FeedProtocol.h"
#include "feed/SocketFile.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <vector>

namespace feed {

namespace {
// How long a station that still runs takes to accept a connection, at most.
constexpr int kProbeMs = 1000;
// A client dropped gracefully gets this long to take its last lines.
constexpr int kGoodbyeMs = 1000;
} // namespace

FeedServer::FeedServer(QString directory, QObject* parent)
    : QObject(parent)
    , directory_(std::move(directory))
    , path_(socketPath(directory_))
{
}

FeedServer::~FeedServer()
{
    close();
}

bool FeedServer::listening() const
{
    return server_ && server_->isListening();
}

QString FeedServer::listen()
{
    close();
    name_ = std::make_unique<SocketName>(directory_);
    path_ = name_->file();
    if (name_->name().isEmpty())
        return name_->problem();
    switch (fileKind(path_)) {
    case FileKind::Missing: break;
    case FileKind::Other:
        return QStringLiteral("\"%1\" is there and is no socket: it is left alone").arg(path_);
    case FileKind::Socket: {
        // A socket that answers belongs to a station that still runs; one that does not was left
        // by a station that ended without removing it.
        QLocalSocket probe;
        probe.connectToServer(name_->name());
        if (probe.waitForConnected(kProbeMs)) {
            probe.abort();
            return QStringLiteral("another station serves on \"%1\"").arg(path_);
        }
        if (!QFile::remove(path_))
            return QStringLiteral("the socket \"%1\" left by a station that ended cannot be removed").arg(path_);
        break;
    }
    }
    server_ = new QLocalServer(this);
    if (!server_->listen(name_->name())) {
        const QString problem = QStringLiteral("\"%1\" cannot be served: %2").arg(path_, server_->errorString());
        delete std::exchange(server_, nullptr);
        return problem;
    }
    connect(server_, &QLocalServer::newConnection, this, &FeedServer::accept);
    if (const QString problem = restrictToGroup(path_, directory_); !problem.isEmpty())
        emit notice(problem);
    return {};
}

void FeedServer::close()
{
    std::vector<QLocalSocket*> sockets;
    for (const auto& entry : clients_)
        sockets.push_back(entry.first);
    for (QLocalSocket* socket : sockets)
        drop(socket, {});
    // QLocalServer removes the socket file it made.
    if (server_)
        server_->close();
    delete std::exchange(server_, nullptr);
    name_.reset();
}

void FeedServer::accept()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        if (clientCount() >= kMaxClients) {
            socket->write(encodeError(QStringLiteral("too many clients (%1): try again later").arg(kMaxClients)));
            socket->disconnectFromServer();
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QTimer::singleShot(kGoodbyeMs, socket, &QObject::deleteLater);
            continue;
        }
        clients_.emplace(socket, Client{});
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { drop(socket, {}); });
        emit clientsChanged(clientCount());
        if (greeting_)
            send(socket, greeting_());
    }
}

void FeedServer::broadcast(const QByteArray& line)
{
    std::vector<QLocalSocket*> sockets;
    sockets.reserve(clients_.size());
    for (const auto& entry : clients_)
        sockets.push_back(entry.first);
    for (QLocalSocket* socket : sockets)
        send(socket, line);
}

void FeedServer::send(QLocalSocket* socket, const QByteArray& bytes)
{
    if (!clients_.contains(socket))
        return;
    const qint64 pending = socket->bytesToWrite() + bytes.size();
    if (pending > maxPending_) {
        drop(socket, QStringLiteral("it takes nothing of what it is sent (%1 bytes unsent)").arg(pending));
        return;
    }
    socket->write(bytes);
    // Out now rather than at the next turn of the event loop; never waits.
    socket->flush();
}

void FeedServer::readFrom(QLocalSocket* socket)
{
    const auto found = clients_.find(socket);
    if (found == clients_.end())
        return;
    Client& client = found->second;
    client.input += socket->readAll();
    qsizetype start = 0;
    for (qsizetype end; (end = client.input.indexOf('\n', start)) >= 0; start = end + 1) {
        const QByteArrayView line = QByteArrayView(client.input).sliced(start, end - start);
        const ParsedCommand parsed = parseCommand(line);
        if (!parsed.command) {
            badLine(socket, client, parsed.problem);
            if (!clients_.contains(socket))
                return;
        } else {
            switch (*parsed.command) {
            case Command::ResetCounters: emit resetCountersRequested(); break;
            case Command::Reload: emit reloadRequested(); break;
            case Command::Acknowledge: emit acknowledgeRequested(parsed.alarmId); break;
            case Command::AcknowledgeAll: emit acknowledgeAllRequested(); break;
            }
        }
        // A slot may have dropped the client (the station stopping).
        if (!clients_.contains(socket))
            return;
    }
    client.input.remove(0, start);
    if (client.input.size() > kMaxCommandBytes) {
        badLine(socket, client, QStringLiteral("a line longer than %1 bytes").arg(kMaxCommandBytes));
        if (clients_.contains(socket))
            drop(socket, QStringLiteral("it sent a line longer than %1 bytes").arg(kMaxCommandBytes), true);
    }
}

void FeedServer::badLine(QLocalSocket* socket, Client& client, const QString& problem)
{
    // One answer is enough to tell a person what is wrong; a program that keeps sending junk
    // gets no more of the station's time.
    const int bad = ++client.badLines;
    if (bad == 1)
        send(socket, encodeError(QStringLiteral("%1; commands: {\"command\":\"reset-counters\"}, {\"command\":\"reload\"}, "
                                            "{\"command\":\"acknowledge\",\"id\":N}, {\"command\":\"acknowledge-all\"}")
                             .arg(problem)));
    if (bad >= kMaxBadLines && clients_.contains(socket))
        drop(socket, QStringLiteral("it sent %1 lines that are no command").arg(bad), true);
}

void FeedServer::drop(QLocalSocket* socket, const QString& why, bool graceful)
{
    if (clients_.erase(socket) == 0)
        return;
    socket->disconnect(this);
    if (!why.isEmpty())
        emit notice(QStringLiteral("A client of the live feed is dropped: %1.").arg(why));
    if (graceful) {
        socket->disconnectFromServer();
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // One that takes nothing would keep its lines, and the socket, for ever.
        QTimer::singleShot(kGoodbyeMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
    } else {
        socket->abort();
        socket->deleteLater();
    }
    emit clientsChanged(clientCount());
}

} // namespace feed
