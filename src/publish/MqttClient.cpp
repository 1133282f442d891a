#include "publish/MqttClient.h"

#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QUuid>

#include <mosquitto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <set>
#include <unordered_map>
#include <variant>
#include <vector>

namespace publish {

namespace {

constexpr const char* kSystemCaPath = "/etc/ssl/certs";
// libmosquitto stops reading at this many packets or when the socket has no more.
constexpr int kPacketsPerRead = 50;

#ifdef _WIN32
using SocketLength = int;
constexpr int kWouldBlock = WSAEWOULDBLOCK;
constexpr int kConnectionReset = WSAECONNRESET;
int socketErrno() { return WSAGetLastError(); }
#else
using SocketLength = socklen_t;
constexpr int kWouldBlock = EWOULDBLOCK;
constexpr int kConnectionReset = ECONNRESET;
int socketErrno() { return errno; }
#endif

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// Our slot in each SSL_CTX, where the verify callback finds the attempt it belongs to.
int sslIndex()
{
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

struct SslCtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};

struct Connecting {};
struct Connected {};
struct Ended {
    QString reason;
};
struct Acknowledged {
    int mid;
};
struct Received {
    QString topic;
    QByteArray payload;
};
struct Fault {
    QString text;
};
using Event = std::variant<Connecting, Connected, Ended, Acknowledged, Received, Fault>;

} // namespace

// What the verify callback learns during one TLS handshake.
struct TlsCheck {
    int error = X509_V_OK;
    bool rejected = false;
};

struct MqttClient::State {
    MqttClient* owner = nullptr;
    Options options;
    QString id; // the client id, kept the same across attempts
    QString broker; // "host:port", for messages

    struct mosquitto* mosq = nullptr;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
    QTimer miscTimer; // keepalive and libmosquitto's own time-outs
    QTimer retryTimer;
    // A broker that takes the TCP connection and never answers would otherwise hold the attempt
    // until libmosquitto's keepalive check, which names no reason.
    QTimer answerTimer;
    int nextDelayMs = 0;

    bool running = false;
    bool connected = false;
    bool ended = false; // the current attempt or connection is over; the instance waits to be torn down
    int loopDepth = 0; // > 0 while libmosquitto runs our callbacks
    TlsCheck tls;
    std::unique_ptr<SSL_CTX, SslCtxFree> sslCtx;
    QStringList sslErrors; // libmosquitto's log lines about OpenSSL in this attempt
    QString lastError;
    std::vector<std::pair<QByteArray, int>> subscriptions;
    std::deque<Event> events;
    std::set<QString> faultsSaid;
    // libmosquitto numbers the messages of each instance from 1; the caller gets numbers of the
    // client's own that no later connection repeats, so that an old number is never acknowledged
    // by a new message.
    std::unordered_map<int, int> mids; // libmosquitto's mid -> ours, on this connection
    int nextMid = 1;
    bool publishing = false;
    int publishingMid = 0;
    bool publishedInside = false;
    bool flushQueued = false;
    bool socketWritableSeen = false;

    // ---- the libmosquitto callbacks, called from inside its loop functions on our thread ----

    static State* of(void* userdata) { return static_cast<State*>(userdata); }

    static void onConnect(struct mosquitto*, void* userdata, int rc)
    {
        State* s = of(userdata);
        if (rc == 0) {
            s->answerTimer.stop();
            s->connected = true;
            s->nextDelayMs = s->options.reconnectDelayMs;
            s->faultsSaid.clear();
            for (const auto& [filter, qos] : s->subscriptions)
                mosquitto_subscribe(s->mosq, nullptr, filter.constData(), qos);
            s->events.emplace_back(Connected{});
            return;
        }
        QString text;
        switch (rc) {
        case 4:
            text = QStringLiteral("The MQTT broker %1 refused the user name or password.").arg(s->broker);
            break;
        case 5:
            text = QStringLiteral("The MQTT broker %1 refused the connection: the user name or password is wrong, "
                                  "or this client is not authorised.")
                       .arg(s->broker);
            break;
        default:
            text = QStringLiteral("The MQTT broker %1 refused the connection (%2).")
                       .arg(s->broker, QString::fromUtf8(mosquitto_connack_string(rc)));
        }
        s->events.emplace_back(Fault{text});
        s->endAttempt(QStringLiteral("refused by %1: %2").arg(s->broker, QString::fromUtf8(mosquitto_connack_string(rc))));
    }

