#pragma once
// A real MQTT broker for tests: the Debian `mosquitto` (/usr/sbin/mosquitto) in a child process,
// listening on 127.0.0.1 only, on a free port chosen once and kept for the broker's lifetime, so
// that a test can stop it (an outage) and start it again where the clients expect it.
//
//     testing_support::MqttBroker broker;          // anonymous clients, plain listener
//     ASSERT_TRUE(broker.start()) << broker.log();
//     ... connect to 127.0.0.1:broker.port() ...
//     broker.stop();                                // clients see the connection end
//     ASSERT_TRUE(broker.start());                  // same port again
//
// With Options::users the broker asks for a user name and password (a password file made with
// `mosquitto_passwd -b`); with Options::tls it also listens with TLS on tlsPort(), using the
// server certificate and key given (see makeTestCertificates()). The plain listener stays open
// in every case, so a test can watch with an MqttSubscriber there.
//
// The broker runs with `user root` when the tests run as root: mosquitto 2 otherwise switches to
// the user "mosquitto" after start and can no longer read the password file and certificates in
// the test's private temporary directory.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QProcess;

namespace testing_support {

struct TlsListener {
    QString certFile; // the server certificate (PEM)
    QString keyFile; // its private key (PEM)
};

class MqttBroker {
public:
    struct Options {
        // User names and passwords the broker knows; not empty: anonymous clients are refused.
        std::vector<std::pair<QString, QString>> users;
        std::optional<TlsListener> tls;
        // The broker keeps the sessions of clients that ask for it (and their undelivered QoS 1
        // messages) across a stop and start, in its temporary directory.
        bool keepSessions = false;
    };

    MqttBroker();
    explicit MqttBroker(Options options);
    ~MqttBroker(); // kills the broker
    MqttBroker(const MqttBroker&) = delete;
    MqttBroker& operator=(const MqttBroker&) = delete;

    // Starts the broker and waits (up to 10 s) until its listeners accept connections. False
    // when it could not be started; log() then says why.
    bool start();
    // Ends the broker (SIGTERM, then SIGKILL after 5 s) and waits until it is gone. Clients see
    // their connections end; retained messages are not kept across a stop.
    void stop();
    bool isRunning() const;
    // Ends the broker at once (SIGKILL): the kernel resets the connections it held.
    void kill();
    // Freezes the broker (SIGSTOP) and lets it go on (SIGCONT): connections stay open but
    // nothing is answered, as with a hung broker or a dead network path.
    void pause();
    void resume();

    int port() const { return port_; } // plain MQTT on 127.0.0.1
    int tlsPort() const { return tlsPort_; } // TLS on 127.0.0.1; 0 without Options::tls
    // The configuration written and everything the broker printed: for failure messages.
    QString log() const;

private:
    bool writeConfiguration();

    Options options_;
    QTemporaryDir dir_;
    std::unique_ptr<QProcess> process_;
    int port_ = 0;
    int tlsPort_ = 0;
    QString log_;
};

// A certificate authority and a server certificate it signed for "localhost" and 127.0.0.1, and a
// second, unrelated authority (for the "wrong CA" case), made with the `openssl` command.
struct TestCertificates {
    QString caFile; // the authority that signed serverCertFile
    QString otherCaFile; // an authority that signed nothing the broker shows
    QString serverCertFile;
    QString serverKeyFile;
    QString expiredServerCertFile; // same key and names as serverCertFile, valid only in 2020 (same CA)
    QString wrongNameServerCertFile; // same key and CA, but for "elsewhere.example" only
    QString error; // not empty when something could not be made
};

// Makes the files in `directory` (which must exist); takes a second or two.
TestCertificates makeTestCertificates(const QString& directory);

// A TCP port on 127.0.0.1 that nothing listens on right now.
int freeLocalPort();

} // namespace testing_support
