// The feed's lines: what the station sends comes back whole, and junk is refused with a reason.

#include "feed/FeedProtocol.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace feed;
using diagnostics::Outcome;

namespace {

measure::Reading reading(int channel, bool ok, Outcome outcome, QString text)
{
    measure::Reading r;
    r.timeMs = 1796917244627;
    r.channel = channel;
    r.tag = QStringLiteral("basin \"pH\"");
    r.typeName = QStringLiteral("pH");
    r.ok = ok;
    r.outcome = outcome;
    r.shown.text = std::move(text);
    if (ok) {
        r.shown.value = 7.14;
        r.shown.unit = QStringLiteral("pH");
        r.shown.temperature = 18.4;
    }
    return r;
}

} // namespace

TEST(FeedProtocol, VisitsComeBackAsSentOnOneLine)
{
    const struct {
        measure::Reading reading;
        std::optional<double> replyMs;
    } cases[] = {
        {reading(0, true, Outcome::value(), QStringLiteral("7.14 pH     18.4  \u00b0C\r\n 1234   m3")), 31.4},
        {reading(3, false, Outcome::noReply(500), QStringLiteral("Out of order")), std::nullopt},
        {reading(2, false, Outcome::exception(2), QStringLiteral("Out of order")), 12.5},
    };
    for (const auto& c : cases) {
        const QByteArray line = encodeVisit(c.reading, c.replyMs, 1796917244700);
        EXPECT_EQ(line.indexOf('\n'), line.size() - 1); // one line, whatever the text holds
        const FeedMessage m = parseLine(line);
        ASSERT_EQ(m.kind, FeedMessage::Kind::Visit) << m.problem.toStdString();
        const measure::Reading& r = m.visit.reading;
        const measure::Reading& e = c.reading;
        EXPECT_EQ(std::tie(r.channel, r.timeMs, r.tag, r.shown.text, r.ok, r.outcome),
                  std::tie(e.channel, e.timeMs, e.tag, e.shown.text, e.ok, e.outcome));
        EXPECT_EQ(std::tie(r.shown.value, r.shown.unit, r.shown.temperature, r.shown.value2),
                  std::tie(e.shown.value, e.shown.unit, e.shown.temperature, e.shown.value2));
        EXPECT_EQ(m.visit.replyMs, c.replyMs);
        EXPECT_EQ(m.visit.endedMs, 1796917244700);
    }
}

TEST(FeedProtocol, StateAndConfigurationComeBackWhole)
{
    StationState s;
    s.portProblem = QStringLiteral("cannot be opened: Permission denied");
    s.channels = {true, false, true, false};
    s.counters.recordVisit(0, 1000, Outcome::value(), 31.4);
    s.counters.recordVisit(0, 2000, Outcome::value(), 45.05);
    s.counters.recordVisit(0, 3000, Outcome::noReply(2000), std::nullopt);
    s.counters.recordVisit(1, 4000, Outcome::invalidReply(diagnostics::InvalidReason::Crc), std::nullopt);
    s.counters.recordVisit(2, 5000, Outcome::exception(6), 20.0);
    s.counters.recordLateReply(2, 6000);
    s.mqtt = {true, false, true, QStringLiteral("broker:1883"), 120, 118, 3, QStringLiteral("refused")};
    s.cycles = 42;
    const FeedMessage m = parseLine(encodeState(s));
    ASSERT_EQ(m.kind, FeedMessage::Kind::State) << m.problem.toStdString();
    const StationState& back = m.state;
    EXPECT_EQ(back.portProblem, s.portProblem);
    EXPECT_EQ(back.channels, s.channels);
    for (int i = 0; i < 4; ++i) {
        const diagnostics::ChannelCounters& a = s.counters.channel(i);
        const diagnostics::ChannelCounters& b = back.counters.channel(i);
        EXPECT_EQ(diagnostics::statsLine(b), diagnostics::statsLine(a)) << i;
        EXPECT_EQ(std::tie(b.invalid, b.exceptions, b.lateReplies, b.consecutiveFailures, b.lastValidMs, b.lastFailure),
                  std::tie(a.invalid, a.exceptions, a.lateReplies, a.consecutiveFailures, a.lastValidMs, a.lastFailure));
    }
    ASSERT_EQ(back.counters.recentFailures().size(), s.counters.recentFailures().size());
    EXPECT_EQ(back.counters.recentFailures().back().reason, QStringLiteral("late reply discarded"));
    EXPECT_EQ(publish::describe(back.mqtt), publish::describe(s.mqtt));
    EXPECT_EQ(back.cycles, 42);

    StationConfiguration c;
    c.channels[1] = {true, QStringLiteral("\u00b5S tank"), 1, QStringLiteral("Conductivity"), QStringLiteral("2"), 20};
    c.port = QStringLiteral("COM2");
    c.settings = QStringLiteral("9600,n,8, 1");
    const FeedMessage m2 = parseLine(encodeConfiguration(c));
    ASSERT_EQ(m2.kind, FeedMessage::Kind::Configuration);
    EXPECT_EQ(m2.configuration, c);
}

