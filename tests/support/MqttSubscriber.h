#pragma once
// A plain MQTT subscriber for tests, independent of the program's own client: libmosquitto driven
// by a thread of its own (poll(), so any number of descriptors in the process is fine). It
// subscribes to one topic filter at QoS 1 on 127.0.0.1:port, comes back by itself when the broker
// was stopped and started again (subscribing again), and records every message it receives.
//
//     testing_support::MqttSubscriber subscriber(broker.port(), "zentlog/#");
//     ASSERT_TRUE(subscriber.waitUntilSubscribed(10000));
//     ... publish ...
//     ASSERT_TRUE(subscriber.waitFor([](const auto& messages) { return messages.size() >= 2; }, 10000));
//     EXPECT_EQ(subscriber.messages()[0].payload, "...");
//
// waitFor keeps Qt's events going on the calling thread while it waits, so a client under test
// living there keeps working.

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace testing_support {

class MqttSubscriber {
public:
    struct Received {
        QString topic;
        QByteArray payload;
        bool retain = false; // true: the broker kept it and gave it on subscribing
        int qos = 0;
        qint64 arrivalMs = 0; // QDateTime::currentMSecsSinceEpoch() when it came
    };
    using Messages = std::vector<Received>;

    // Starts connecting at once; `username` empty: anonymous. With a `sessionId`, the broker keeps
    // the session (clean session off): what comes while the subscriber is away is kept for it,
    // across a restart of a broker that keeps sessions.
    MqttSubscriber(int port, const QString& topicFilter, const QString& username = {}, const QString& password = {},
                   const QString& sessionId = {});
    ~MqttSubscriber(); // disconnects and ends the thread
    MqttSubscriber(const MqttSubscriber&) = delete;
    MqttSubscriber& operator=(const MqttSubscriber&) = delete;

    // True once the broker acknowledged the subscription (of the current connection).
    bool isSubscribed() const;
    bool waitUntilSubscribed(int ms);

    // A copy of everything received so far, in order of arrival.
    Messages messages() const;
    // Messages on exactly this topic.
    Messages messagesOn(const QString& topic) const;
    void clear();

    // Waits until `done(messages)` holds or `ms` passed; true if it holds.
    bool waitFor(const std::function<bool(const Messages&)>& done, int ms) const;
    // Waits until at least `count` messages came.
    bool waitForCount(std::size_t count, int ms) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace testing_support
