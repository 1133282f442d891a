// The publisher against a real mosquitto on loopback: live readings, the backlog of an outage from
// the memory queue and from the history, what the broker acknowledged kept across a restart.

#include "MqttBroker.h"
#include "MqttSubscriber.h"

#include "history/Recorder.h"
#include "publish/AckedRanges.h"
#include "publish/Publisher.h"
#include "publish/sparkplug_b.pb.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

using publish::AckedRanges;
using publish::Publisher;
using testing_support::MqttBroker;
using testing_support::MqttSubscriber;

namespace {

// One cycle of two channels; the value counts the cycles, so that each reading is told apart.
std::vector<measure::Reading> cycle(int n)
{
    std::vector<measure::Reading> readings(2);
    for (int c = 0; c < 2; ++c) {
        measure::Reading& r = readings[std::size_t(c)];
        r.timeMs = 1'700'000'000'000 + qint64(n) * 1000 + c;
        r.channel = c;
        r.tag = QStringLiteral("T%1").arg(c);
        r.typeName = QStringLiteral("pH");
        r.ok = c == 0;
        r.outcome = r.ok ? diagnostics::Outcome::value() : diagnostics::Outcome::noReply(2000);
        r.shown.text = r.ok ? QStringLiteral("  7.%1 pH").arg(n % 100, 2, 10, QLatin1Char('0')) : QStringLiteral("Out of order");
        if (r.ok) {
            r.shown.value = 7.0 + n / 100.0;
            r.shown.unit = QStringLiteral("pH");
        }
    }
    return readings;
}

struct Got {
    int n; // the cycle
    int channel;
    bool backfill;
};

std::vector<Got> got(const MqttSubscriber::Messages& messages)
{
    std::vector<Got> found;
    for (const auto& m : messages) {
        if (!m.topic.endsWith(QLatin1String("/reading")))
            continue;
        const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
        found.push_back({int((qint64(o.value(QStringLiteral("time_ms")).toDouble()) - 1'700'000'000'000) / 1000),
                         o.value(QStringLiteral("channel")).toInt(), o.value(QStringLiteral("backfill")).toBool()});
    }
    return found;
}

bool waitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class PublisherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(broker.start()) << broker.log().toStdString();
        subscriber = std::make_unique<MqttSubscriber>(broker.port(), QStringLiteral("zentlog/site/#"), QString(),
                                                      QString(), QStringLiteral("publisher-test-watch"));
        ASSERT_TRUE(subscriber->waitUntilSubscribed(10000));
    }
    std::unique_ptr<Publisher> makePublisher(bool history, publish::Format format = publish::Format::Json,
                                             int saveIntervalMs = 200)
    {
        Publisher::Options options;
        options.saveIntervalMs = saveIntervalMs;
        options.settings.format = format;
        options.settings.enabled = true;
        options.settings.host = QStringLiteral("127.0.0.1");
        options.settings.port = broker.port();
        options.settings.site = QStringLiteral("site");
        options.directory = dir.path();
        options.history = history;
        options.reconnectDelayMaxMs = 500;
        auto publisher = std::make_unique<Publisher>(std::move(options));
        publisher->start();
        return publisher;
    }
    // What the history file keeps as acknowledged by the broker.
    std::vector<AckedRanges::Range> savedAcked()
    {
        const auto acked = publish::HistorySource(dir.path()).loadAcked(QStringLiteral("127.0.0.1:%1 site json").arg(broker.port()));
        return acked ? acked->ranges() : std::vector<AckedRanges::Range>{};
    }
    bool readingsArrived(std::size_t count)
    {
        return subscriber->waitFor([&](const auto& m) { return got(m).size() >= count; }, 20000);
    }

    QTemporaryDir dir;
    MqttBroker broker{MqttBroker::Options{{}, {}, true}};
    std::unique_ptr<MqttSubscriber> subscriber;
};

} // namespace

TEST(AckedRangesTest, RangesMergeAndTheFirstGapIsFound)
{
    AckedRanges acked = AckedRanges::upTo(10);
    acked.add(12);
    acked.add(14);
    EXPECT_EQ(acked.ranges(), (std::vector<AckedRanges::Range>{{0, 10}, {12, 12}, {14, 14}}));
    EXPECT_EQ(acked.nextUnacked(-1), 11);
    EXPECT_EQ(acked.nextUnacked(11), 13);
    acked.add(13);
    acked.add(11);
    EXPECT_EQ(acked.ranges(), (std::vector<AckedRanges::Range>{{0, 14}}));
    // Ranges read back from a file may overlap or touch.
    EXPECT_EQ(AckedRanges::fromRanges({{5, 9}, {0, 3}, {4, 4}, {20, 30}, {25, 26}}).ranges(),
              (std::vector<AckedRanges::Range>{{0, 9}, {20, 30}}));
    EXPECT_FALSE(AckedRanges::fromRanges({{0, 9}}).contains(10));
}