    static void onDisconnect(struct mosquitto*, void* userdata, int rc)
    {
        State* s = of(userdata);
        s->endAttempt(s->reasonFor(rc));
    }

    static void onPublish(struct mosquitto*, void* userdata, int mid)
    {
        State* s = of(userdata);
        if (const auto found = s->mids.find(mid); found != s->mids.end()) {
            s->events.emplace_back(Acknowledged{found->second});
            s->mids.erase(found);
        } else if (s->publishing) {
            // A QoS 0 message written at once, inside mosquitto_publish().
            s->events.emplace_back(Acknowledged{s->publishingMid});
            s->publishedInside = true;
        }
    }

    static void onMessage(struct mosquitto*, void* userdata, const struct mosquitto_message* message)
    {
        if (!message || !message->topic)
            return;
        of(userdata)->events.emplace_back(Received{
            QString::fromUtf8(message->topic),
            QByteArray(static_cast<const char*>(message->payload), std::max(0, message->payloadlen))});
    }

    static void onLog(struct mosquitto*, void* userdata, int, const char* text)
    {
        if (text && std::strncmp(text, "OpenSSL Error", 13) == 0)
            of(userdata)->sslErrors << QString::fromUtf8(text);
    }

    // OpenSSL checks the chain, the dates and the host name; we only note why it said no.
    static int verify(int preverifyOk, X509_STORE_CTX* ctx)
    {
        SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(ctx, SSL_get_ex_data_X509_STORE_CTX_idx()));
        SSL_CTX* sslCtx = ssl ? SSL_get_SSL_CTX(ssl) : nullptr;
        auto* check = sslCtx ? static_cast<TlsCheck*>(SSL_CTX_get_ex_data(sslCtx, sslIndex())) : nullptr;
        if (!preverifyOk && check) {
            check->rejected = true;
            if (check->error == X509_V_OK)
                check->error = X509_STORE_CTX_get_error(ctx);
        }
        return preverifyOk;
    }

    // ---- the connection ----

    // libmosquitto takes no keepalive under 5 s; none at all would never notice a broker that
    // went silent.
    int keepAliveSeconds() const { return std::max(5, options.keepAliveSeconds); }
    int answerLimitMs() const { return options.connectTimeoutMs > 0 ? options.connectTimeoutMs : keepAliveSeconds() * 1000; }

    static QString noAnswerWithin(int ms)
    {
        return QStringLiteral("no answer from the broker within %1 s").arg(QString::number(ms / 1000.0));
    }

    QString reasonFor(int rc) const
    {
        const QString what = connected ? QStringLiteral("connection to %1 lost: %2") : QStringLiteral("connection to %1 failed: %2");
        // libmosquitto's keepalive check gave up; mosquitto_strerror() has no text for it ("Unknown error.").
        if (rc == MOSQ_ERR_KEEPALIVE)
            return what.arg(broker, noAnswerWithin(keepAliveSeconds() * 1000));
        if (rc == MOSQ_ERR_ERRNO && errno != 0)
            return what.arg(broker, QString::fromLocal8Bit(std::strerror(errno)));
        if (rc == MOSQ_ERR_TLS || tls.rejected)
            return what.arg(broker, QStringLiteral("TLS handshake failed"));
        return what.arg(broker, QString::fromUtf8(mosquitto_strerror(rc)));
    }

