#include "feed/FeedClient.h"

#include "feed/SocketFile.h"

#include <QLocalSocket>

namespace feed {

namespace {
constexpr int kRetryMs = 1000;
} // namespace

FeedClient::FeedClient(QString directory, QObject* parent)
    : QObject(parent)
    , directory_(std::move(directory))
    , path_(socketPath(directory_))
    , socket_(new QLocalSocket(this))
{
    retry_.setInterval(kRetryMs);
    connect(&retry_, &QTimer::timeout, this, &FeedClient::connectNow);
    connect(socket_, &QLocalSocket::connected, this, [this] {
        input_.clear();
        discarding_ = false;
        name_.reset();
        setConnected(true);
    });
    connect(socket_, &QLocalSocket::disconnected, this, [this] { setConnected(false); });
    connect(socket_, &QLocalSocket::errorOccurred, this, [this] {
        if (socket_->state() == QLocalSocket::UnconnectedState)
            setConnected(false);
    });
    connect(socket_, &QLocalSocket::readyRead, this, &FeedClient::readLines);
}

FeedClient::~FeedClient()
{
    socket_->disconnect(this);
}

void FeedClient::start()
{
    retry_.start();
    connectNow();
}

void FeedClient::stop()
{
    retry_.stop();
    socket_->abort();
    name_.reset();
    setConnected(false);
}

void FeedClient::connectNow()
{
    if (socket_->state() != QLocalSocket::UnconnectedState)
        return;
    // The name is made afresh each time: a long path is reached through a descriptor of the
    // directory, which must be the directory as it is now.
    name_ = std::make_unique<SocketName>(directory_);
    if (!name_->name().isEmpty())
        socket_->connectToServer(name_->name());
}

void FeedClient::resetCounters()
{
    send(Command::ResetCounters);
}

void FeedClient::reload()
{
    send(Command::Reload);
}

void FeedClient::acknowledge(qint64 alarmId)
{
    if (connected_)
        socket_->write(encodeAcknowledge(alarmId));
}

void FeedClient::acknowledgeAll()
{
    send(Command::AcknowledgeAll);
}

void FeedClient::send(Command command)
{
    if (connected_)
        socket_->write(encodeCommand(command));
}

void FeedClient::readLines()
{
    input_ += socket_->readAll();
    qsizetype start = 0;
    for (qsizetype end; (end = input_.indexOf('\n', start)) >= 0; start = end + 1) {
        if (std::exchange(discarding_, false))
            continue; // the end of a line too long to read
        handle(QByteArrayView(input_).sliced(start, end - start));
        // A slot may have stopped the client.
        if (!connected_)
            return;
    }
    input_.remove(0, start);
    if (input_.size() > kMaxLineBytes) {
        if (!discarding_)
            emit problem(QStringLiteral("The station sent a line longer than %1 bytes; it is skipped.").arg(kMaxLineBytes));
        discarding_ = true;
        input_.clear();
    }
}

void FeedClient::handle(QByteArrayView line)
{
    const FeedMessage message = parseLine(line);
    switch (message.kind) {
    case FeedMessage::Kind::Visit: emit visited(message.visit); break;
    case FeedMessage::Kind::State: emit stateChanged(message.state); break;
    case FeedMessage::Kind::Configuration: emit configurationChanged(message.configuration); break;
    case FeedMessage::Kind::Alarm: emit alarmEvent(message.alarmEvent); break;
    case FeedMessage::Kind::Alarms: emit alarmsReceived(message.alarms); break;
    case FeedMessage::Kind::Error: emit problem(QStringLiteral("The station answered: %1").arg(message.problem)); break;
    case FeedMessage::Kind::Invalid:
        emit problem(QStringLiteral("A line from the station cannot be read: %1").arg(message.problem));
        break;
    }
}

void FeedClient::setConnected(bool connected)
{
    if (connected_ == connected)
        return;
    connected_ = connected;
    if (!connected) {
        input_.clear();
        discarding_ = false;
    }
    emit connectedChanged(connected);
}

bool stationServes(const QString& directory, int timeoutMs)
{
    const SocketName name(directory);
    if (name.name().isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(name.name());
    const bool serves = socket.waitForConnected(timeoutMs);
    socket.abort();
    return serves;
}

} // namespace feed
