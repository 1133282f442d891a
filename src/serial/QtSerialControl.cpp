#include "serial/QtSerialControl.h"

#include "common/Logging.h"

#include "serial/SerialDevices.h"

#include <QFileInfo>

namespace serial {

namespace {

// QSerialPort takes its lock file under the name it is given. A device reached through a link
// (a simulator's link, a stable name under /dev/serial/by-id) is opened by the name the link
// resolves to, so that the lock is the device's own whatever name each program used.
QString lockableName(const QString& device)
{
#ifdef Q_OS_UNIX
    const QString resolved = QFileInfo(device).canonicalFilePath();
    if (!resolved.isEmpty())
        return resolved;
#endif
    return device;
}

} // namespace

QtSerialControl::QtSerialControl(QObject* parent)
    : SerialControl(parent)
{
    connect(&port_, &QSerialPort::readyRead, this, &SerialControl::bytesReceived);
    connect(&port_, &QSerialPort::bytesWritten, this, &SerialControl::bytesSent);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialControl::onError);
    connect(&network_, &SerialControl::bytesReceived, this, &SerialControl::bytesReceived);
    connect(&network_, &SerialControl::bytesSent, this, &SerialControl::bytesSent);
    connect(&network_, &SerialControl::portLost, this, [this](const QString& reason) {
        error_ = reason;
        emit portLost(reason);
    });
}

void QtSerialControl::setCommPort(int16_t port)
{
    commPort_ = port;
}

int16_t QtSerialControl::CommPort() const
{
    return commPort_;
}

bool QtSerialControl::setSettings(const QByteArray& settings)
{
    if (!parseSettingsString(settings)) {
        error_ = QStringLiteral("\"%1\" is not a valid settings string").arg(QString::fromLatin1(settings));
        return false;
    }
    settings_ = settings;
    return true;
}

QByteArray QtSerialControl::Settings() const
{
    return settings_;
}

void QtSerialControl::setInputLen(int16_t length)
{
    inputLen_ = length;
    network_.setInputLen(length);
}

bool QtSerialControl::applyLineSettings()
{
    const auto line = parseSettingsString(settings_);
    if (!line)
        return false;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    switch (line->parity) {
    case 'e': parity = QSerialPort::EvenParity; break;
    case 'o': parity = QSerialPort::OddParity; break;
    case 'm': parity = QSerialPort::MarkParity; break;
    case 's': parity = QSerialPort::SpaceParity; break;
    default: break;
    }
    return port_.setBaudRate(line->baudRate) && port_.setParity(parity)
        && port_.setDataBits(static_cast<QSerialPort::DataBits>(line->dataBits))
        && port_.setStopBits(line->stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop)
        && port_.setFlowControl(QSerialPort::NoFlowControl);
}

bool QtSerialControl::setPortOpen(bool open)
{
    if (!open) {
        if (port_.isOpen())
            port_.close();
        network_.setPortOpen(false);
        return true;
    }
    const QString device = deviceName();
    if (PortOpen()) {
        error_ = QStringLiteral("it is already open");
        return false;
    }
    if (device.isEmpty()) {
        error_ = QStringLiteral("the program's ports are COM1 to COM4");
        return false;
    }
    onNetwork_ = isNetworkDevice(device);
    if (onNetwork_) {
        QString problem;
        const auto address = parseNetworkDevice(device, &problem);
        if (!address) {
            error_ = QStringLiteral("its address %1").arg(problem);
            return false;
        }
        network_.setDevice(*address);
        network_.setCommPort(commPort_);
        network_.setSettings(settings_);
        network_.setInputLen(inputLen_);
        const bool opened = network_.setPortOpen(true);
        error_ = network_.errorString();
        return opened;
    }
    port_.setPortName(lockableName(device));
    if (!port_.open(QIODevice::ReadWrite)) {
        error_ = openFailureReason(device);
        qCDebug(lcSerial) << "cannot open" << device << ":" << error_;
        return false;
    }
    qCDebug(lcSerial) << "opened" << device << settings_;
    if (!applyLineSettings()) {
        error_ = QStringLiteral("it does not accept the settings \"%1\": %2")
                     .arg(QString::fromLatin1(settings_), port_.errorString());
        port_.close();
        return false;
    }
    port_.clear(QSerialPort::AllDirections);
    return true;
}

bool QtSerialControl::PortOpen() const
{
    return onNetwork_ ? network_.PortOpen() : port_.isOpen();
}

int QtSerialControl::InBufferCount()
{
    if (onNetwork_)
        return network_.InBufferCount();
    return port_.isOpen() ? static_cast<int>(port_.bytesAvailable()) : 0;
}

void QtSerialControl::setInBufferCount(int zero)
{
    if (onNetwork_)
        return network_.setInBufferCount(zero);
    if (!port_.isOpen())
        return;
    port_.clear(QSerialPort::Input);
    if (port_.isOpen()) // clearing can find the device gone, and close it
        port_.readAll();
}

void QtSerialControl::Output(const QByteArray& bytes)
{
    if (onNetwork_)
        return network_.Output(bytes);
    if (port_.isOpen())
        port_.write(bytes);
}

int QtSerialControl::OutBufferCount()
{
    if (onNetwork_)
        return network_.OutBufferCount();
    return port_.isOpen() ? static_cast<int>(port_.bytesToWrite()) : 0;
}

void QtSerialControl::setOutBufferCount(int zero)
{
    if (onNetwork_)
        return network_.setOutBufferCount(zero);
    if (port_.isOpen())
        port_.clear(QSerialPort::Output);
}

QByteArray QtSerialControl::Input()
{
    if (onNetwork_)
        return network_.Input();
    if (!port_.isOpen())
        return {};
    return inputLen_ > 0 ? port_.read(inputLen_) : port_.readAll();
}

QString QtSerialControl::openFailureReason(const QString& device) const
{
    // QSerialPort says "Permission error while locking the device" when another program holds
    // the device's lock file, "Device or resource busy" when it holds the device exclusively,
    // and "Permission denied" when we may not use it at all. Only the last is about rights.
    if (port_.error() == QSerialPort::PermissionError) {
        const QFileInfo file(device);
        if (file.isReadable() && file.isWritable())
            return QStringLiteral("in use by another program");
    }
    return port_.errorString();
}

QString QtSerialControl::errorString() const
{
    return error_;
}

QString QtSerialControl::deviceName() const
{
    return deviceForPort(commPort_);
}

void QtSerialControl::onError(QSerialPort::SerialPortError error)
{
    const bool lineFailed =
        error == QSerialPort::ResourceError || error == QSerialPort::ReadError || error == QSerialPort::WriteError;
    if (!lineFailed || !port_.isOpen())
        return;
    // The device went away underneath us (an unplugged USB adapter) or the line hung up (the
    // other end closed): release it so that it can be opened again once it is back. A hung-up line
    // reads as an endless end of file; left open, every wait on it would spin until its limit.
    error_ = error == QSerialPort::ReadError ? QStringLiteral("the line was hung up") : port_.errorString();
    port_.close();
    qCInfo(lcSerial) << "port" << deviceName() << "lost:" << error_;
    emit portLost(error_);
}

} // namespace serial