TEST(FeedProtocol, JunkIsRefusedWithAReason)
{
    const QByteArray lines[] = {
        "",
        "{",
        "\xff\xfe\x00garbage",
        "[1,2]",
        "{\"kind\":\"weather\"}",
        "{\"kind\":\"visit\",\"ok\":true,\"text\":\"x\"}",
        "{\"kind\":\"visit\",\"channel\":4,\"ok\":true,\"text\":\"x\"}",
        "{\"kind\":\"visit\",\"channel\":1.5,\"ok\":true,\"text\":\"x\"}",
        "{\"kind\":\"visit\",\"channel\":1,\"ok\":true,\"text\":5}",
        "{\"kind\":\"visit\",\"channel\":1,\"ok\":true,\"outcome\":\"no_reply\",\"text\":\"x\"}",
        "{\"kind\":\"state\",\"port\":1}",
        "{\"kind\":\"configuration\",\"port\":\"COM1\",\"channels\":[]}",
        QByteArray(100000, '[') ,
        "{\"kind\":\"error\",\"text\":\"x\"}" + QByteArray(kMaxLineBytes, ' '),
    };
    for (const QByteArray& line : lines) {
        const FeedMessage m = parseLine(line);
        EXPECT_EQ(m.kind, FeedMessage::Kind::Invalid) << line.left(80).toStdString();
        EXPECT_FALSE(m.problem.isEmpty());
    }
    // Counters of the wrong type or range count as nothing; the state itself is still read.
    const FeedMessage odd = parseLine("{\"kind\":\"state\",\"port\":\"COM1\",\"counters\":[{\"visits\":-3,"
                                      "\"reply_times\":{\"tenths\":[[-5,1],[1e300,2],\"x\",[10,\"y\"]]}}]}");
    ASSERT_EQ(odd.kind, FeedMessage::Kind::State);
    EXPECT_EQ(odd.state.counters.channel(0).visits, 0u);
    EXPECT_EQ(odd.state.counters.channel(0).replyTimes.count(), 0u);

    const struct {
        QByteArray line;
        std::optional<Command> command;
    } commands[] = {
        {"{\"command\":\"reset-counters\"}\n", Command::ResetCounters},
        {"{\"command\":\"reload\"}\r\n", Command::Reload},
        {"{\"command\":\"rm -rf\"}", std::nullopt},
        {"reload", std::nullopt},
        {"{\"command\":\"reload\"" + QByteArray(kMaxCommandBytes, ' ') + "}", std::nullopt},
        {"{\"command\":\"acknowledge-all\"}", Command::AcknowledgeAll},
        {"{\"command\":\"acknowledge\",\"id\":12}", Command::Acknowledge},
        {"{\"command\":\"acknowledge\"}", std::nullopt},
        {"{\"command\":\"acknowledge\",\"id\":1.5}", std::nullopt},
        {"{\"command\":\"acknowledge\",\"id\":\"12\"}", std::nullopt},
        {"{\"command\":\"acknowledge\",\"id\":-3}", std::nullopt},
    };
    for (const auto& c : commands) {
        const ParsedCommand parsed = parseCommand(c.line);
        EXPECT_EQ(parsed.command, c.command) << c.line.left(40).toStdString();
        EXPECT_EQ(parsed.problem.isEmpty(), c.command.has_value());
    }
}

TEST(FeedProtocol, AlarmLinesReadBackAsTheyWereSentAndJunkIsInvalid)
{
    const alarms::Alarm alarm{12, 3, alarms::AlarmKind::TemperatureHigh, QStringLiteral("basin \"pH\""), 1000, 31.5, 30.0,
                              2000, std::nullopt};
    const FeedMessage event = parseLine(encodeAlarmEvent({alarms::AlarmEvent::Type::Acknowledged, 2000, alarm}));
    ASSERT_EQ(event.kind, FeedMessage::Kind::Alarm) << event.problem.toStdString();
    EXPECT_EQ(event.alarmEvent, (alarms::AlarmEvent{alarms::AlarmEvent::Type::Acknowledged, 2000, alarm}));
    const FeedMessage list = parseLine(encodeAlarms({alarm, alarm}));
    ASSERT_EQ(list.kind, FeedMessage::Kind::Alarms);
    EXPECT_EQ(list.alarms, (std::vector<alarms::Alarm>{alarm, alarm}));
    EXPECT_EQ(parseCommand(encodeAcknowledge(12)).alarmId, 12);
    for (const char* junk : {"{\"kind\":\"alarm\",\"event\":\"exploded\",\"alarm\":{}}",
                             "{\"kind\":\"alarms\",\"alarms\":[{\"id\":1,\"input\":9,\"kind\":\"high\"}]}"})
        EXPECT_EQ(parseLine(junk).kind, FeedMessage::Kind::Invalid) << junk;
}
