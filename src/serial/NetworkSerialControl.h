#pragma once
// The serial port contract over a TCP connection to a serial device server (the line's RTU
// bytes as they are) or to a Modbus TCP gateway (each frame behind an MBAP header). The rest of
// the program sees RTU frames either way, so every rule of the reply wait holds unchanged.
//
// Opening never blocks: it starts the name lookup and the connection and returns at once; what
// is written meanwhile waits and leaves once connected, so the connection is made within the
// first exchange's send limit. A connection that fails, or is not made within that limit, or
// drops, is a lost port (portLost, with the reason). After that, openings are refused, quietly
// repeating the reason: once a delay has passed that doubles after each failure in a row, from
// 1 s up to 10 s (an unreachable device server is not hammered once a second), an opening starts
// a new connection behind the scenes, and the first opening after it is made succeeds. So a port
// counts as back only when it really is.

#include "serial/NetworkDevice.h"
#include "serial/SerialControl.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QTimer>

namespace serial {

class NetworkSerialControl final : public SerialControl {
    Q_OBJECT
public:
    explicit NetworkSerialControl(QObject* parent = nullptr);
    ~NetworkSerialControl() override;

    // Where the next opening connects to. A new address forgets the failures of the old one.
    void setDevice(const NetworkDevice& device);
    // The connection must be made within this (default 2000 ms, the send limit of an exchange).
    void setConnectLimitMs(int ms) { connectLimitMs_ = ms; }

    void setCommPort(int16_t port) override { commPort_ = port; }
    int16_t CommPort() const override { return commPort_; }
    // The settings string is kept as given: baud rate and parity mean nothing on a network.
    bool setSettings(const QByteArray& settings) override;
    QByteArray Settings() const override { return settings_; }
    void setInputLen(int16_t length) override { inputLen_ = length; }
    bool setPortOpen(bool open) override;
    bool PortOpen() const override { return open_; }
    int InBufferCount() override { return static_cast<int>(input_.size()); }
    void setInBufferCount(int zero) override;
    void Output(const QByteArray& bytes) override;
    int OutBufferCount() override;
    void setOutBufferCount(int zero) override;
    QByteArray Input() override;
    QString errorString() const override { return error_; }
    QString deviceName() const override { return networkDeviceText(device_); }
    QByteArray sentHeader() const override { return sentHeader_; }
    QByteArray receivedHeader() const override { return receivedHeader_; }

    // Modbus TCP replies thrown away because they answered another request (their transaction
    // identifier was not the one of the request last sent).
    int discardedReplies() const { return discarded_; }
    // True while the connection is being made (name lookup included).
    bool connecting() const { return open_ && socket_.state() != QAbstractSocket::ConnectedState; }

private:
    void onConnected();
    void onReadyRead();
    void onSocketError(QAbstractSocket::SocketError error);
    // The connection is gone for `reason`: closes, schedules the next attempt, reports it.
    void fail(const QString& reason);
    void appendInput(const QByteArray& bytes);

    QTcpSocket socket_;
    QTimer connectTimer_;
    NetworkDevice device_;
    int16_t commPort_ = 1;
    QByteArray settings_ = "9600,n,8,1";
    int16_t inputLen_ = 0;
    int connectLimitMs_ = 2000;
    bool open_ = false;
    QString error_;
    QByteArray unsent_; // written before the connection was made
    QByteArray wire_;   // received Modbus TCP bytes not yet a whole frame
    QByteArray input_;  // received RTU bytes, for Input
    QByteArray sentHeader_;
    QByteArray receivedHeader_;
    uint16_t transaction_ = 0;
    int discarded_ = 0;
    int failuresInARow_ = 0;
    QDeadlineTimer nextAttempt_{0};
};

} // namespace serial
