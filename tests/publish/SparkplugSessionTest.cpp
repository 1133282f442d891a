// The Sparkplug B session, read back the way a host reads it: every payload is decoded with the
// classes protoc makes from the same sparkplug_b.proto, and the stream of messages is checked as
// a whole (births before data, aliases, seq, bdSeq, deaths).

#include "publish/SparkplugSession.h"
#include "publish/sparkplug_b.pb.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <map>
#include <random>
#include <set>
#include <string>
#include <variant>

namespace {

namespace pb = org::eclipse::tahu::protobuf;
using publish::Message;
using publish::SparkplugSession;

constexpr std::int64_t kT0 = 1'765'000'000'000; // a December 2025 morning, UTC ms

pb::Payload decode(const Message& message)
{
    pb::Payload payload;
    EXPECT_TRUE(payload.ParseFromArray(message.payload.constData(), int(message.payload.size())))
        << message.topic.toStdString();
    return payload;
}

// "DDATA" of "spBv1.0/zentlog/DDATA/site/input1".
QString kindOf(const Message& message)
{
    return message.topic.section(QLatin1Char('/'), 2, 2);
}

QString deviceOf(const Message& message)
{
    return message.topic.section(QLatin1Char('/'), 4, 4);
}

const pb::Payload::Metric* metricNamed(const pb::Payload& payload, const std::string& name)
{
    for (const auto& metric : payload.metrics())
        if (metric.name() == name)
            return &metric;
    return nullptr;
}

measure::Reading flowReading(int channel, std::int64_t timeMs)
{
    measure::Reading r;
    r.timeMs = timeMs;
    r.channel = channel;
    r.tag = QStringLiteral("Débit entrée");
    r.typeName = QStringLiteral("Flow");
    r.ok = true;
    r.outcome = diagnostics::Outcome::value();
    r.shown.text = QStringLiteral("12.5 m3/h");
    r.shown.value = 12.5;
    r.shown.unit = QStringLiteral("m3/h");
    r.shown.totalDay = 300.0;
    r.shown.total = 98765.0;
    return r;
}

measure::Reading failedReading(int channel, std::int64_t timeMs)
{
    measure::Reading r;
    r.timeMs = timeMs;
    r.channel = channel;
    r.tag = QStringLiteral("pH bassin");
    r.typeName = QStringLiteral("pH");
    r.ok = false;
    r.outcome = diagnostics::Outcome::noReply(2000);
    r.shown.text = QStringLiteral("Out of order");
    // Numbers left over from an earlier visit must not pass for values of a failed one.
    r.shown.value = 7.0;
    r.shown.unit = QStringLiteral("pH");
    return r;
}

std::vector<QString> kinds(const SparkplugSession::ReadingMessages& out)
{
    std::vector<QString> result;
    for (const Message& m : out.messages)
        result.push_back(kindOf(m));
    return result;
}

using Kinds = std::vector<QString>;
const QString DBIRTH = QStringLiteral("DBIRTH");
const QString DDATA = QStringLiteral("DDATA");
const QString DDEATH = QStringLiteral("DDEATH");

} // namespace

