#pragma once
// The serial port contract over QSerialPort, or over TCP when the selected port's device is a
// network address (see NetworkDevice.h).

#include "serial/NetworkSerialControl.h"
#include "serial/SerialControl.h"

#include <QSerialPort>

namespace serial {

class QtSerialControl final : public SerialControl {
    Q_OBJECT
public:
    explicit QtSerialControl(QObject* parent = nullptr);

    void setCommPort(int16_t port) override;
    int16_t CommPort() const override;
    bool setSettings(const QByteArray& settings) override;
    QByteArray Settings() const override;
    void setInputLen(int16_t length) override;
    bool setPortOpen(bool open) override;
    bool PortOpen() const override;
    int InBufferCount() override;
    void setInBufferCount(int zero) override;
    void Output(const QByteArray& bytes) override;
    int OutBufferCount() override;
    void setOutBufferCount(int zero) override;
    QByteArray Input() override;
    QString errorString() const override;
    QString deviceName() const override;
    QByteArray sentHeader() const override { return onNetwork_ ? network_.sentHeader() : QByteArray(); }
    QByteArray receivedHeader() const override { return onNetwork_ ? network_.receivedHeader() : QByteArray(); }

private:
    bool applyLineSettings();
    // Why opening `device` failed, in the user's terms.
    QString openFailureReason(const QString& device) const;
    void onError(QSerialPort::SerialPortError error);

    QSerialPort port_;
    NetworkSerialControl network_;
    bool onNetwork_ = false; // the port last opened is network_
    int16_t commPort_ = 1;
    QByteArray settings_ = "9600,n,8,1";
    int16_t inputLen_ = 0;
    QString error_;
};

} // namespace serial