TEST_F(PublisherTest, TheMemoryQueueSendsAnOutagesReadingsOnceInOrderAsBackfill)
{
    auto publisher = makePublisher(false);
    ASSERT_TRUE(waitUntil([&] { return publisher->status().connected; }, 10000));
    for (int n = 0; n < 3; ++n)
        publisher->cycleRecorded(cycle(n));
    ASSERT_TRUE(readingsArrived(6));
    ASSERT_TRUE(waitUntil([&] { return publisher->status().acknowledged == 6; }, 10000));

    broker.stop();
    ASSERT_TRUE(waitUntil([&] { return !publisher->status().connected; }, 10000));
    for (int n = 3; n < 13; ++n)
        publisher->cycleRecorded(cycle(n));
    EXPECT_EQ(publisher->status().pendingBackfill, 20);
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(subscriber->waitFor([](const auto& m) { return std::count_if(m.begin(), m.end(), [](const auto& x) {
        return x.payload.contains("\"backfill\":true");
    }) >= 20; }, 20000));
    publisher->cycleRecorded(cycle(13));
    ASSERT_TRUE(subscriber->waitFor([](const auto& m) { return !m.empty() && m.back().payload.contains("\"time_ms\":1700000013001"); }, 20000));
    ASSERT_TRUE(waitUntil([&] { return publisher->status().acknowledged == 28; }, 10000));

    // The broker may hand the kept session what it delivered just before its stop once more
    // (mosquitto restores its in-flight messages): live readings are counted once each.
    std::set<int> live;
    std::vector<int> backfilled;
    for (const Got& g : got(subscriber->messages())) {
        if (g.backfill)
            backfilled.push_back(g.n * 10 + g.channel);
        else
            live.insert(g.n * 10 + g.channel);
    }
    EXPECT_EQ(live, (std::set<int>{0, 1, 10, 11, 20, 21, 130, 131}));
    std::vector<int> expected;
    for (int n = 3; n < 13; ++n)
        expected.insert(expected.end(), {n * 10, n * 10 + 1});
    EXPECT_EQ(backfilled, expected);
    EXPECT_EQ(publisher->status().pendingBackfill, 0);
    EXPECT_EQ(publisher->status().sent, 28);
}

TEST_F(PublisherTest, AfterARestartOnlyWhatTheBrokerDidNotAcknowledgeIsSent)
{
    history::Recorder::Options recorderOptions;
    recorderOptions.directory = dir.path();
    history::Recorder recorder(std::move(recorderOptions));
    // What was recorded before publishing was ever turned on is not sent.
    recorder.recordCycle(cycle(0));
    {
        auto publisher = makePublisher(true);
        ASSERT_TRUE(waitUntil([&] { return publisher->status().connected; }, 10000));
        for (int n = 1; n < 4; ++n) {
            recorder.recordCycle(cycle(n));
            publisher->cycleRecorded(cycle(n));
        }
        ASSERT_TRUE(waitUntil([&] { return publisher->status().acknowledged == 6; }, 10000));
    }
    // The program is not running: two cycles are recorded without it, for example by another run
    // with publishing off.
    recorder.recordCycle(cycle(4));
    recorder.recordCycle(cycle(5));
    ASSERT_TRUE(readingsArrived(6));
    auto publisher = makePublisher(true);
    ASSERT_TRUE(readingsArrived(10));
    ASSERT_TRUE(waitUntil([&] { return publisher->status().acknowledged == 4; }, 10000));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 300);
    const std::vector<Got> all = got(subscriber->messages());
    ASSERT_EQ(all.size(), 10u);
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].n, int(i / 2) + 1);
        EXPECT_EQ(all[i].backfill, i >= 6);
    }
}

