// The bucket query of the trend charts against a direct computation over the same readings, its
// edges and gaps, the live buckets against a fresh query, and a read while another process holds
// the recorder's lock.

#include "history/HistoryQuery.h"
#include "history/HistorySchema.h"
#include "history/Recorder.h"
#include "history/TrendAxes.h"
#include "history/TrendQuery.h"

#include "ExportTestDatabase.h"
#include "HistoryFiles.h"
#include "TrendTestData.h"

#include <QDateTime>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

using history::TrendBucket;
using history::TrendGrid;
using history_test::Reading;
using history_test::TestDatabase;

namespace {

struct Expected {
    qint64 count = 0;
    qint64 failed = 0;
    double min = 0, max = 0, sum = 0;
    double tMin = 0, tMax = 0, tSum = 0;
    qint64 tCount = 0;
};

class TrendQueryTest : public ::testing::Test {
protected:
    QString path() const { return QDir(dir.path()).filePath(QStringLiteral("history.sqlite")); }

    // `n` readings of `channel` at random times in [fromMs, toMs), about one in eight "Out of
    // order". Those carry a value that must never count (a file written by another tool may have
    // one); a few good ones have no temperature.
    std::vector<Reading> randomReadings(int channel, qint64 fromMs, qint64 toMs, int n)
    {
        std::uniform_int_distribution<qint64> time(fromMs, toMs - 1);
        std::uniform_real_distribution<double> value(-50.0, 250.0);
        std::uniform_int_distribution<int> die(0, 7);
        std::vector<Reading> readings;
        for (int i = 0; i < n; ++i) {
            Reading r;
            r.timeMs = time(random);
            r.channel = channel;
            r.tag = QStringLiteral("T%1").arg(channel);
            r.type = QStringLiteral("pH");
            const int roll = die(random);
            r.ok = roll != 0;
            r.value = r.ok ? value(random) : (i % 2 ? 99999.0 : -99999.0);
            r.unit = QStringLiteral("pH");
            if (roll != 1)
                r.temperature = value(random) / 10;
            r.text = QStringLiteral("x");
            readings.push_back(r);
        }
        return readings;
    }

    static std::map<qint64, Expected> direct(const std::vector<Reading>& readings, int channel, const TrendGrid& grid)
    {
        std::map<qint64, Expected> buckets;
        for (const Reading& r : readings) {
            if (r.channel != channel || r.timeMs < grid.fromMs || r.timeMs >= grid.toMs)
                continue;
            Expected& e = buckets[(r.timeMs - grid.fromMs) * grid.columns / (grid.toMs - grid.fromMs)];
            if (!r.ok) {
                ++e.failed;
                continue;
            }
            const double v = r.value.toDouble();
            e.min = e.count ? std::min(e.min, v) : v;
            e.max = e.count ? std::max(e.max, v) : v;
            e.sum += v;
            ++e.count;
            if (r.temperature.isValid()) {
                const double t = r.temperature.toDouble();
                e.tMin = e.tCount ? std::min(e.tMin, t) : t;
                e.tMax = e.tCount ? std::max(e.tMax, t) : t;
                e.tSum += t;
                ++e.tCount;
            }
        }
        return buckets;
    }

    static void expectSame(const std::vector<TrendBucket>& got, const std::map<qint64, Expected>& want)
    {
        ASSERT_EQ(got.size(), want.size());
        auto w = want.begin();
        for (const TrendBucket& b : got) {
            SCOPED_TRACE(b.bucket);
            ASSERT_EQ(b.bucket, w->first);
            const Expected& e = w->second;
            EXPECT_EQ(b.count, e.count);
            EXPECT_EQ(b.failed, e.failed);
            ASSERT_EQ(b.value.has_value(), e.count > 0);
            if (e.count > 0) {
                EXPECT_DOUBLE_EQ(b.value->min, e.min);
                EXPECT_DOUBLE_EQ(b.value->max, e.max);
                EXPECT_NEAR(b.value->mean, e.sum / double(e.count), 1e-9);
            }
            ASSERT_EQ(b.temperature.has_value(), e.tCount > 0);
            if (e.tCount > 0) {
                EXPECT_DOUBLE_EQ(b.temperature->min, e.tMin);
                EXPECT_DOUBLE_EQ(b.temperature->max, e.tMax);
                EXPECT_NEAR(b.temperature->mean, e.tSum / double(e.tCount), 1e-9);
            }
            ++w;
        }
    }

