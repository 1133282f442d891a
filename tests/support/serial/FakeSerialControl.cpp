#include "serial/FakeSerialControl.h"

#include "serial/SerialDevices.h"

namespace serial {

bool FakeSerialControl::setSettings(const QByteArray& settings)
{
    if (!parseSettingsString(settings)) {
        error_ = QStringLiteral("invalid settings");
        return false;
    }
    settings_ = settings;
    return true;
}

bool FakeSerialControl::setPortOpen(bool open)
{
    if (!open) {
        open_ = false;
        return true;
    }
    if (open_) {
        error_ = QStringLiteral("it is already open");
        return false;
    }
    if (commPort_ < 1 || commPort_ > 4 || unopenable_.count(commPort_) != 0) {
        error_ = QStringLiteral("No such file or directory");
        return false;
    }
    open_ = true;
    ++openCount_;
    openedPorts_.append(commPort_);
    in_.clear();
    pendingOut_.clear();
    return true;
}

void FakeSerialControl::Output(const QByteArray& bytes)
{
    if (!open_)
        return;
    if (hold_)
        pendingOut_.append(bytes);
    else
        transmit(bytes);
}

QByteArray FakeSerialControl::Input()
{
    QByteArray taken = inputLen_ > 0 ? in_.left(inputLen_) : in_;
    in_.remove(0, taken.size());
    return taken;
}

QString FakeSerialControl::deviceName() const
{
    return deviceForPort(commPort_);
}

void FakeSerialControl::receive(const QByteArray& bytes)
{
    if (!open_)
        return;
    in_.append(bytes);
    emit bytesReceived();
}

void FakeSerialControl::holdTransmission(bool hold)
{
    hold_ = hold;
    if (!hold_ && !pendingOut_.isEmpty()) {
        const QByteArray bytes = pendingOut_;
        pendingOut_.clear();
        transmit(bytes);
    }
}

void FakeSerialControl::losePort(const QString& reason)
{
    open_ = false;
    error_ = reason;
    emit portLost(reason);
}

void FakeSerialControl::transmit(const QByteArray& bytes)
{
    sent_.append(bytes);
    emit bytesSent();
    if (responder_)
        responder_(bytes);
}

} // namespace serial