// Without an interval the acknowledgements are saved with each cycle (each save is a synced
// commit), and always at the end.
TEST_F(PublisherTest, WithoutAnIntervalAcknowledgementsAreSavedWithTheNextCycleAndAtTheEnd)
{
    history::Recorder::Options recorderOptions;
    recorderOptions.directory = dir.path();
    recorderOptions.retentionDays = 100000; // the readings of 2023 are kept
    history::Recorder recorder(std::move(recorderOptions));
    auto publisher = makePublisher(true, publish::Format::Json, 0);
    ASSERT_TRUE(waitUntil([&] { return publisher->status().connected; }, 10000));
    for (int n = 0; n < 2; ++n) {
        recorder.recordCycle(cycle(n));
        publisher->cycleRecorded(cycle(n));
        ASSERT_TRUE(waitUntil([&] { return publisher->status().acknowledged == 2 * n + 2; }, 10000));
    }
    waitUntil([] { return false; }, 500);
    EXPECT_EQ(savedAcked(), (std::vector<AckedRanges::Range>{{0, 2}}));
    publisher.reset();
    EXPECT_EQ(savedAcked(), (std::vector<AckedRanges::Range>{{0, 4}}));
}

// Each cycle goes out before the recorder writes it; its rows are then marked acknowledged, not sent
// again (also read before the cycle came), and after an outage and a restart none is missing.
TEST_F(PublisherTest, CyclesGoOutBeforeTheRecorderWritesThemAndOnceWrittenAreNotSentAgain)
{
    qint64 nowMs = 0;
    history::Recorder::Options recorderOptions;
    recorderOptions.directory = dir.path();
    recorderOptions.writeIntervalSeconds = 10;
    recorderOptions.clock = [&] { return nowMs; };
    history::Recorder recorder(std::move(recorderOptions));
    auto publisher = makePublisher(true);
    const auto measure = [&](int n, qint64 atMs, bool publish) {
        nowMs = atMs;
        recorder.recordCycle(cycle(n));
        if (publish)
            publisher->cycleRecorded(cycle(n));
    };
    ASSERT_TRUE(waitUntil([&] { return publisher->status().connected; }, 10000));
    for (int n = 0; n < 3; ++n)
        measure(n, n * 1000, true); // the first is written at once, the others wait
    ASSERT_TRUE(readingsArrived(6));
    measure(3, 3000, false);
    measure(4, 60000, false); // cycles 1 to 4 are written before the publisher gets cycles 3 and 4
    publisher->cycleRecorded(cycle(3));
    publisher->cycleRecorded(cycle(4));
    ASSERT_TRUE(waitUntil([&] { return publisher->status().acknowledged == 10; }, 10000));
    EXPECT_EQ(publisher->status().sent, 10);
    broker.stop();
    ASSERT_TRUE(waitUntil([&] { return !publisher->status().connected; }, 10000));
    measure(5, 61000, true);
    measure(6, 62000, true);
    recorder.flush(); // as the program ends
    publisher.reset();
    ASSERT_TRUE(broker.start());
    publisher = makePublisher(true);
    ASSERT_TRUE(waitUntil([&] { return publisher->status().acknowledged == 4; }, 20000));
    EXPECT_EQ(publisher->status().sent, 4);
    EXPECT_TRUE(subscriber->waitFor([](const auto& m) {
        std::set<int> readings; // each channel of cycles 0 to 6
        for (const Got& g : got(m))
            readings.insert(g.n * 10 + g.channel);
        return readings.size() == 14;
    }, 20000));
}

namespace {

namespace pb = org::eclipse::tahu::protobuf;

struct Sparkplug {
    QString type;   // NBIRTH, DDATA, ...
    QString device; // empty for the node
    pb::Payload payload;
};

std::vector<Sparkplug> sparkplugIn(const MqttSubscriber::Messages& messages)
{
    std::vector<Sparkplug> found;
    for (const auto& m : messages) {
        const QStringList parts = m.topic.split(QLatin1Char('/'));
        Sparkplug s{parts.value(2), parts.value(4), {}};
        EXPECT_TRUE(s.payload.ParseFromArray(m.payload.constData(), int(m.payload.size()))) << m.topic.toStdString();
        found.push_back(std::move(s));
    }
    return found;
}

std::uint64_t bdSeqOf(const pb::Payload& payload)
{
    for (const auto& metric : payload.metrics())
        if (metric.name() == "bdSeq")
            return metric.long_value();
    ADD_FAILURE() << "no bdSeq";
    return 0;
}

} // namespace

