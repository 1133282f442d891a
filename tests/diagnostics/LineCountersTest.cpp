// The counters of the line: reply time figures, consecutive failures, the failure list.

#include "diagnostics/LineCounters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

using namespace diagnostics;

namespace {

TEST(ReplyTimesTest, FiguresAgreeWithADirectComputation)
{
    ReplyTimes times;
    EXPECT_FALSE(times.minimum() || times.mean() || times.percentile95() || times.maximum());

    std::mt19937 random(5);
    std::uniform_int_distribution<int> tenths(0, 25000);
    std::vector<double> all;
    for (int i = 0; i < 997; ++i) {
        all.push_back(tenths(random) / 10.0);
        times.add(all.back());
    }
    std::sort(all.begin(), all.end());
    EXPECT_DOUBLE_EQ(*times.minimum(), all.front());
    EXPECT_DOUBLE_EQ(*times.maximum(), all.back());
    EXPECT_NEAR(*times.mean(), std::accumulate(all.begin(), all.end(), 0.0) / 997, 1e-9);
    // Nearest rank: ceil(0.95 * 997) = 948th smallest.
    EXPECT_DOUBLE_EQ(*times.percentile95(), all[947]);

    times.clear();
    times.add(12.34);
    EXPECT_DOUBLE_EQ(*times.percentile95(), 12.3);
}

TEST(LineCountersTest, FailuresAreCountedByKindUntilAValueAndTheListKeepsTheLastTwenty)
{
    LineCounters counters;
    counters.recordVisit(1, 1000, Outcome::value(), 31.2);
    for (int i = 0; i < 25; ++i)
        counters.recordVisit(1, 2000 + i, i % 2 == 0 ? Outcome::noReply(2000) : Outcome::exception(6), std::nullopt);
    counters.recordVisit(1, 3000, Outcome::of(OutcomeKind::PortClosed), std::nullopt);
    counters.recordLateReply(2, 3100);

    const ChannelCounters& c = counters.channel(1);
    EXPECT_EQ(c.visits, 27U);
    EXPECT_EQ(c.requests, 26U); // nothing is sent on a closed port
    EXPECT_EQ(c.noReply, 13U);
    EXPECT_EQ(c.exceptions.at(6), 12U);
    EXPECT_EQ(c.consecutiveFailures, 26U);
    EXPECT_EQ(c.lastValidMs, 1000);
    EXPECT_EQ(c.lastFailure, Outcome::of(OutcomeKind::PortClosed));
    EXPECT_EQ(counters.channel(2).lateReplies, 1U);

    ASSERT_EQ(counters.recentFailures().size(), LineCounters::kRecentFailures);
    EXPECT_EQ(counters.recentFailures().back().reason, QStringLiteral("late reply discarded"));
    EXPECT_EQ(counters.recentFailures().front().timeMs, 2000 + 7); // the oldest ones left

    counters.recordVisit(1, 4000, Outcome::value(), 30.0);
    EXPECT_EQ(counters.channel(1).consecutiveFailures, 0U);
    EXPECT_EQ(statsLine(counters.total()), QStringLiteral("requests=27 replies=2 timeouts=13 invalid=0 exceptions=12 "
                                                          "lost=1 reply_ms_min=30.0 reply_ms_mean=30.6 "
                                                          "reply_ms_p95=31.2 reply_ms_max=31.2"));

    counters.reset();
    EXPECT_EQ(counters.channel(1).visits, 0U);
    EXPECT_TRUE(counters.recentFailures().empty());
}

} // namespace
