#include "serial/NetworkSerialControl.h"

#include "common/Logging.h"
#include "serial/MbapFrame.h"
#include "serial/SerialDevices.h"

#include <algorithm>

namespace serial {

namespace {

constexpr int kFirstRetryMs = 1000;
constexpr int kLongestRetryMs = 10000;
// Received bytes kept for the reply wait: it takes them as they come, so only a peer flooding us
// fills this; the oldest are dropped then.
constexpr qsizetype kMaxInput = 64 * 1024;

QString socketErrorReason(QAbstractSocket::SocketError error, const QString& qtText)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return QStringLiteral("connection refused");
    case QAbstractSocket::HostNotFoundError: return QStringLiteral("host not found");
    case QAbstractSocket::RemoteHostClosedError: return QStringLiteral("the connection was closed by the other end");
    case QAbstractSocket::NetworkError: return QStringLiteral("network error: %1").arg(qtText);
    default: return qtText;
    }
}

} // namespace

NetworkSerialControl::NetworkSerialControl(QObject* parent)
    : SerialControl(parent)
{
    connectTimer_.setSingleShot(true);
    connect(&socket_, &QTcpSocket::connected, this, &NetworkSerialControl::onConnected);
    connect(&socket_, &QTcpSocket::readyRead, this, &NetworkSerialControl::onReadyRead);
    connect(&socket_, &QTcpSocket::bytesWritten, this, &SerialControl::bytesSent);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &NetworkSerialControl::onSocketError);
    connect(&socket_, &QTcpSocket::disconnected, this,
            [this] { fail(QStringLiteral("the connection was closed by the other end")); });
    connect(&connectTimer_, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("no answer within %1 ms").arg(connectLimitMs_)); });
}

NetworkSerialControl::~NetworkSerialControl()
{
    // The socket, destroyed after the members below it, says it disconnects: nobody listens now.
    socket_.disconnect(this);
}

void NetworkSerialControl::setDevice(const NetworkDevice& device)
{
    if (device.host != device_.host || device.port != device_.port || device.mode != device_.mode) {
        failuresInARow_ = 0;
        nextAttempt_ = QDeadlineTimer(0);
    }
    device_ = device;
}

bool NetworkSerialControl::setSettings(const QByteArray& settings)
{
    if (!parseSettingsString(settings)) {
        error_ = QStringLiteral("\"%1\" is not a valid settings string").arg(QString::fromLatin1(settings));
        return false;
    }
    settings_ = settings;
    return true;
}

bool NetworkSerialControl::setPortOpen(bool open)
{
    if (!open) {
        open_ = false;
        connectTimer_.stop();
        socket_.abort();
        unsent_.clear();
        wire_.clear();
        input_.clear();
        // Closed on purpose (the measurement stopped): the next start tries at once.
        failuresInARow_ = 0;
        nextAttempt_ = QDeadlineTimer(0);
        return true;
    }
    if (open_) {
        error_ = QStringLiteral("it is already open");
        return false;
    }
    if (device_.host.isEmpty()) {
        error_ = QStringLiteral("it has no network address");
        return false;
    }
    if (socket_.state() == QAbstractSocket::ConnectedState) {
        open_ = true; // reconnected behind the ticks: the port works again
        return true;
    }
    if (socket_.state() != QAbstractSocket::UnconnectedState || !nextAttempt_.hasExpired())
        return false; // error_ still says why the last attempt failed
    unsent_.clear();
    wire_.clear();
    input_.clear();
    connectTimer_.start(connectLimitMs_);
    socket_.connectToHost(device_.host, device_.port);
    if (failuresInARow_ > 0) {
        // After a failure the port counts as back only once the connection is made: a later
        // opening takes it. Until then the inputs stay out of order without a new report.
        qCDebug(lcSerial) << "reconnecting to" << deviceName();
        return false;
    }
    // The first connection is made within the first exchange's send limit.
    open_ = true;
    error_.clear();
    qCDebug(lcSerial) << "connecting to" << deviceName();
    return true;
}

