#include "MqttSubscriber.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <QUuid>

#include <mosquitto.h>
#include <poll.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace testing_support {

namespace {

// Runs Qt's events for about `ms` milliseconds without spinning the CPU (processEvents() with a
// time limit would poll).
void runEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

struct MqttSubscriber::State {
    QByteArray filter;
    QByteArray username;
    QByteArray sessionId;
    QByteArray password;
    int port = 0;

    mutable std::mutex mutex;
    Messages messages;
    std::atomic<bool> subscribed{false};
    std::atomic<bool> quit{false};
    std::thread thread;

    static void onConnect(struct mosquitto* mosq, void* userdata, int rc)
    {
        if (rc == 0)
            mosquitto_subscribe(mosq, nullptr, static_cast<State*>(userdata)->filter.constData(), 1);
    }
    static void onSubscribe(struct mosquitto*, void* userdata, int, int, const int*)
    {
        static_cast<State*>(userdata)->subscribed = true;
    }
    static void onDisconnect(struct mosquitto*, void* userdata, int)
    {
        static_cast<State*>(userdata)->subscribed = false;
    }
    static void onMessage(struct mosquitto*, void* userdata, const struct mosquitto_message* message)
    {
        auto* state = static_cast<State*>(userdata);
        Received received;
        received.topic = QString::fromUtf8(message->topic);
        received.payload = QByteArray(static_cast<const char*>(message->payload), message->payloadlen);
        received.retain = message->retain;
        received.qos = message->qos;
        received.arrivalMs = QDateTime::currentMSecsSinceEpoch();
        const std::lock_guard lock(state->mutex);
        state->messages.push_back(std::move(received));
    }

    void run()
    {
        const QByteArray id = !sessionId.isEmpty()
            ? sessionId
            : "test-subscriber-" + QUuid::createUuid().toString(QUuid::Id128).left(12).toLatin1();
        struct mosquitto* mosq = mosquitto_new(id.constData(), sessionId.isEmpty(), this);
        if (!mosq)
            return;
        mosquitto_connect_callback_set(mosq, &State::onConnect);
        mosquitto_subscribe_callback_set(mosq, &State::onSubscribe);
        mosquitto_disconnect_callback_set(mosq, &State::onDisconnect);
        mosquitto_message_callback_set(mosq, &State::onMessage);
        if (!username.isEmpty())
            mosquitto_username_pw_set(mosq, username.constData(), password.constData());
        bool everConnected = false;
        while (!quit) {
            if (mosquitto_socket(mosq) < 0) {
                const int rc = everConnected ? mosquitto_reconnect(mosq) : mosquitto_connect(mosq, "127.0.0.1", port, 10);
                if (rc != MOSQ_ERR_SUCCESS) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    continue;
                }
                everConnected = true;
            }
            pollfd fd{mosquitto_socket(mosq), static_cast<short>(POLLIN | (mosquitto_want_write(mosq) ? POLLOUT : 0)), 0};
            if (::poll(&fd, 1, 100) > 0) {
                if (fd.revents & (POLLIN | POLLHUP | POLLERR))
                    mosquitto_loop_read(mosq, 10);
                if ((fd.revents & POLLOUT) && mosquitto_socket(mosq) >= 0)
                    mosquitto_loop_write(mosq, 10);
            }
            mosquitto_loop_misc(mosq);
        }
        mosquitto_disconnect(mosq);
        mosquitto_destroy(mosq);
    }
};

MqttSubscriber::MqttSubscriber(int port, const QString& topicFilter, const QString& username, const QString& password,
                               const QString& sessionId)
    : state_(std::make_unique<State>())
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
    state_->port = port;
    state_->filter = topicFilter.toUtf8();
    state_->username = username.toUtf8();
    state_->sessionId = sessionId.toUtf8();
    state_->password = password.toUtf8();
    state_->thread = std::thread([state = state_.get()] { state->run(); });
}

MqttSubscriber::~MqttSubscriber()
{
    state_->quit = true;
    state_->thread.join();
}

bool MqttSubscriber::isSubscribed() const
{
    return state_->subscribed;
}

bool MqttSubscriber::waitUntilSubscribed(int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!isSubscribed() && !deadline.hasExpired()) {
        runEventsFor(10);
    }
    return isSubscribed();
}

MqttSubscriber::Messages MqttSubscriber::messages() const
{
    const std::lock_guard lock(state_->mutex);
    return state_->messages;
}

MqttSubscriber::Messages MqttSubscriber::messagesOn(const QString& topic) const
{
    Messages found;
    for (Received& message : messages()) {
        if (message.topic == topic)
            found.push_back(std::move(message));
    }
    return found;
}

void MqttSubscriber::clear()
{
    const std::lock_guard lock(state_->mutex);
    state_->messages.clear();
}

bool MqttSubscriber::waitFor(const std::function<bool(const Messages&)>& done, int ms) const
{
    const QDeadlineTimer deadline(ms);
    for (;;) {
        if (done(messages()))
            return true;
        if (deadline.hasExpired())
            return false;
        runEventsFor(10);
    }
}

bool MqttSubscriber::waitForCount(std::size_t count, int ms) const
{
    return waitFor([count](const Messages& messages) { return messages.size() >= count; }, ms);
}

} // namespace testing_support
