// zentlog-station on zentlog-sim serves its live feed: a client on the socket gets the
// configuration, each visit with the text the panel shows (as zentlog-poll prints it for the same
// station), states with the line counters, and can reset them; the socket goes with the station.

#include "SimProcess.h"
#include "StationRun.h"

#include "feed/FeedProtocol.h"

#include <QLocalSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// The lines a client reads within `ms` until `enough` says so.
std::vector<feed::FeedMessage> readUntil(QLocalSocket& socket, int ms,
                                         const std::function<bool(const std::vector<feed::FeedMessage>&)>& enough)
{
    std::vector<feed::FeedMessage> messages;
    QElapsedTimer timer;
    timer.start();
    while (!enough(messages) && timer.elapsed() < ms) {
        socket.waitForReadyRead(100);
        while (socket.canReadLine())
            messages.push_back(feed::parseLine(socket.readLine()));
    }
    return messages;
}

qsizetype count(const std::vector<feed::FeedMessage>& messages, feed::FeedMessage::Kind kind)
{
    return std::count_if(messages.begin(), messages.end(), [kind](const auto& m) { return m.kind == kind; });
}

} // namespace

TEST(FeedStation, VisitsCarryThePanelsTextsAndTheCountersCanBeReset)
{
    const QStringList stations{QStringLiteral("1 0 ph fixed"), QStringLiteral("2 0 orp fixed")};
    SimProcess sim(stations);
    QTemporaryDir dir;
    writeStationFiles(dir.path());
    Station station(dir.path(), sim.linkPath());
    ASSERT_TRUE(station.waitForLog(QStringLiteral("Live feed on \"[^\"]+zentlog-station\\.sock\""), 1, 10000))
        << station.log().toStdString();

    QLocalSocket client;
    client.connectToServer(feed::socketPath(dir.path()));
    ASSERT_TRUE(client.waitForConnected(2000));
    auto messages = readUntil(client, 10000, [](const auto& m) { return count(m, feed::FeedMessage::Kind::Visit) >= 4; });
    ASSERT_GE(messages.size(), 2u);
    ASSERT_EQ(messages[0].kind, feed::FeedMessage::Kind::Configuration);
    EXPECT_EQ(messages[0].configuration.channels[0].tag, QStringLiteral("basin pH"));
    EXPECT_EQ(messages[1].kind, feed::FeedMessage::Kind::State);
    EXPECT_EQ(count(messages, feed::FeedMessage::Kind::Invalid), 0);

    // The texts zentlog-poll prints for the same stations, on a simulator of their own.
    SimProcess twin(stations);
    std::map<int, QString> expected;
    for (const auto& [channel, address, type] : {std::tuple{0, "1", "2"}, std::tuple{1, "2", "3"}}) {
        const PollRun poll = runPoll({QStringLiteral("--device"), twin.linkPath(), QStringLiteral("--address"),
                                      QLatin1String(address), QStringLiteral("--role"), QStringLiteral("Master"),
                                      QStringLiteral("--type"), QLatin1String(type)});
        ASSERT_EQ(poll.exitCode, 0) << poll.errors.toStdString();
        expected[channel] = poll.output.trimmed();
    }
    for (const feed::FeedMessage& m : messages) {
        if (m.kind != feed::FeedMessage::Kind::Visit)
            continue;
        QString text = m.visit.reading.shown.text;
        EXPECT_EQ(text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).trimmed(), expected[m.visit.reading.channel]);
        EXPECT_TRUE(m.visit.reading.ok);
        EXPECT_TRUE(m.visit.replyMs.has_value());
        EXPECT_GE(m.visit.endedMs, m.visit.reading.timeMs);
    }

    // Two cycles had counted two visits of input 0 at least; reset-counters starts them again.
    client.write(feed::encodeCommand(feed::Command::ResetCounters));
    messages = readUntil(client, 5000, [](const auto& m) {
        return !m.empty() && m.back().kind == feed::FeedMessage::Kind::State && m.back().state.counters.channel(0).visits < 2;
    });
    ASSERT_FALSE(messages.empty());
    EXPECT_LT(messages.back().state.counters.channel(0).visits, 2u);
    EXPECT_TRUE(station.waitForLog(QStringLiteral("Line counters reset"), 1, 1000));

    EXPECT_EQ(station.terminate(), 0);
    EXPECT_FALSE(QFileInfo::exists(feed::socketPath(dir.path())));
}