void NetworkSerialControl::onConnected()
{
    connectTimer_.stop();
    // A request is a few bytes and its reply is awaited at once: send without delay.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    qCInfo(lcSerial) << "connected to" << deviceName();
    if (!unsent_.isEmpty())
        socket_.write(std::exchange(unsent_, {}));
}

void NetworkSerialControl::Output(const QByteArray& bytes)
{
    if (!open_)
        return;
    QByteArray wire = bytes;
    if (device_.mode == NetworkMode::ModbusTcp) {
        wire = mbapFromRtu(bytes, ++transaction_);
        if (wire.isEmpty())
            return;
        sentHeader_ = wire.first(kMbapHeaderSize);
        receivedHeader_.clear();
    }
    if (socket_.state() == QAbstractSocket::ConnectedState)
        socket_.write(wire);
    else
        unsent_.append(wire);
}

int NetworkSerialControl::OutBufferCount()
{
    if (!open_)
        return 0;
    return static_cast<int>(unsent_.size() + socket_.bytesToWrite());
}

void NetworkSerialControl::setOutBufferCount(int /*zero*/)
{
    // What the socket has taken cannot be called back; what waits for the connection can.
    unsent_.clear();
}

void NetworkSerialControl::setInBufferCount(int /*zero*/)
{
    input_.clear();
}

QByteArray NetworkSerialControl::Input()
{
    if (inputLen_ > 0 && input_.size() > inputLen_) {
        QByteArray first = input_.first(inputLen_);
        input_.remove(0, inputLen_);
        return first;
    }
    return std::exchange(input_, {});
}

void NetworkSerialControl::appendInput(const QByteArray& bytes)
{
    input_.append(bytes);
    if (input_.size() > kMaxInput)
        input_.remove(0, input_.size() - kMaxInput);
}

void NetworkSerialControl::onReadyRead()
{
    const QByteArray bytes = socket_.readAll();
    if (bytes.isEmpty() || !open_)
        return;
    failuresInARow_ = 0; // the other end answers: the next outage starts with a short delay
    bool delivered = false;
    if (device_.mode == NetworkMode::RawRtu) {
        appendInput(bytes);
        delivered = true;
    } else {
        wire_.append(bytes);
        for (;;) {
            const QByteArray header = wire_.first(std::min(wire_.size(), kMbapHeaderSize));
            MbapTake take = takeMbapFrame(wire_);
            if (take.kind == MbapTake::Incomplete)
                break;
            if (take.kind == MbapTake::Garbage) {
                // No frame boundary can be trusted any more: the bytes go to the reply wait as
                // they are, which finds no valid reply in them and says so.
                appendInput(std::exchange(wire_, {}));
                delivered = true;
                break;
            }
            if (take.transaction != transaction_) {
                ++discarded_;
                qCInfo(lcSerial) << deviceName() << "reply with transaction" << take.transaction << "instead of"
                                 << transaction_ << "discarded";
                continue;
            }
            appendInput(take.rtu);
            receivedHeader_ = header;
            delivered = true;
        }
        if (wire_.size() > kMaxInput)
            wire_.clear();
    }
    if (delivered)
        emit bytesReceived();
}

void NetworkSerialControl::onSocketError(QAbstractSocket::SocketError error)
{
    fail(socketErrorReason(error, socket_.errorString()));
}

void NetworkSerialControl::fail(const QString& reason)
{
    const bool wasOpen = std::exchange(open_, false);
    if (!wasOpen && socket_.state() == QAbstractSocket::UnconnectedState && !connectTimer_.isActive())
        return; // already handled (the abort below reports the disconnection too)
    connectTimer_.stop();
    socket_.abort();
    unsent_.clear();
    wire_.clear();
    const int delay = std::min(kLongestRetryMs, kFirstRetryMs << std::min(failuresInARow_, 4));
    ++failuresInARow_;
    nextAttempt_ = QDeadlineTimer(delay);
    qCInfo(lcSerial) << deviceName() << (wasOpen ? "lost:" : "still unreachable:") << reason << "- next attempt in"
                     << delay << "ms";
    error_ = reason;
    if (wasOpen)
        emit portLost(reason);
}

} // namespace serial