TEST(SparkplugSession, BirthsAnnounceEveryMetricBeforeDataThatUsesAliasesAlone)
{
    SparkplugSession session(QStringLiteral("plant-A"), 1, 7);
    std::vector<Message> stream = session.births(kT0);
    ASSERT_EQ(stream.size(), 1u);
    EXPECT_EQ(stream[0].topic, QStringLiteral("spBv1.0/zentlog/NBIRTH/plant-A"));

    const pb::Payload nbirth = decode(stream[0]);
    EXPECT_EQ(nbirth.seq(), 0u);
    EXPECT_EQ(nbirth.timestamp(), std::uint64_t(kT0));
    const auto* bdSeq = metricNamed(nbirth, "bdSeq");
    ASSERT_NE(bdSeq, nullptr);
    EXPECT_EQ(bdSeq->datatype(), std::uint32_t(pb::UInt64));
    EXPECT_EQ(bdSeq->long_value(), 7u);
    const auto* rebirth = metricNamed(nbirth, "Node Control/Rebirth");
    ASSERT_NE(rebirth, nullptr);
    EXPECT_EQ(rebirth->datatype(), std::uint32_t(pb::Boolean));
    ASSERT_TRUE(rebirth->has_boolean_value());
    EXPECT_FALSE(rebirth->boolean_value());

    // Readings of every channel, two rounds, one failed visit among them.
    for (int round = 0; round < 2; ++round)
        for (int channel = 0; channel < 4; ++channel) {
            const std::int64_t t = kT0 + 1000 * (round * 4 + channel + 1);
            const measure::Reading r = channel == 2 ? failedReading(channel, t) : flowReading(channel, t);
            const auto out = session.reading(r, false, t + 5);
            ASSERT_GE(out.dataIndex, 0);
            EXPECT_EQ(kindOf(out.messages[std::size_t(out.dataIndex)]), DDATA);
            EXPECT_EQ(decode(out.messages[std::size_t(out.dataIndex)]).timestamp(), std::uint64_t(t));
            stream.insert(stream.end(), out.messages.begin(), out.messages.end());
        }

    // A host's view: aliases learnt from the births, then every DDATA resolved through them.
    std::map<std::uint64_t, std::pair<std::string, std::uint32_t>> aliases; // alias -> name, type
    std::set<QString> bornDevices;
    int ddataCount = 0;
    for (const auto& metric : nbirth.metrics()) {
        if (metric.has_alias()) {
            EXPECT_TRUE(aliases.emplace(metric.alias(), std::pair{metric.name(), metric.datatype()}).second);
        }
    }
    for (const Message& m : stream) {
        EXPECT_FALSE(m.retain) << m.topic.toStdString();
        EXPECT_EQ(m.qos, 1);
        const pb::Payload p = decode(m);
        if (kindOf(m) == DBIRTH) {
            EXPECT_EQ(m.topic, QStringLiteral("spBv1.0/zentlog/DBIRTH/plant-A/") + deviceOf(m));
            EXPECT_TRUE(bornDevices.insert(deviceOf(m)).second) << "born twice";
            std::set<std::string> names;
            for (const auto& metric : p.metrics()) {
                ASSERT_TRUE(metric.has_name() && metric.has_alias() && metric.has_datatype());
                names.insert(metric.name());
                EXPECT_TRUE(aliases.emplace(metric.alias(), std::pair{metric.name(), metric.datatype()}).second)
                    << "alias " << metric.alias() << " used twice";
            }
            EXPECT_EQ(names, (std::set<std::string>{"ok", "value", "temperature", "value2", "total_day", "total",
                                                     "unit", "unit2", "text", "outcome", "tag", "type", "Alarm/id",
                                                     "Alarm/kind", "Alarm/event", "Alarm/state", "Alarm/value",
                                                     "Alarm/limit", "Alarm/raised_ms"}));
        }
        if (kindOf(m) == DDATA) {
            ++ddataCount;
            EXPECT_TRUE(bornDevices.count(deviceOf(m))) << "data before birth: " << m.topic.toStdString();
            EXPECT_EQ(p.metrics_size(), 12);
            for (const auto& metric : p.metrics()) {
                EXPECT_FALSE(metric.has_name());
                EXPECT_FALSE(metric.has_datatype());
                EXPECT_FALSE(metric.is_historical());
                EXPECT_EQ(metric.timestamp(), p.timestamp());
                ASSERT_TRUE(aliases.count(metric.alias())) << "unknown alias " << metric.alias();
            }
        }
    }
    EXPECT_EQ(bornDevices.size(), 4u);
    EXPECT_EQ(ddataCount, 8);

    // The values as a host resolves them, with the types of the births.
    const auto valueOf = [&](const pb::Payload& p, const std::string& name) -> const pb::Payload::Metric& {
        for (const auto& metric : p.metrics())
            if (aliases[metric.alias()].first == name)
                return metric;
        ADD_FAILURE() << name;
        return p.metrics(0);
    };
    const auto lastDataOf = [&](const QString& device) {
        for (auto it = stream.rbegin(); it != stream.rend(); ++it)
            if (kindOf(*it) == DDATA && deviceOf(*it) == device)
                return decode(*it);
        return pb::Payload();
    };
    const pb::Payload flow = lastDataOf(QStringLiteral("input1"));
    EXPECT_TRUE(valueOf(flow, "ok").boolean_value());
    EXPECT_DOUBLE_EQ(valueOf(flow, "value").double_value(), 12.5);
    EXPECT_DOUBLE_EQ(valueOf(flow, "total").double_value(), 98765.0);
    EXPECT_TRUE(valueOf(flow, "temperature").is_null());
    EXPECT_TRUE(valueOf(flow, "unit2").is_null());
    EXPECT_EQ(valueOf(flow, "unit").string_value(), "m3/h");
    EXPECT_EQ(valueOf(flow, "tag").string_value(), "Débit entrée");
    EXPECT_EQ(valueOf(flow, "outcome").string_value(), "value");
    for (const auto& [alias, nameType] : aliases) {
        if (nameType.first == "value" || nameType.first == "total") {
            EXPECT_EQ(nameType.second, std::uint32_t(pb::Double));
        }
    }

    // A failed visit: "ok" false, the reason and the panel text, every number and unit null.
    const pb::Payload failed = lastDataOf(QStringLiteral("input2"));
    EXPECT_FALSE(valueOf(failed, "ok").boolean_value());
    EXPECT_TRUE(valueOf(failed, "ok").has_boolean_value());
    EXPECT_EQ(valueOf(failed, "outcome").string_value(), "no_reply");
    EXPECT_EQ(valueOf(failed, "text").string_value(), "Out of order");
    for (const char* name : {"value", "temperature", "value2", "total_day", "total", "unit", "unit2"}) {
        EXPECT_TRUE(valueOf(failed, name).is_null()) << name;
        EXPECT_EQ(valueOf(failed, name).value_case(), pb::Payload::Metric::VALUE_NOT_SET) << name;
    }

    // A reading of a channel that does not exist says nothing and uses no seq.
    const std::uint8_t seq = session.nextSeq();
    for (int channel : {-1, 4, 1000}) {
        const auto out = session.reading(flowReading(channel, kT0), false, kT0);
        EXPECT_TRUE(out.messages.empty());
        EXPECT_EQ(out.dataIndex, -1);
    }
    EXPECT_EQ(session.nextSeq(), seq);
}