    // The certificate fault of this attempt, if the handshake failed on the certificate.
    void noteTlsFault()
    {
        if (!options.tls || !(tls.rejected || !sslErrors.isEmpty()))
            return;
        const QString against = options.caFile.isEmpty()
                                    ? QStringLiteral("the system's certificate store (%1)").arg(QString::fromLatin1(kSystemCaPath))
                                    : options.caFile;
        if (tls.rejected) {
            events.emplace_back(Fault{QStringLiteral("The MQTT broker %1 was refused: its certificate could not be "
                                                     "verified (%2) against %3.")
                                          .arg(broker, QString::fromUtf8(X509_verify_cert_error_string(tls.error)),
                                               against)});
        } else {
            // OpenSSL failed before the certificate was looked at (no common protocol, a broker
            // that does not speak TLS, unusable CA file): its own words are the best we have.
            QString last = sslErrors.last();
            const int colon = last.lastIndexOf(QLatin1Char(':'));
            if (colon >= 0)
                last = last.mid(colon + 1).trimmed();
            events.emplace_back(
                Fault{QStringLiteral("The TLS connection to the MQTT broker %1 failed (%2).").arg(broker, last)});
        }
    }

    void endAttempt(const QString& reason)
    {
        if (ended)
            return;
        ended = true;
        connected = false;
        noteTlsFault();
        events.emplace_back(Ended{reason});
    }

