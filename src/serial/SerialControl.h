#pragma once
// The serial port contract the program is written against: one port, selected by number
// (COM1..COM4), configured by a settings string, read and written as bytes.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>

namespace serial {

class SerialControl : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialControl() override = default;

    // Selects COM1..COM4 for the next opening; reading gives the port last set.
    virtual void setCommPort(int16_t port) = 0;
    virtual int16_t CommPort() const = 0;

    // Rate, parity, data bits and stop bits as one text, "9600,n,8, 1". Returns false (and keeps
    // the previous settings) when the text is not a valid settings string.
    virtual bool setSettings(const QByteArray& settings) = 0;
    virtual QByteArray Settings() const = 0;

    // 0: every read of Input returns everything received so far.
    virtual void setInputLen(int16_t length) = 0;

    // Opens or closes the selected port. Opening fails (false, reason in errorString) when the
    // port does not exist, is in use, or is already open.
    virtual bool setPortOpen(bool open) = 0;
    virtual bool PortOpen() const = 0;

    // Received bytes not yet read; setting 0 discards them.
    virtual int InBufferCount() = 0;
    virtual void setInBufferCount(int zero) = 0;

    // Queues the bytes for transmission, in order.
    virtual void Output(const QByteArray& bytes) = 0;

    // Bytes queued and not yet handed to the driver; setting 0 discards them.
    virtual int OutBufferCount() = 0;
    virtual void setOutBufferCount(int zero) = 0;

    // Takes the received bytes (all of them with InputLen 0), in arrival order.
    virtual QByteArray Input() = 0;

    // Why the last operation failed, for the user: the reason alone ("No such file or
    // directory", "in use by another program"); the caller names the port and the device.
    virtual QString errorString() const = 0;
    // The device the selected port means on this machine ("/dev/ttyS0", "/dev/pts/3", "COM1").
    virtual QString deviceName() const = 0;
    // The framing around the frames that is not theirs, for the frame trace: the MBAP header of
    // the last request sent and of the last reply taken on a Modbus TCP connection; else empty.
    virtual QByteArray sentHeader() const { return {}; }
    virtual QByteArray receivedHeader() const { return {}; }

signals:
    void bytesReceived();
    void bytesSent();
    // The open port failed underneath the program (a USB adapter unplugged); it is closed now.
    // `reason` is the reason alone, as errorString gives it.
    void portLost(const QString& reason);
};

} // namespace serial