TEST(SparkplugSession, SeqRunsOverNodeAndDeviceMessagesAndBdSeqOverSessions)
{
    SparkplugSession session(QStringLiteral("site"), 0, 254);

    // The will of the session and its NBIRTH carry the same bdSeq; the will has no seq.
    const auto checkSession = [&](std::uint64_t expectedBdSeq) -> std::vector<Message> {
        const Message will = session.nodeDeath();
        EXPECT_EQ(will.topic, QStringLiteral("spBv1.0/zentlog/NDEATH/site"));
        EXPECT_EQ(will.qos, 1);
        EXPECT_FALSE(will.retain);
        const pb::Payload death = decode(will);
        EXPECT_FALSE(death.has_seq());
        const auto* willBdSeq = metricNamed(death, "bdSeq");
        EXPECT_TRUE(willBdSeq && willBdSeq->long_value() == expectedBdSeq);
        const std::vector<Message> births = session.births(kT0);
        EXPECT_EQ(births.size(), 1u);
        const pb::Payload nbirth = births.empty() ? pb::Payload() : decode(births[0]);
        EXPECT_EQ(births.at(0).qos, 0);
        const auto* birthBdSeq = metricNamed(nbirth, "bdSeq");
        EXPECT_TRUE(birthBdSeq && birthBdSeq->long_value() == expectedBdSeq);
        EXPECT_EQ(session.bdSeq(), expectedBdSeq);
        return births;
    };

    // 600 readings over the four channels: every message after the NBIRTH takes the next seq,
    // 255 followed by 0, whatever device it is for.
    std::vector<Message> stream = checkSession(254);
    for (int i = 0; i < 600; ++i) {
        const std::int64_t t = kT0 + 1000 * (i + 1);
        const auto out = session.reading(flowReading(i % 4, t), false, t);
        stream.insert(stream.end(), out.messages.begin(), out.messages.end());
    }
    ASSERT_EQ(stream.size(), 1u + 4u + 600u); // NBIRTH, four DBIRTHs, the data
    int wraps = 0;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        const pb::Payload p = decode(stream[i]);
        ASSERT_TRUE(p.has_seq());
        EXPECT_EQ(p.seq(), i % 256) << "message " << i;
        wraps += i > 0 && p.seq() == 0;
    }
    EXPECT_EQ(wraps, 2);
    EXPECT_EQ(session.nextSeq(), stream.size() % 256);

    // A rebirth asked by a host: seq back to 0, same bdSeq, every device born again.
    checkSession(254);
    EXPECT_EQ(kinds(session.reading(flowReading(0, kT0 + 700'000), false, kT0)), (Kinds{DBIRTH, DDATA}));
    EXPECT_EQ(decode(session.reading(flowReading(0, kT0 + 701'000), false, kT0).messages[0]).seq(), 3u);

    // The connection ends: the next session takes the next bdSeq, 255 then 0, devices born again.
    session.sessionEnded();
    checkSession(255);
    const auto out = session.reading(flowReading(0, kT0 + 702'000), false, kT0);
    EXPECT_EQ(kinds(out), (Kinds{DBIRTH, DDATA}));
    EXPECT_EQ(out.dataIndex, 1);
    EXPECT_EQ(decode(out.messages[0]).seq(), 1u);
    session.sessionEnded();
    checkSession(0);
    session.sessionEnded();
    checkSession(1);
}

TEST(SparkplugSession, ChannelFailingForAWholeMinuteDiesUntilAValidReading)
{
    SparkplugSession session(QStringLiteral("site"), 1);
    session.births(kT0);
    EXPECT_EQ(kinds(session.reading(flowReading(1, kT0), false, kT0)), (Kinds{DBIRTH, DDATA}));

    // Failing from kT0 + 1 s: 59 s of failures are data, the visit at 60 s is data and then death.
    const std::int64_t first = kT0 + 1000;
    for (std::int64_t t = first; t < first + 60'000; t += 5000)
        EXPECT_EQ(kinds(session.reading(failedReading(1, t), false, t)), (Kinds{DDATA})) << t - first;
    EXPECT_EQ(kinds(session.reading(failedReading(1, first + 59'999), false, 0)), (Kinds{DDATA}));
    auto out = session.reading(failedReading(1, first + 60'000), false, 0);
    ASSERT_EQ(kinds(out), (Kinds{DDATA, DDEATH}));
    EXPECT_EQ(out.dataIndex, 0);
    EXPECT_EQ(out.messages[1].topic, QStringLiteral("spBv1.0/zentlog/DDEATH/site/input1"));
    EXPECT_EQ(decode(out.messages[1]).seq(), (decode(out.messages[0]).seq() + 1) % 256);

    // Dead: later failures say nothing and take no seq; other channels go on.
    const std::uint8_t seq = session.nextSeq();
    for (int i = 1; i <= 30; ++i) {
        out = session.reading(failedReading(1, first + 60'000 + i * 5000), false, 0);
        EXPECT_TRUE(out.messages.empty());
        EXPECT_EQ(out.dataIndex, -1);
    }
    EXPECT_EQ(session.nextSeq(), seq);
    EXPECT_EQ(kinds(session.reading(flowReading(0, first + 300'000), false, 0)), (Kinds{DBIRTH, DDATA}));

    // Nor does a new session bring a dead channel back: only a valid reading does.
    session.sessionEnded();
    session.births(kT0 + 400'000);
    EXPECT_TRUE(session.reading(failedReading(1, kT0 + 401'000), false, 0).messages.empty());
    out = session.reading(flowReading(1, kT0 + 402'000), false, 0);
    ASSERT_EQ(kinds(out), (Kinds{DBIRTH, DDATA}));
    EXPECT_EQ(metricNamed(decode(out.messages[0]), "ok")->boolean_value(), true);

    // Back alive, the minute counts again from the first failure of the next run: a valid
    // reading in the middle starts it over.
    const std::int64_t again = kT0 + 500'000;
    EXPECT_EQ(kinds(session.reading(failedReading(1, again), false, 0)), (Kinds{DDATA}));
    EXPECT_EQ(kinds(session.reading(failedReading(1, again + 40'000), false, 0)), (Kinds{DDATA}));
    EXPECT_EQ(kinds(session.reading(flowReading(1, again + 50'000), false, 0)), (Kinds{DDATA}));
    EXPECT_EQ(kinds(session.reading(failedReading(1, again + 70'000), false, 0)), (Kinds{DDATA}));
    EXPECT_EQ(kinds(session.reading(failedReading(1, again + 129'000), false, 0)), (Kinds{DDATA}));
    EXPECT_EQ(kinds(session.reading(failedReading(1, again + 130'000), false, 0)), (Kinds{DDATA, DDEATH}));

    // A device that was never born and fails from the start is born with its failure first.
    out = session.reading(failedReading(3, kT0), false, kT0);
    ASSERT_EQ(kinds(out), (Kinds{DBIRTH, DDATA}));
    EXPECT_EQ(metricNamed(decode(out.messages[0]), "outcome")->string_value(), "no_reply");
    // The clock set back an hour while it fails: the minute counts from the new times rather
    // than an hour and a minute later.
    EXPECT_EQ(kinds(session.reading(failedReading(3, kT0 - 3'600'000), false, 0)), (Kinds{DDATA}));
    EXPECT_EQ(kinds(session.reading(failedReading(3, kT0 - 3'540'000), false, 0)), (Kinds{DDATA, DDEATH}));
}

TEST(SparkplugSession, HistoricalReadingsAreFlaggedAndLeaveTheLiveStateAlone)
{
    SparkplugSession session(QStringLiteral("site"), 1);
    session.births(kT0 + 3'600'000);

    // Backfill first after the connection: the host learns the aliases before the data, from a
    // birth that shows no live value, and every metric of the data is historical.
    auto out = session.reading(flowReading(0, kT0), true, kT0 + 3'600'000);
    ASSERT_EQ(kinds(out), (Kinds{DBIRTH, DDATA}));
    EXPECT_EQ(out.dataIndex, 1);
    const pb::Payload birth = decode(out.messages[0]);
    EXPECT_EQ(birth.metrics_size(), 19); // the reading's 12 and the alarm's 7
    for (const auto& metric : birth.metrics()) {
        EXPECT_TRUE(metric.is_null()) << metric.name();
        EXPECT_FALSE(metric.is_historical());
    }
    const pb::Payload data = decode(out.messages[1]);
    EXPECT_EQ(data.timestamp(), std::uint64_t(kT0));
    for (const auto& metric : data.metrics()) {
        EXPECT_TRUE(metric.is_historical());
        EXPECT_EQ(metric.timestamp(), std::uint64_t(kT0));
    }

    // Past failures, over far more than a minute, kill nothing.
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(kinds(session.reading(failedReading(0, kT0 + i * 10'000), true, 0)), (Kinds{DDATA}));

    // A live failing channel: a past valid reading does not stop its minute.
    const std::int64_t live = kT0 + 3'600'000;
    EXPECT_EQ(kinds(session.reading(failedReading(0, live), false, live)), (Kinds{DDATA}));
    EXPECT_EQ(kinds(session.reading(flowReading(0, live + 30'000), true, live)), (Kinds{DDATA}));
    EXPECT_EQ(kinds(session.reading(failedReading(0, live + 60'000), false, live)), (Kinds{DDATA, DDEATH}));

    // Dead: past readings still reach the host, after a birth without live values, but do not
    // revive the channel: its next failed visit takes that birth back, then silence.
    out = session.reading(flowReading(0, live + 10'000), true, live);
    ASSERT_EQ(kinds(out), (Kinds{DBIRTH, DDATA}));
    EXPECT_TRUE(metricNamed(decode(out.messages[0]), "ok")->is_null());
    EXPECT_EQ(kinds(session.reading(flowReading(0, live + 20'000), true, live)), (Kinds{DDATA}));
    EXPECT_EQ(kinds(session.reading(failedReading(0, live + 70'000), false, live)), (Kinds{DDEATH}));
    EXPECT_TRUE(session.reading(failedReading(0, live + 75'000), false, live).messages.empty());
    EXPECT_EQ(kinds(session.reading(flowReading(0, live + 80'000), false, live)), (Kinds{DBIRTH, DDATA}));
}

TEST(SparkplugSession, RebirthRequestsAreRecognisedAndAnythingElseIsNot)
{
    // One NCMD metric: a name (empty: none), an alias (0: none) and a value.
    struct Case {
        std::string name;
        std::uint64_t alias;
        std::variant<bool, std::string, std::uint32_t> value;
        bool rebirth;
    };
    const auto command = [](const Case& c) {
        pb::Payload p;
        p.set_timestamp(std::uint64_t(kT0));
        auto* m = p.add_metrics();
        if (!c.name.empty())
            m->set_name(c.name);
        if (c.alias)
            m->set_alias(c.alias);
        if (const bool* b = std::get_if<bool>(&c.value))
            m->set_boolean_value(*b);
        else if (const std::string* text = std::get_if<std::string>(&c.value))
            m->set_string_value(*text);
        else
            m->set_int_value(std::get<std::uint32_t>(c.value));
        const std::string bytes = p.SerializeAsString();
        return QByteArray(bytes.data(), qsizetype(bytes.size()));
    };
    const std::vector<Case> cases{
        {"Node Control/Rebirth", 0, true, true},
        {"", 1, true, true}, // by the alias our NBIRTH gives it
        {"Node Control/Rebirth", 0, false, false},
        {"", 1, false, false},
        {"Node Control/Reboot", 0, true, false},
        {"Node Control/Rebirth", 0, std::string("true"), false},
        {"Node Control/Rebirth", 0, std::uint32_t(1), false},
        {"other", 1, true, false}, // a named metric goes by its name, not by a stray alias
        {"", 2, true, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SparkplugSession::isRebirthRequest(command(c)), c.rebirth) << c.name << " " << c.alias;

    SparkplugSession session(QStringLiteral("site"), 1);
    EXPECT_FALSE(SparkplugSession::isRebirthRequest(session.births(kT0)[0].payload));
    EXPECT_FALSE(SparkplugSession::isRebirthRequest(QByteArray()));
    EXPECT_FALSE(SparkplugSession::isRebirthRequest(QByteArrayLiteral("rebirth")));
    EXPECT_FALSE(SparkplugSession::isRebirthRequest(QByteArrayLiteral("{\"Node Control/Rebirth\":true}")));

    // A real request cut short, and random bytes of every length: false, never a crash.
    const QByteArray real = command(cases[0]);
    for (qsizetype n = 0; n < real.size(); ++n)
        EXPECT_FALSE(SparkplugSession::isRebirthRequest(real.left(n))) << n;
    std::mt19937 random(20251209);
    for (int i = 0; i < 5000; ++i) {
        QByteArray bytes(qsizetype(random() % 200), '\0');
        for (char& c : bytes)
            c = char(random());
        EXPECT_FALSE(SparkplugSession::isRebirthRequest(bytes)) << bytes.toHex().toStdString();
    }
}
