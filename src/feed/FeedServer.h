#pragma once
// The station's side of the live feed: a QLocalServer on the socket of the working directory.
// It never blocks the measurement: lines go to every client through Qt's buffers, and a client
// whose unsent bytes exceed a bound (one that never reads) is dropped, so that no client can hold
// up a cycle or grow the station's memory. A client that sends junk gets one error line and is
// dropped after too much of it.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace feed {

class SocketName;

class FeedServer final : public QObject {
    Q_OBJECT
public:
    // A client whose unsent bytes pass this bound is dropped.
    static constexpr qint64 kMaxPendingBytes = 256 * 1024;
    // Bad command lines a client may send before it is dropped.
    static constexpr int kMaxBadLines = 10;
    // Clients at once: with each one's bound, the most the feed can hold.
    static constexpr int kMaxClients = 32;

    explicit FeedServer(QString directory, QObject* parent = nullptr);
    ~FeedServer() override;

    // Serves on socketPath(directory). Empty on success, else the reason, naming the path. A
    // socket file left by a station that died is replaced; a live station answering on it, or
    // anything at the name that is no socket, is left alone and refused. The socket gets mode
    // 0660 and the working directory's group.
    QString listen();
    // Removes the socket file (when it is still ours) and drops every client.
    void close();
    bool listening() const;
    QString path() const { return path_; }

    void setMaxPendingBytes(qint64 bytes) { maxPending_ = bytes; }
    // Lines sent to every new client before anything else (the state and the configuration).
    void setGreeting(std::function<QByteArray()> greeting) { greeting_ = std::move(greeting); }
    // Sends one line (ending in "\n") to every client; never waits.
    void broadcast(const QByteArray& line);
    int clientCount() const { return static_cast<int>(clients_.size()); }

signals:
    void resetCountersRequested();
    void reloadRequested();
    void acknowledgeRequested(qint64 alarmId);
    void acknowledgeAllRequested();
    void clientsChanged(int count);
    // Something for the log: a client dropped and why.
    void notice(const QString& text);

private:
    struct Client {
        QByteArray input;
        int badLines = 0;
    };
    void accept();
    void readFrom(QLocalSocket* socket);
    void send(QLocalSocket* socket, const QByteArray& bytes);
    // Ends a client: at once (`graceful` false), or once the lines it was sent are out.
    void drop(QLocalSocket* socket, const QString& why, bool graceful = false);
    void badLine(QLocalSocket* socket, Client& client, const QString& problem);

    QString directory_;
    QString path_;
    std::unique_ptr<SocketName> name_;
    QLocalServer* server_ = nullptr;
    std::map<QLocalSocket*, Client> clients_;
    std::function<QByteArray()> greeting_;
    qint64 maxPending_ = kMaxPendingBytes;
};

} // namespace feed