    void attempt()
    {
        if (!running || mosq)
            return;
        ended = false;
        connected = false;
        tls = TlsCheck{};
        sslErrors.clear();
        socketWritableSeen = false;
        events.emplace_back(Connecting{});

        // A fresh instance for each attempt: libmosquitto would otherwise send again what was
        // in flight on the previous connection, and the caller republishes that itself.
        mosq = mosquitto_new(id.toUtf8().constData(), true, this);
        if (!mosq) {
            failAttempt(QStringLiteral("no MQTT client could be made: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
            return;
        }
        mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_connect_callback_set(mosq, &State::onConnect);
        mosquitto_disconnect_callback_set(mosq, &State::onDisconnect);
        mosquitto_publish_callback_set(mosq, &State::onPublish);
        mosquitto_message_callback_set(mosq, &State::onMessage);
        mosquitto_log_callback_set(mosq, &State::onLog);
        mosquitto_max_inflight_messages_set(mosq, static_cast<unsigned>(std::max(0, options.maxInflight)));

        if (options.will) {
            if (const std::optional<Message> will = options.will()) {
                const QByteArray topic = will->topic.toUtf8();
                const int rc = topic.contains('\0')
                                   ? MOSQ_ERR_INVAL
                                   : mosquitto_will_set(mosq, topic.constData(), static_cast<int>(will->payload.size()),
                                                        will->payload.constData(), will->qos, will->retain);
                if (rc != MOSQ_ERR_SUCCESS) {
                    events.emplace_back(Fault{QStringLiteral("The last will for the MQTT broker %1 cannot be used "
                                                             "(topic \"%2\"): %3.")
                                                  .arg(broker, will->topic, QString::fromUtf8(mosquitto_strerror(rc)))});
                    failAttempt(QStringLiteral("the last will for %1 was refused").arg(broker));
                    return;
                }
            }
        }
        if (!options.username.isEmpty()) {
            const QByteArray user = options.username.toUtf8();
            const QByteArray password = options.password;
            mosquitto_username_pw_set(mosq, user.constData(), password.isNull() ? nullptr : password.constData());
        }
        if (options.tls && !setUpTls())
            return;

        // getaddrinfo() inside mosquitto_connect_async() blocks this thread while the host name is
        // looked up; the TCP connection itself is made without waiting.
        const QByteArray host = options.host.toUtf8();
        errno = 0;
        const int rc = mosquitto_connect_async(mosq, host.constData(), options.port, keepAliveSeconds());
        if (rc != MOSQ_ERR_SUCCESS) {
            QString reason;
            if (rc == MOSQ_ERR_EAI) {
                events.emplace_back(
                    Fault{QStringLiteral("The MQTT broker %1 cannot be found: its host name could not be looked up.").arg(broker)});
                reason = QStringLiteral("host name %1 not found").arg(options.host);
            } else if (rc == MOSQ_ERR_ERRNO) {
                reason = QStringLiteral("connection to %1 failed: %2").arg(broker, QString::fromLocal8Bit(std::strerror(errno)));
            } else {
                noteTlsFault();
                reason = QStringLiteral("connection to %1 failed: %2").arg(broker, QString::fromUtf8(mosquitto_strerror(rc)));
            }
            failAttempt(reason);
            return;
        }
        const int fd = mosquitto_socket(mosq);
        if (fd < 0) {
            failAttempt(QStringLiteral("connection to %1 failed: no socket").arg(broker));
            return;
        }
        readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(readNotifier.get(), &QSocketNotifier::activated, owner, [this] { onReadable(); });
        writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        writeNotifier->setEnabled(false);
        QObject::connect(writeNotifier.get(), &QSocketNotifier::activated, owner, [this] { onWritable(); });
        miscTimer.start();
        answerTimer.start(answerLimitMs());
        afterLoop();
    }

    void onNoAnswer()
    {
        if (!mosq || ended || connected)
            return;
        endAttempt(QStringLiteral("connection to %1 failed: %2").arg(broker, noAnswerWithin(answerLimitMs())));
        afterLoop();
    }

    // Our own TLS context, set up before the handshake can begin: with libmosquitto's context
    // all we learn is "certificate verify failed" (and the handshake may be over before we could
    // look at its SSL object). Here OpenSSL does the whole check, host name included, and the
    // verify callback notes why it said no.
    bool setUpTls()
    {
        const QString caName = options.caFile.isEmpty() ? QString::fromLatin1(kSystemCaPath) : options.caFile;
        auto refuse = [&](const QString& text, const QString& reason) {
            events.emplace_back(Fault{text});
            failAttempt(reason);
            return false;
        };
        QByteArray caFile;
        if (!options.caFile.isEmpty()) {
            QFile file(options.caFile);
            if (!file.open(QIODevice::ReadOnly))
                return refuse(QStringLiteral("The CA certificate file %1 for the MQTT broker %2 cannot be read: %3.")
                                  .arg(options.caFile, broker, file.errorString()),
                              QStringLiteral("CA file %1 unreadable").arg(options.caFile));
            caFile = QFile::encodeName(options.caFile);
        }
        sslCtx.reset(SSL_CTX_new(TLS_client_method()));
        if (!sslCtx)
            return refuse(QStringLiteral("TLS cannot be used for the MQTT broker %1.").arg(broker),
                          QStringLiteral("no TLS context"));
        SSL_CTX_set_min_proto_version(sslCtx.get(), TLS1_2_VERSION);
        ERR_clear_error();
        if (SSL_CTX_load_verify_locations(sslCtx.get(), caFile.isEmpty() ? nullptr : caFile.constData(),
                                          caFile.isEmpty() ? kSystemCaPath : nullptr) != 1) {
            const unsigned long error = ERR_get_error();
            const char* why = error != 0 ? ERR_reason_error_string(error) : nullptr;
            return refuse(QStringLiteral("The CA certificate file %1 for the MQTT broker %2 cannot be used (%3).")
                              .arg(caName, broker, why ? QString::fromUtf8(why) : QStringLiteral("no certificate in it")),
                          QStringLiteral("CA file %1 unusable").arg(caName));
        }
        ERR_clear_error();
        X509_VERIFY_PARAM* param = SSL_CTX_get0_param(sslCtx.get());
        const QByteArray host = options.host.toUtf8();
        // An address is checked against the certificate's IP names, a host name against its DNS names.
        if (X509_VERIFY_PARAM_set1_ip_asc(param, host.constData()) != 1) {
            ERR_clear_error();
            X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            X509_VERIFY_PARAM_set1_host(param, host.constData(), 0);
        }
        SSL_CTX_set_verify(sslCtx.get(), SSL_VERIFY_PEER, &State::verify);
        SSL_CTX_set_ex_data(sslCtx.get(), sslIndex(), &tls);

        // libmosquitto takes its own reference to the context and uses it as it is.
        mosquitto_int_option(mosq, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
        int rc = mosquitto_void_option(mosq, MOSQ_OPT_SSL_CTX, sslCtx.get());
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_set(mosq, caFile.isEmpty() ? nullptr : caFile.constData(),
                                   caFile.isEmpty() ? kSystemCaPath : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return refuse(QStringLiteral("The CA certificates for the MQTT broker %1 cannot be used (%2): %3.")
                              .arg(broker, caName, QString::fromUtf8(mosquitto_strerror(rc))),
                          QStringLiteral("TLS set-up for %1 failed").arg(broker));
        // Never mosquitto_tls_insecure_set(true): an unverified broker gets nothing.
        return true;
    }

    void failAttempt(const QString& reason)
    {
        ended = true;
        events.emplace_back(Ended{reason});
        afterLoop();
    }

    // The TLS handshake in progress, if any: libmosquitto's write loop does nothing until it ends.
    SSL* handshaking() const
    {
        SSL* ssl = mosq ? static_cast<SSL*>(mosquitto_ssl_get(mosq)) : nullptr;
        return ssl && !SSL_is_init_finished(ssl) ? ssl : nullptr;
    }

    // A socket whose connection failed or was closed says so here. During a TLS handshake
    // libmosquitto takes such a socket for one that is not ready yet and tries again each time it
    // is readable, which it always is: a busy loop that never ends the attempt.
    bool socketFailed()
    {
        const int fd = mosq ? mosquitto_socket(mosq) : -1;
        if (fd < 0)
            return false;
        int error = 0;
        SocketLength size = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
            error = socketErrno();
        if (error == 0) {
            // Looks without taking (libmosquitto's sockets do not block): what is there stays for OpenSSL.
            char byte = 0;
            const auto got = ::recv(fd, &byte, 1, MSG_PEEK);
            if (got > 0)
                return false;
            error = got == 0 ? kConnectionReset : socketErrno(); // an orderly close is a hang-up too
            if (error == kWouldBlock || error == EAGAIN || error == EINTR)
                return false;
        }
        if (error == kConnectionReset) {
            // A plain MQTT listener takes the ClientHello for a malformed packet and hangs up
            // (a reset when it left the rest of the hello unread).
            events.emplace_back(Fault{QStringLiteral("The MQTT broker %1 closed the connection during the TLS "
                                                     "handshake: it may not speak TLS on that port.")
                                          .arg(broker)});
            endAttempt(QStringLiteral("connection to %1 failed: the broker closed the connection during the TLS "
                                      "handshake; it may not speak TLS on that port")
                           .arg(broker));
            return true;
        }
        endAttempt(QStringLiteral("connection to %1 failed: %2").arg(broker, QString::fromLocal8Bit(std::strerror(error))));
        return true;
    }

    void onReadable()
    {
        if (!mosq || ended)
            return;
        if (handshaking() && socketFailed()) {
            afterLoop();
            return;
        }
        ++loopDepth;
        int rc = mosquitto_loop_read(mosq, kPacketsPerRead);
        // OpenSSL may hold decrypted bytes the socket no longer shows: no notifier would wake us
        // for them.
        for (int rounds = 0; rc == MOSQ_ERR_SUCCESS && !ended && rounds < 1000 && sslPending(); ++rounds)
            rc = mosquitto_loop_read(mosq, kPacketsPerRead);
        --loopDepth;
        if (rc != MOSQ_ERR_SUCCESS && !ended)
            endAttempt(reasonFor(rc));
        afterLoop();
    }

    bool sslPending() const
    {
        SSL* ssl = mosq ? static_cast<SSL*>(mosquitto_ssl_get(mosq)) : nullptr;
        return ssl && SSL_pending(ssl) > 0;
    }

    void onWritable()
    {
        if (!mosq || ended)
            return;
        ++loopDepth;
        int rc = MOSQ_ERR_SUCCESS;
        if (handshaking()) {
            socketWritableSeen = true;
            if (!socketFailed())
                rc = mosquitto_loop_read(mosq, 1); // moves the handshake on
        } else {
            rc = mosquitto_loop_write(mosq, 1);
        }
        --loopDepth;
        if (rc != MOSQ_ERR_SUCCESS && !ended)
            endAttempt(reasonFor(rc));
        afterLoop();
    }

    void onMisc()
    {
        if (!mosq || ended)
            return;
        ++loopDepth;
        const int rc = mosquitto_loop_misc(mosq);
        --loopDepth;
        if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN && !ended)
            endAttempt(reasonFor(rc));
        else if (rc == MOSQ_ERR_NO_CONN && !ended)
            endAttempt(QStringLiteral("connection to %1 lost: keepalive time-out").arg(broker));
        afterLoop();
    }

    void updateNotifiers()
    {
        if (!writeNotifier)
            return;
        bool wantWrite = false;
        if (SSL* ssl = handshaking())
            wantWrite = SSL_want_write(ssl) || !socketWritableSeen; // the TCP connection may still be on its way
        else
            wantWrite = mosquitto_want_write(mosq);
        writeNotifier->setEnabled(wantWrite);
    }

    void tearDown()
    {
        miscTimer.stop();
        answerTimer.stop();
        // Often called from the notifier's own signal: the notifiers go once it has returned.
        for (auto* notifier : {readNotifier.release(), writeNotifier.release()}) {
            if (notifier) {
                notifier->setEnabled(false);
                QObject::disconnect(notifier, nullptr, owner, nullptr);
                notifier->deleteLater();
            }
        }
        if (mosq) {
            mosquitto_destroy(mosq);
            mosq = nullptr;
        }
        sslCtx.reset();
        mids.clear();
        connected = false;
    }

    void afterLoop()
    {
        if (loopDepth > 0)
            return;
        if (ended && mosq) {
            tearDown();
        }
        if (ended && !mosq && running && !retryTimer.isActive()) {
            retryTimer.start(nextDelayMs);
            nextDelayMs = std::min(std::max(nextDelayMs, 1) * 2, std::max(options.reconnectDelayMaxMs, options.reconnectDelayMs));
        }
        if (mosq)
            updateNotifiers();
        flush();
    }

    void queueFlush()
    {
        if (flushQueued)
            return;
        flushQueued = true;
        QTimer::singleShot(0, owner, [this] {
            flushQueued = false;
            flush();
        });
    }

    // Emits what the callbacks noted, once libmosquitto has returned: a slot may publish, stop
    // the client or delete it later.
    void flush()
    {
        QPointer<MqttClient> alive(owner);
        while (alive && !events.empty()) {
            Event event = std::move(events.front());
            events.pop_front();
            if (std::holds_alternative<Connecting>(event)) {
                emit owner->connecting();
            } else if (std::holds_alternative<Connected>(event)) {
                emit owner->connected();
            } else if (auto* e = std::get_if<Ended>(&event)) {
                emit owner->disconnected(e->reason);
            } else if (auto* a = std::get_if<Acknowledged>(&event)) {
                emit owner->acknowledged(a->mid);
            } else if (auto* r = std::get_if<Received>(&event)) {
                emit owner->received(r->topic, r->payload);
            } else if (auto* f = std::get_if<Fault>(&event)) {
                if (faultsSaid.insert(f->text).second)
                    emit owner->fault(f->text);
            }
        }
    }
};

MqttClient::MqttClient(Options options, QObject* parent) : QObject(parent), state_(std::make_unique<State>())
{
    initLibrary();
    State& s = *state_;
    s.owner = this;
    s.options = std::move(options);
    s.id = s.options.clientId.isEmpty()
               ? QStringLiteral("zentlog-") + QUuid::createUuid().toString(QUuid::Id128).left(12)
               : s.options.clientId;
    s.broker = QStringLiteral("%1:%2").arg(s.options.host).arg(s.options.port);
    s.nextDelayMs = std::max(1, s.options.reconnectDelayMs);
    // libmosquitto wants loop_misc about once a second for its keepalive and time-outs.
    s.miscTimer.setInterval(1000);
    connect(&s.miscTimer, &QTimer::timeout, this, [this] { state_->onMisc(); });
    s.retryTimer.setSingleShot(true);
    connect(&s.retryTimer, &QTimer::timeout, this, [this] { state_->attempt(); });
    s.answerTimer.setSingleShot(true);
    connect(&s.answerTimer, &QTimer::timeout, this, [this] { state_->onNoAnswer(); });
}

MqttClient::~MqttClient()
{
    State& s = *state_;
    s.running = false;
    s.retryTimer.stop();
    if (s.mosq) {
        // The DISCONNECT is written without waiting; if the socket cannot take it now the
        // broker treats the client as gone and sends the will, which is the truth.
        mosquitto_disconnect_callback_set(s.mosq, nullptr);
        mosquitto_publish_callback_set(s.mosq, nullptr);
        mosquitto_disconnect(s.mosq);
    }
    s.tearDown();
}

void MqttClient::start()
{
    State& s = *state_;
    if (s.running)
        return;
    s.running = true;
    s.nextDelayMs = std::max(1, s.options.reconnectDelayMs);
    s.attempt();
}

void MqttClient::stop()
{
    State& s = *state_;
    if (!s.running && !s.mosq)
        return;
    s.running = false;
    s.retryTimer.stop();
    if (s.mosq) {
        const bool wasUp = !s.ended;
        mosquitto_disconnect_callback_set(s.mosq, nullptr);
        ++s.loopDepth;
        mosquitto_disconnect(s.mosq); // a clean DISCONNECT: the broker drops the will
        --s.loopDepth;
        if (wasUp)
            s.endAttempt(QStringLiteral("stopped"));
        s.tearDown();
        s.ended = true;
    }
    s.queueFlush();
}

bool MqttClient::isConnected() const
{
    return state_->connected;
}

int MqttClient::publish(const Message& message)
{
    State& s = *state_;
    if (!s.connected || !s.mosq || s.ended) {
        s.lastError = QStringLiteral("not connected to the MQTT broker %1").arg(s.broker);
        return 0;
    }
    if (message.qos < 0 || message.qos > 2) {
        s.lastError = QStringLiteral("QoS %1 is not 0, 1 or 2").arg(message.qos);
        return 0;
    }
    const QByteArray topic = message.topic.toUtf8();
    // libmosquitto takes C strings: a NUL would cut the topic short.
    if (topic.isEmpty() || topic.contains('\0') || mosquitto_pub_topic_check2(topic.constData(), static_cast<size_t>(topic.size())) != MOSQ_ERR_SUCCESS) {
        s.lastError = QStringLiteral("\"%1\" is not a topic one can publish to").arg(message.topic);
        return 0;
    }
    int libraryMid = 0;
    const int mid = s.nextMid;
    s.nextMid = s.nextMid == std::numeric_limits<int>::max() ? 1 : s.nextMid + 1;
    s.publishing = true;
    s.publishingMid = mid;
    s.publishedInside = false;
    ++s.loopDepth;
    errno = 0;
    const int rc = mosquitto_publish(s.mosq, &libraryMid, topic.constData(), static_cast<int>(message.payload.size()),
                                     message.payload.constData(), message.qos, message.retain);
    --s.loopDepth;
    s.publishing = false;
    if (rc == MOSQ_ERR_SUCCESS && !s.publishedInside)
        s.mids[libraryMid] = mid;
    if (rc != MOSQ_ERR_SUCCESS) {
        s.lastError = s.reasonFor(rc);
        // The write failed on a connection that went away: the notifiers will see it; the
        // message is forgotten with the connection.
        if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO) {
            s.endAttempt(s.lastError);
            QTimer::singleShot(0, this, [this] { state_->afterLoop(); });
        }
        return 0;
    }
    if (s.mosq)
        s.updateNotifiers();
    if (!s.events.empty())
        s.queueFlush(); // a QoS 0 message may be written already: its mid goes out after this returns
    return mid;
}

QString MqttClient::lastError() const
{
    return state_->lastError;
}

void MqttClient::subscribe(const QString& topicFilter, int qos)
{
    State& s = *state_;
    const QByteArray filter = topicFilter.toUtf8();
    if (filter.isEmpty() || filter.contains('\0') || mosquitto_sub_topic_check2(filter.constData(), static_cast<size_t>(filter.size())) != MOSQ_ERR_SUCCESS) {
        s.lastError = QStringLiteral("\"%1\" is not a topic filter").arg(topicFilter);
        return;
    }
    qos = std::clamp(qos, 0, 2);
    s.subscriptions.emplace_back(filter, qos);
    if (s.connected && s.mosq && !s.ended) {
        ++s.loopDepth;
        mosquitto_subscribe(s.mosq, nullptr, filter.constData(), qos);
        --s.loopDepth;
        s.updateNotifiers();
    }
}

} // namespace publish