TEST_F(PublisherTest, SparkplugBirthsComeFirstBackfillIsHistoricalAndTheDeathMatchesTheBirth)
{
    MqttSubscriber watcher(broker.port(), QStringLiteral("spBv1.0/zentlog/#"), QString(), QString(),
                           QStringLiteral("publisher-test-sparkplug"));
    ASSERT_TRUE(watcher.waitUntilSubscribed(10000));
    auto publisher = makePublisher(false, publish::Format::Sparkplug);
    ASSERT_TRUE(waitUntil([&] { return publisher->status().connected; }, 10000));
    for (int n = 0; n < 2; ++n)
        publisher->cycleRecorded(cycle(n));
    ASSERT_TRUE(waitUntil([&] { return publisher->status().acknowledged == 4; }, 10000));
    broker.stop();
    ASSERT_TRUE(waitUntil([&] { return !publisher->status().connected; }, 10000));
    for (int n = 2; n < 4; ++n)
        publisher->cycleRecorded(cycle(n));
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(waitUntil([&] { return publisher->status().acknowledged == 8; }, 20000));
    publisher.reset(); // a clean end says NDEATH itself
    ASSERT_TRUE(watcher.waitFor([](const auto& m) { return !m.empty() && m.back().topic.contains("NDEATH"); }, 10000));

    // Each session: an NBIRTH, then each device's DBIRTH before its data, and its NDEATH last
    // (the broker sends the will of the first one when it shuts down). The broker may give the
    // kept session messages of the first session again after its restart: those repeat an
    // earlier seq, or come after that session's death, and are left out.
    std::vector<std::vector<Sparkplug>> sessions;
    std::string arrived; // for the failure message
    for (Sparkplug& s : sparkplugIn(watcher.messages())) {
        arrived += s.type.toStdString() + " " + s.device.toStdString() + " " + std::to_string(s.payload.seq()) + "; ";
        if (s.type == QLatin1String("NBIRTH"))
            sessions.emplace_back();
        ASSERT_FALSE(sessions.empty()) << "a message before the first NBIRTH: " << s.type.toStdString();
        std::vector<Sparkplug>& session = sessions.back();
        if (!session.empty() && session.back().type == QLatin1String("NDEATH"))
            continue;
        if (s.type != QLatin1String("NDEATH") && !session.empty()
            && s.payload.seq() != (session.back().payload.seq() + 1) % 256)
            continue;
        session.push_back(std::move(s));
    }
    SCOPED_TRACE(arrived);
    ASSERT_EQ(sessions.size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        std::map<std::uint64_t, std::string> names; // alias -> name, from the births
        int historical = 0;
        int data = 0;
        for (const Sparkplug& s : sessions[k]) {
            if (s.type == QLatin1String("DBIRTH"))
                for (const auto& metric : s.payload.metrics())
                    names[metric.alias()] = metric.name();
            if (s.type != QLatin1String("DDATA"))
                continue;
            ++data;
            for (const auto& metric : s.payload.metrics()) {
                EXPECT_TRUE(names.count(metric.alias())) << "DDATA before its DBIRTH";
                historical += metric.is_historical() ? 1 : 0;
            }
            if (k == 1) {
                EXPECT_TRUE(s.payload.metrics(0).is_historical());
            }
        }
        EXPECT_EQ(data, 4) << "session " << k;
        if (k == 0) {
            EXPECT_EQ(historical, 0);
        }
    }
    if (sessions[0].back().type == QLatin1String("NDEATH")) {
        EXPECT_EQ(bdSeqOf(sessions[0].back().payload), bdSeqOf(sessions[0].front().payload));
    }
    // The second session has a later bdSeq (every attempt while the broker was down took one),
    // and its death certificate the same.
    EXPECT_GT(bdSeqOf(sessions[1].front().payload), bdSeqOf(sessions[0].front().payload));
    ASSERT_EQ(sessions[1].back().type, QStringLiteral("NDEATH"));
    EXPECT_EQ(bdSeqOf(sessions[1].back().payload), bdSeqOf(sessions[1].front().payload));
}

TEST_F(PublisherTest, AnAttemptUnderWayShowsNoReasonOfAnEarlierOne)
{
    broker.stop();
    auto publisher = makePublisher(false);
    ASSERT_TRUE(waitUntil([&] { return !publisher->status().problem.isEmpty(); }, 10000));
    ASSERT_TRUE(broker.start());
    broker.pause(); // takes the next attempt's connection and never answers
    const QString connecting = QStringLiteral("MQTT 127.0.0.1:%1: connecting, 0 readings sent, 0 acknowledged, 0 to backfill.");
    EXPECT_TRUE(waitUntil([&] { return publish::describe(publisher->status()) == connecting.arg(broker.port()); }, 5000))
        << publish::describe(publisher->status()).toStdString();
}

