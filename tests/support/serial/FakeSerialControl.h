#pragma once
// An in-memory serial port for unit tests: records what is written, delivers what a test hands
// it as received bytes, and can refuse to open chosen ports or hold back transmission.

#include "serial/SerialControl.h"

#include <QByteArrayList>

#include <functional>
#include <set>

namespace serial {

class FakeSerialControl final : public SerialControl {
    Q_OBJECT
public:
    using SerialControl::SerialControl;

    void setCommPort(int16_t port) override { commPort_ = port; }
    int16_t CommPort() const override { return commPort_; }
    bool setSettings(const QByteArray& settings) override;
    QByteArray Settings() const override { return settings_; }
    void setInputLen(int16_t length) override { inputLen_ = length; }
    bool setPortOpen(bool open) override;
    bool PortOpen() const override { return open_; }
    int InBufferCount() override { return static_cast<int>(in_.size()); }
    void setInBufferCount(int /*zero*/) override { in_.clear(); }
    void Output(const QByteArray& bytes) override;
    int OutBufferCount() override { return static_cast<int>(pendingOut_.size()); }
    void setOutBufferCount(int /*zero*/) override { pendingOut_.clear(); }
    QByteArray Input() override;
    QString errorString() const override { return error_; }
    QString deviceName() const override;

    // --- test side ---
    // Ports (1..4) that fail to open.
    void setUnopenable(std::set<int> ports) { unopenable_ = std::move(ports); }
    // Bytes arriving from the line.
    void receive(const QByteArray& bytes);
    // While held, written bytes stay in the output buffer.
    void holdTransmission(bool hold);
    // Called with every frame as it leaves; a test can answer it with receive().
    void setResponder(std::function<void(const QByteArray&)> responder) { responder_ = std::move(responder); }
    // The port fails underneath the program.
    void losePort(const QString& reason);

    QByteArrayList sentFrames() const { return sent_; }
    int inputLen() const { return inputLen_; }
    int openCount() const { return openCount_; }
    QList<int> openedPorts() const { return openedPorts_; }

private:
    void transmit(const QByteArray& bytes);

    int16_t commPort_ = 1;
    QByteArray settings_ = "9600,n,8,1";
    int16_t inputLen_ = 0;
    bool open_ = false;
    bool hold_ = false;
    QByteArray in_;
    QByteArray pendingOut_;
    QByteArrayList sent_;
    QString error_;
    std::set<int> unopenable_;
    std::function<void(const QByteArray&)> responder_;
    int openCount_ = 0;
    QList<int> openedPorts_;
};

} // namespace serial