    QTemporaryDir dir;
    std::mt19937_64 random{20261209};
};

TEST_F(TrendQueryTest, EveryBucketMatchesADirectComputation)
{
    const qint64 start = history_test::utcMs("2026-11-01T00:00:00");
    std::vector<Reading> readings;
    for (int channel : {0, 1, 3}) {
        const auto some = randomReadings(channel, start, start + 86'400'000, 3000);
        readings.insert(readings.end(), some.begin(), some.end());
    }
    history_test::addReadings(path(), readings);
    history::ReadOnlyHistory history;
    ASSERT_EQ(history.open(path()), QString());
    // Periods that cut through the readings at odd places, with few and with many columns.
    const std::vector<TrendGrid> grids{{start, start + 86'400'000, 1200},
                                       {start + 3'333'333, start + 50'000'017, 97},
                                       {start + 1000, start + 7'201'000, 2500},
                                       {start - 86'400'000, start + 2 * 86'400'000, 31}};
    for (const TrendGrid& grid : grids) {
        for (int channel : {0, 1, 3}) {
            SCOPED_TRACE(testing::Message() << "channel " << channel << " columns " << grid.columns);
            const history::TrendBuckets got = history::queryTrendBuckets(history.database(), channel, grid);
            ASSERT_EQ(got.error, QString());
            EXPECT_LE(got.buckets.size(), std::size_t(grid.columns));
            expectSame(got.buckets, direct(readings, channel, grid));
            EXPECT_EQ(got.unit, QStringLiteral("pH"));
        }
    }
    // A channel without readings has no bucket, not empty ones.
    EXPECT_TRUE(history::queryTrendBuckets(history.database(), 2, grids[0]).buckets.empty());
}

TEST_F(TrendQueryTest, TheStartIsInTheEndIsOutAndEmptyColumnsAreAbsent)
{
    const qint64 from = history_test::utcMs("2026-12-01T00:00:00");
    const qint64 to = from + 3'600'000;
    {
        TestDatabase db(path());
        for (qint64 t : {from - 1, from, from + 1, to - 1, to, to + 1})
            db.add({t, 0, QStringLiteral("A"), QStringLiteral("pH"), true, double(t - from), QStringLiteral("pH"), {}, {}, {}, {}, {}, QStringLiteral("x")});
        // Two clusters with a long silence between them.
        for (int i = 0; i < 10; ++i) {
            db.add({from + 600'000 + i * 1000, 0, QStringLiteral("A"), QStringLiteral("pH"), true, 5.0, QStringLiteral("pH"), {}, {}, {}, {}, {}, QStringLiteral("x")});
            db.add({from + 3'000'000 + i * 1000, 0, QStringLiteral("A"), QStringLiteral("pH"), true, 6.0, QStringLiteral("pH"), {}, {}, {}, {}, {}, QStringLiteral("x")});
        }
    }
    history::ReadOnlyHistory history;
    ASSERT_EQ(history.open(path()), QString());
    const TrendGrid grid{from, to, 60}; // one bucket a minute
    const auto got = history::queryTrendBuckets(history.database(), 0, grid).buckets;
    std::vector<qint64> buckets;
    for (const TrendBucket& b : got)
        buckets.push_back(b.bucket);
    EXPECT_EQ(buckets, (std::vector<qint64>{0, 10, 50, 59}));
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got.front().count, 2);       // `from` and one after it; the one before is out
    EXPECT_DOUBLE_EQ(got.front().value->min, 0.0);
    EXPECT_EQ(got.back().count, 1);        // `to` - 1 only
    EXPECT_EQ(got.back().lastMs, to - 1);
    EXPECT_EQ(got[1].count, 10);
    EXPECT_DOUBLE_EQ(got[1].value->mean, 5.0);
    // The silence breaks the line; the readings a second apart do not.
    EXPECT_FALSE(history::joined(got[1], got[2], 30'000));

    // The arithmetic of the live buckets is the query's: each bucket starts where the query puts it.
    for (const TrendGrid& g : {grid, TrendGrid{from, from + 7919, 1201}, TrendGrid{from, from + 2'592'000'000, 1187}}) {
        for (qint64 t : {g.fromMs - 123'457, g.fromMs - 1, g.fromMs, g.fromMs + 1, g.toMs - 1, g.toMs, g.toMs + 99'999}) {
            const qint64 b = g.bucketOf(t);
            EXPECT_LE(g.bucketStartMs(b), t);
            EXPECT_GT(g.bucketStartMs(b + 1), t);
        }
    }
}

TEST_F(TrendQueryTest, LiveReadingsGiveTheBucketsAFreshQueryGives)
{
    const qint64 from = history_test::utcMs("2026-12-02T10:00:00");
    const qint64 to = from + 600'000;
    const TrendGrid grid{from, to, 77};
    std::vector<Reading> first = randomReadings(1, from, from + 300'000, 400);
    std::vector<Reading> later = randomReadings(1, from + 300'000, to, 400);
    std::sort(later.begin(), later.end(), [](const Reading& a, const Reading& b) { return a.timeMs < b.timeMs; });
    history_test::addReadings(path(), first);
    history::ReadOnlyHistory history;
    ASSERT_EQ(history.open(path()), QString());
    const std::optional<qint64> seen = history::lastReadingId(history.database());
    ASSERT_TRUE(seen.has_value());
    history::TrendSeries series(grid, history::queryTrendBuckets(history.database(), 1, grid).buckets);

    history_test::addReadings(path(), later);
    const history::TrendReadings fresh = history::queryReadingsAfter(history.database(), *seen, 10'000);
    ASSERT_EQ(fresh.error, QString());
    ASSERT_EQ(fresh.readings.size(), later.size());
    for (const history::TrendReading& r : fresh.readings)
        EXPECT_NE(series.add(r), history::TrendSeries::Change::None);

    std::vector<Reading> all = first;
    all.insert(all.end(), later.begin(), later.end());
    expectSame(series.buckets(), direct(all, 1, grid));
    // The bucket's time is the mean time of its readings with a value, as in the query.
    const auto again = history::queryTrendBuckets(history.database(), 1, grid).buckets;
    ASSERT_EQ(again.size(), series.buckets().size());
    for (std::size_t i = 0; i < again.size(); ++i)
        EXPECT_NEAR(double(series.buckets()[i].timeMs), double(again[i].timeMs), 1.0);

    // A reading older than the last bucket is refused: the chart stays in time order.
    history::TrendReading old;
    old.timeMs = from;
    old.ok = true;
    old.value = 1.0;
    EXPECT_EQ(series.add(old), history::TrendSeries::Change::None);

    // Dropping the start keeps exactly the buckets that end after the new start.
    const qint64 cut = from + 200'000;
    const std::size_t before = series.buckets().size();
    const std::size_t dropped = series.dropBefore(cut);
    EXPECT_EQ(series.buckets().size(), before - dropped);
    for (const TrendBucket& b : series.buckets())
        EXPECT_GT(grid.bucketStartMs(b.bucket + 1), cut);
    EXPECT_GT(dropped, 0u);
}

TEST_F(TrendQueryTest, AReadBesideAWriterHoldingTheLockAnswersAtOnce)
{
    {
        TestDatabase db(path());
        db.addSeries(0, history_test::utcMs("2026-12-03T00:00:00"), 100);
    }
    history_test::LockHolder writer(path());
    ASSERT_TRUE(writer.holding());
    history::ReadOnlyHistory history;
    ASSERT_EQ(history.open(path()), QString());
    const TrendGrid grid{history_test::utcMs("2026-12-03T00:00:00"), history_test::utcMs("2026-12-04T00:00:00"), 100};
    const auto got = history::queryTrendBuckets(history.database(), 0, grid);
    // A rollback journal with a writer in its transaction still lets readers in; either the
    // buckets come, or "busy" does, never a wrong answer.
    if (got.error.isEmpty())
        EXPECT_EQ(got.buckets.size(), 1u); // 100 s in a bucket of 864 s
    else
        EXPECT_TRUE(got.busy) << got.error.toStdString();
}

} // namespace

namespace {

void expectSameBuckets(const std::vector<TrendBucket>& a, const std::vector<TrendBucket>& b)
{
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(a[i].bucket);
        EXPECT_EQ(a[i].bucket, b[i].bucket);
        EXPECT_EQ(a[i].count, b[i].count);
        EXPECT_EQ(a[i].failed, b[i].failed);
        EXPECT_EQ(a[i].firstMs, b[i].firstMs);
        EXPECT_EQ(a[i].lastMs, b[i].lastMs);
        EXPECT_NEAR(double(a[i].timeMs), double(b[i].timeMs), 1.0);
        ASSERT_EQ(a[i].value.has_value(), b[i].value.has_value());
        if (a[i].value) {
            EXPECT_DOUBLE_EQ(a[i].value->min, b[i].value->min);
            EXPECT_DOUBLE_EQ(a[i].value->max, b[i].value->max);
            EXPECT_NEAR(a[i].value->mean, b[i].value->mean, 1e-9);
        }
        ASSERT_EQ(a[i].temperature.has_value(), b[i].temperature.has_value());
        if (a[i].temperature) {
            EXPECT_NEAR(a[i].temperature->mean, b[i].temperature->mean, 1e-9);
        }
    }
}

TEST_F(TrendQueryTest, LongPeriodsReadFromTheRecordersMinutesGiveTheBucketsOfTheReadings)
{
    // The real recorder: it sums every reading up in its minute as it writes it.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 from = now - 3 * 3'600'000;
    {
        history::Recorder::Options options;
        options.directory = dir.path();
        history::Recorder recorder(options);
        std::uniform_int_distribution<qint64> step(1'000, 70'000);
        qint64 time = from + 17'000;
        for (int cycle = 0; time < now - 60'000; ++cycle, time += step(random))
            ASSERT_TRUE(recorder.recordCycle(history_test::cycleReadings(cycle, 4, time)));
    }
    const TrendGrid grid = history::trendGridFor(from, now, 47); // 4-minute buckets
    ASSERT_EQ((grid.toMs - grid.fromMs) / grid.columns % 60'000, 0);
    ASSERT_LE(grid.columns, 47);

    history::ReadOnlyHistory history;
    ASSERT_EQ(history.open(path()), QString());
    const qint64 last = *history::lastReadingId(history.database());
    std::vector<std::vector<TrendBucket>> fromMinutes;
    std::vector<std::vector<TrendBucket>> withLaterRowsLeftOut;
    for (int channel = 0; channel < 4; ++channel) {
        fromMinutes.push_back(history::queryTrendBuckets(history.database(), channel, grid).buckets);
        withLaterRowsLeftOut.push_back(history::queryTrendBuckets(history.database(), channel, grid, last / 2).buckets);
    }
    history.close();

    // The same periods from the readings alone: without minutes, and then with the minutes the
    // upgrade of an older file sums up.
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("minutes-test"));
    db.setDatabaseName(path());
    ASSERT_TRUE(db.open());
    ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("DELETE FROM minutes")));
    for (int channel = 0; channel < 4; ++channel) {
        SCOPED_TRACE(channel);
        expectSameBuckets(history::queryTrendBuckets(db, channel, grid).buckets, fromMinutes[size_t(channel)]);
        expectSameBuckets(history::queryTrendBuckets(db, channel, grid, last / 2).buckets,
                          withLaterRowsLeftOut[size_t(channel)]);
    }
    ASSERT_TRUE(QSqlQuery(db).exec(QString::fromLatin1(history::kFillMinutes)));
    for (int channel = 0; channel < 4; ++channel)
        expectSameBuckets(history::queryTrendBuckets(db, channel, grid).buckets, fromMinutes[size_t(channel)]);
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("minutes-test"));
    EXPECT_GT(fromMinutes[0].size(), 30u);
    EXPECT_EQ(fromMinutes[3][0].count, 0); // channel 3 is "Out of order" throughout
    EXPECT_GT(fromMinutes[3][0].failed, 0);
}


// The failure band shows how much of each bucket failed: one failed reading among the many a bucket
// of a long period holds stays a hairline, a station down a whole day fills that day, and on a short
// period a single failed reading is a full band.
TEST(TrendFailures, TheBandIsAsHighAsTheShareOfReadingsThatFailed)
{
    constexpr qint64 kDay = 86'400'000;
    const qint64 start = 1'765'000'000'000 / kDay * kDay;
    struct Case {
        const char* name;
        qint64 spanMs;
        qint64 stepMs;        // one reading per step
        qint64 everyNth;      // each n-th reading failed (0: none) ...
        qint64 downFromMs;    // ... and every one in [downFromMs, downToMs)
        qint64 downToMs;
    };
    for (const Case& c : {Case{"one in 997 over 30 days", 30 * kDay, 10'000, 997, 0, 0},
                          Case{"down one day of 30", 30 * kDay, 10'000, 0, start + 5 * kDay, start + 6 * kDay},
                          Case{"one failure in an hour", 3'600'000, 5'000, 0, start + 600'000, start + 600'001}}) {
        SCOPED_TRACE(c.name);
        const TrendGrid grid = history::trendGridFor(start, start + c.spanMs, 1000);
        history::TrendSeries series(grid, {});
        for (qint64 i = 0, t = start; t < grid.toMs; ++i, t += c.stepMs) {
            const bool ok = !(c.everyNth > 0 && i % c.everyNth == 0) && !(t >= c.downFromMs && t < c.downToMs);
            series.add({i + 1, t, 0, ok, ok ? std::optional(7.0) : std::nullopt, {}, {}});
        }
        const qint64 bucketMs = (grid.toMs - grid.fromMs) / grid.columns;
        int full = 0;
        for (const history::FailureSpan& s : history::failureSpans(series.buckets(), grid, 3 * bucketMs)) {
            if (s.share == 1.0) {
                ++full; // the stretch down, to a bucket
                EXPECT_LE(std::abs(s.fromMs - c.downFromMs), bucketMs);
                EXPECT_LE(std::abs(s.toMs - c.downToMs), bucketMs);
            } else {
                // A hairline, or a bucket only partly down at an end of the stretch.
                EXPECT_TRUE(s.share < 0.01 || (s.toMs >= c.downFromMs && s.fromMs <= c.downToMs)) << s.share;
            }
        }
        EXPECT_EQ(full, c.downToMs > c.downFromMs ? 1 : 0);
    }
}

// Value ticks are round, no finer than the station's last digit, and a steady reading is not
// stretched over the whole height; numbers are written as the panel writes them.
TEST(TrendAxes, ValueTicksAreRoundWithTheStationsDigitsOverALeastSpan)
{
    struct Case {
        double lo, hi, minSpan;
        int digits;
        history::ValueTicks want;
    };
    for (const Case& c : {Case{6.843, 6.922, history::minimumSpan(QStringLiteral("pH"), 2), 2, {6.6, 7.2, 0.2, 1}},
                          Case{18.43, 18.47, history::minimumSpan(QStringLiteral("°C"), 1), 1, {17.5, 19.0, 0.5, 1}},
                          Case{96, 544, history::minimumSpan(QStringLiteral("m³/h"), 0), 0, {0, 600, 200, 0}},
                          Case{0.001, 0.002, 0, 2, {-0.01, 0.01, 0.01, 2}}}) {
        SCOPED_TRACE(testing::Message() << c.lo << ".." << c.hi);
        const history::ValueTicks got = history::valueTicks(c.lo, c.hi, c.minSpan, c.digits, 4);
        EXPECT_NEAR(got.from, c.want.from, 1e-9);
        EXPECT_NEAR(got.to, c.want.to, 1e-9);
        EXPECT_NEAR(got.step, c.want.step, 1e-9);
        EXPECT_EQ(got.decimals, c.want.decimals);
    }
    EXPECT_EQ(history::decimalsOf(QStringLiteral("7.23 pH")), 2);
    EXPECT_EQ(history::decimalsOf(QStringLiteral("2212 m³")), 0);
    EXPECT_EQ(history::decimalsOf(QStringLiteral("value as shown")), -1);
    EXPECT_EQ(history::panelNumber(2212.4, 0), QStringLiteral("2212"));
}

// Time ticks fall on round local times, once each, with the date where the period spans days.
TEST(TrendAxes, TimeTicksAreRoundTimesLabelledOnce)
{
    const auto at = [](const char* text) {
        return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).toMSecsSinceEpoch();
    };
    struct Case {
        const char* from;
        const char* to;
        int wanted;
        int offsetSeconds;
        QStringList labels;
    };
    for (const Case& c : {Case{"2026-12-09T13:11:05Z", "2026-12-10T13:11:05Z", 4, 0,
                               {"09/12 18:00", "10/12 00:00", "10/12 06:00", "10/12 12:00"}},
                          Case{"2026-12-10T12:24:10Z", "2026-12-10T12:26:10Z", 6, 0,
                               {"12:24:30", "12:25:00", "12:25:30", "12:26:00"}},
                          Case{"2026-12-10T09:00:00Z", "2026-12-10T10:00:00Z", 6, 3600,
                               {"10:00", "10:10", "10:20", "10:30", "10:40", "10:50"}}}) {
        SCOPED_TRACE(c.from);
        QStringList labels;
        for (const history::TimeTick& tick : history::timeTicks(at(c.from), at(c.to), c.wanted, c.offsetSeconds))
            labels << tick.label;
        EXPECT_EQ(labels, c.labels);
    }
}

// A chart is titled from what its readings were recorded as, and a change within the period shows.
TEST_F(TrendQueryTest, ChartLabelsComeFromTheRecordedReadings)
{
    const qint64 from = history_test::utcMs("2026-12-02T10:00:00");
    std::vector<Reading> readings;
    for (int i = 0; i < 20; ++i) {
        Reading r = history_test::goodReading(2, from + i * 60'000, 7.0);
        r.tag = i < 10 ? QStringLiteral("PH INLET") : QStringLiteral("O2 BASIN");
        r.type = i < 10 ? QStringLiteral("pH") : QStringLiteral("Oxygen");
        readings.push_back(r);
    }
    history_test::addReadings(path(), readings);
    history::ReadOnlyHistory history;
    ASSERT_EQ(history.open(path()), QString());
    const auto fields = [&](qint64 fromMs, qint64 toMs) {
        const history::RecordedLabel l = history::recordedLabel(history.database(), 2, fromMs, toMs);
        return QStringList{l.found ? "found" : "", l.tag, l.type, l.changed ? "changed" : "", l.earlierTag, l.earlierType};
    };
    EXPECT_EQ(fields(from, from + 600'000), QStringList({"found", "PH INLET", "pH", "", "", ""}));
    EXPECT_EQ(fields(from, from + 1'200'000), QStringList({"found", "O2 BASIN", "Oxygen", "changed", "PH INLET", "pH"}));
    EXPECT_EQ(fields(from + 1'200'000, from + 1'800'000), QStringList({"", "", "", "", "", ""}));
}

} // namespace