// Alarm events, JSON and Sparkplug B: those of an outage arrive once, as backfill, when the broker
// is back, and the retained JSON state of the input is the state now (the broker keeps no
// retained message across its restart).
TEST_F(PublisherTest, AnOutagesAlarmEventsArriveOnceAsBackfillAndTheRetainedStateIsTheStateNow)
{
    using alarms::AlarmEvent;
    // "event backfill" of every alarm message of input 2 (alias 1024 + 2 * 16 + 2: the event).
    const auto eventsIn = [](const MqttSubscriber::Messages& messages) {
        std::set<QString> found;
        for (const auto& m : messages) {
            const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
            if (m.topic == QLatin1String("zentlog/site/2/alarm"))
                found.insert(o.value("event").toString() + (o.value("backfill").toBool() ? " 1" : " 0"));
            pb::Payload p;
            if (m.topic == QLatin1String("spBv1.0/zentlog/DDATA/site/input2") && p.ParseFromArray(m.payload.data(), int(m.payload.size())))
                for (const auto& metric : p.metrics())
                    if (metric.alias() == 1024 + 2 * 16 + 2)
                        found.insert(QString::fromStdString(metric.string_value()) + (metric.is_historical() ? " 1" : " 0"));
        }
        return found;
    };
    for (const publish::Format format : {publish::Format::Json, publish::Format::Sparkplug}) {
        SCOPED_TRACE(format == publish::Format::Json ? "json" : "sparkplug");
        MqttSubscriber watcher(broker.port(), QStringLiteral("#"), {}, {}, QStringLiteral("alarm-watch-%1").arg(int(format)));
        ASSERT_TRUE(watcher.waitUntilSubscribed(10000));
        auto publisher = makePublisher(false, format);
        ASSERT_TRUE(waitUntil([&] { return publisher->status().connected; }, 10000));
        AlarmEvent event{AlarmEvent::Type::Raised, 1'700'000'000'000, {}};
        event.alarm = {7, 2, alarms::AlarmKind::High, QStringLiteral("pH"), event.timeMs, 8.7, 8.5, {}, {}};
        publisher->alarmEvent(event);
        ASSERT_TRUE(watcher.waitFor([&](const auto& m) { return eventsIn(m).size() == 1; }, 10000));
        // Time for the PUBACK to reach the publisher, which lives in this thread: an event the
        // broker did not acknowledge would rightly come again as backfill.
        waitUntil([] { return false; }, 1000);
        broker.stop();
        for (const auto type : {AlarmEvent::Type::Acknowledged, AlarmEvent::Type::Cleared}) {
            event.type = type;
            event.timeMs += 1000;
            (type == AlarmEvent::Type::Cleared ? event.alarm.clearedMs : event.alarm.acknowledgedMs) = event.timeMs;
            publisher->alarmEvent(event);
        }
        ASSERT_TRUE(broker.start());
        EXPECT_TRUE(watcher.waitFor([&](const auto& m) { return eventsIn(m).size() == 3; }, 20000));
        EXPECT_EQ(eventsIn(watcher.messages()), (std::set<QString>{"raised 0", "acknowledged 1", "cleared 1"}));
        if (format == publish::Format::Json) {
            MqttSubscriber later(broker.port(), QStringLiteral("zentlog/site/2/alarm/state"));
            ASSERT_TRUE(later.waitFor([](const auto& m) { return !m.empty(); }, 10000));
            EXPECT_TRUE(later.messages().back().retain);
            EXPECT_EQ(QJsonDocument::fromJson(later.messages().back().payload).object().value("alarms").toArray().size(), 0);
        }
    }
}

TEST_F(PublisherTest, AnAlarmEventTheHistoryCouldNotTakeIsSentFromMemory)
{
    // No history file: the event raised before the broker is reached is not in any file.
    auto publisher = makePublisher(true);
    alarms::AlarmEvent event{alarms::AlarmEvent::Type::Raised, 1'700'000'000'000, {}};
    event.alarm = {3, 1, alarms::AlarmKind::LowLow, QStringLiteral("Cl"), event.timeMs, 0.05, 0.1, {}, {}};
    publisher->alarmEvent(event);
    EXPECT_TRUE(subscriber->waitFor(
        [](const auto& m) {
            return std::any_of(m.begin(), m.end(), [](const auto& one) { return one.topic == "zentlog/site/1/alarm"; });
        },
        20000));
}
