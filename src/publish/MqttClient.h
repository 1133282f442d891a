#pragma once
// An MQTT client on libmosquitto, driven by the Qt event loop of the thread it lives in (socket
// notifiers and timers; libmosquitto starts no thread of its own). It connects, reconnects by
// itself with a growing delay until stopped, and reports every broker acknowledgement.
//
// Each connection starts with an empty queue: what was published on a connection and not
// acknowledged when it ended is forgotten by the client, so that the caller, which knows what
// was acknowledged, publishes it again exactly once.

#include "publish/Message.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace publish {

class MqttClient : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString host = QStringLiteral("localhost");
        int port = 1883;
        bool tls = false;
        QString caFile; // with tls: the CA certificates (PEM); empty: the system's CA store
        QString username; // empty: none
        QByteArray password;
        QString clientId; // empty: one made up by the client
        int keepAliveSeconds = 30;
        // How long an attempt waits for the broker's answer (the TCP connection, the TLS
        // handshake and CONNACK together) before it is given up; 0: the keepalive.
        int connectTimeoutMs = 0;
        // The delay before the next attempt after a failed one, doubled up to the maximum.
        int reconnectDelayMs = 1000;
        int reconnectDelayMaxMs = 30000;
        // Messages in flight at once (QoS 1 and 2); more wait in the client until acknowledgements come.
        int maxInflight = 100;
        // The last will, asked for before every connection attempt (a Sparkplug death certificate
        // changes with each session). Empty: no will.
        std::function<std::optional<Message>()> will;
    };

    explicit MqttClient(Options options, QObject* parent = nullptr);
    ~MqttClient() override; // disconnects cleanly
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Starts connecting; from then on the client reconnects by itself until stop().
    void start();
    // Disconnects cleanly (the broker does not send the will) and stays disconnected.
    void stop();
    bool isConnected() const;

    // Publishes on the current connection. The message id (> 0), or 0 when there is no
    // connection or the client refused the message (then lastError() says why).
    int publish(const Message& message);
    QString lastError() const;
    // Subscribes to `topicFilter` on this connection and on every later one.
    void subscribe(const QString& topicFilter, int qos = 1);

signals:
    // An attempt to connect began; connected() or disconnected() ends it.
    void connecting();
    // The broker accepted the connection.
    void connected();
    // The connection ended or an attempt failed; what was not acknowledged on it is forgotten.
    void disconnected(const QString& reason);
    // The broker acknowledged message `mid`: PUBACK for QoS 1, PUBCOMP for QoS 2; QoS 0 messages
    // count as acknowledged once written to the socket.
    void acknowledged(int mid);
    // A message came on a subscription.
    void received(const QString& topic, const QByteArray& payload);
    // A fault the user has to act on, in a sentence naming the broker: its certificate is not
    // accepted, the user name or password is refused, the host is unknown. Said once for each
    // different text; the client keeps trying.
    void fault(const QString& message);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace publish
