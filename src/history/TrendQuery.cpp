#include "history/TrendQuery.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cmath>

namespace history {

namespace {

// SQLite reports a file locked by its writer as "database is locked" (SQLITE_BUSY, 5) or, for a
// table, SQLITE_LOCKED (6): both mean "later", not "broken".
bool isBusy(const QSqlError& error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6") ||
           error.text().contains(QLatin1String("locked"), Qt::CaseInsensitive);
}

std::optional<double> numberOf(const QVariant& v)
{
    if (v.isNull())
        return std::nullopt;
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return std::nullopt;
    return d;
}

std::optional<TrendStat> statOf(const QVariant& min, const QVariant& max, const QVariant& mean)
{
    const auto lo = numberOf(min);
    const auto hi = numberOf(max);
    const auto avg = numberOf(mean);
    if (!lo || !hi || !avg)
        return std::nullopt;
    return TrendStat{*lo, *hi, *avg};
}

// One bucket per pixel column. The bucket is computed in SQL with integer arithmetic, exactly as
// TrendGrid::bucketOf does it, so that the live readings land in the same buckets. Only readings
// with ok = 1 carry values: the CASE expressions leave the others out of MIN, MAX and AVG, and
// count them apart as failures. The daily total is the one of the bucket's last reading.
const QString kBucketQuery = QStringLiteral(
    "SELECT (time_ms - :from) * :columns / (:span) AS bucket,"
    " COUNT(CASE WHEN ok = 1 THEN 1 END),"
    " SUM(CASE WHEN ok = 1 THEN 0 ELSE 1 END),"
    " MIN(CASE WHEN ok = 1 THEN value END), MAX(CASE WHEN ok = 1 THEN value END), AVG(CASE WHEN ok = 1 THEN value END),"
    " MIN(CASE WHEN ok = 1 THEN temperature END), MAX(CASE WHEN ok = 1 THEN temperature END),"
    " AVG(CASE WHEN ok = 1 THEN temperature END),"
    " MIN(time_ms), MAX(time_ms), AVG(CASE WHEN ok = 1 THEN time_ms END), AVG(time_ms),"
    " MAX(CASE WHEN ok = 1 AND total_day IS NOT NULL THEN time_ms END)"
    " FROM readings WHERE channel = :channel AND time_ms >= :from2 AND time_ms < :to AND id <= :maxId"
    " GROUP BY bucket ORDER BY bucket");

} // namespace

qint64 TrendGrid::bucketOf(qint64 timeMs) const
{
    const qint64 span = toMs - fromMs;
    // A time stamp far off (a clock gone wrong) must not overflow the products below.
    constexpr qint64 kFar = qint64(1) << 40;
    const qint64 offset = std::clamp(timeMs - fromMs, -kFar, kFar);
    // Floor division, so that times before the start give negative buckets.
    const qint64 scaled = offset * columns;
    return scaled >= 0 ? scaled / span : -((-scaled + span - 1) / span);
}

qint64 TrendGrid::bucketStartMs(qint64 bucket) const
{
    // The smallest time t with bucketOf(t) == bucket.
    const qint64 span = toMs - fromMs;
    const qint64 scaled = bucket * span;
    const qint64 offset = scaled >= 0 ? (scaled + columns - 1) / columns : -((-scaled) / columns);
    return fromMs + offset;
}

TrendBuckets queryTrendBuckets(const QSqlDatabase& db, int channel, const TrendGrid& grid, qint64 maxId)
{
    return queryTrendBuckets(db, channel, grid, maxId, grid.fromMs, grid.toMs);
}

TrendBuckets queryTrendBuckets(const QSqlDatabase& db, int channel, const TrendGrid& grid, qint64 maxId,
                               qint64 sliceFromMs, qint64 sliceToMs)
{
    TrendBuckets result;
    if (!grid.valid()) {
        result.error = QStringLiteral("The period is empty.");
        return result;
    }
    std::vector<std::pair<qint64, qint64>> totalTimes; // bucket, time of its last daily total
    {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.prepare(kBucketQuery)) {
            result.busy = isBusy(query.lastError());
            result.error = query.lastError().text();
            return result;
        }
        query.bindValue(QStringLiteral(":from"), grid.fromMs);
        query.bindValue(QStringLiteral(":columns"), grid.columns);
        query.bindValue(QStringLiteral(":span"), grid.toMs - grid.fromMs);
        query.bindValue(QStringLiteral(":channel"), channel);
        query.bindValue(QStringLiteral(":from2"), std::max(grid.fromMs, sliceFromMs));
        query.bindValue(QStringLiteral(":to"), std::min(grid.toMs, sliceToMs));
        query.bindValue(QStringLiteral(":maxId"), maxId);
        if (!query.exec()) {
            result.busy = isBusy(query.lastError());
            result.error = query.lastError().text();
            return result;
        }
        while (query.next()) {
            TrendBucket b;
            b.bucket = query.value(0).toLongLong();
            b.count = query.value(1).toLongLong();
            b.failed = query.value(2).toLongLong();
            b.value = statOf(query.value(3), query.value(4), query.value(5));
            b.temperature = statOf(query.value(6), query.value(7), query.value(8));
            b.firstMs = query.value(9).toLongLong();
            b.lastMs = query.value(10).toLongLong();
            const QVariant okTime = query.value(11);
            b.timeMs = qint64(std::llround(okTime.isNull() ? query.value(12).toDouble() : okTime.toDouble()));
            if (!query.value(13).isNull())
                totalTimes.emplace_back(b.bucket, query.value(13).toLongLong());
            result.buckets.push_back(std::move(b));
        }
        if (query.lastError().isValid()) {
            result.busy = isBusy(query.lastError());
            result.error = query.lastError().text();
            result.buckets.clear();
            return result;
        }
    }
    // The daily totals, only for the channels that have them (a flow station), one indexed
    // look-up per bucket: they are few, and only the last one of each bucket is wanted.
    if (!totalTimes.empty()) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT total_day FROM readings WHERE channel = ? AND time_ms = ? AND ok = 1"
                                     " AND total_day IS NOT NULL LIMIT 1"));
        auto bucket = result.buckets.begin();
        for (const auto& [index, timeMs] : totalTimes) {
            while (bucket != result.buckets.end() && bucket->bucket < index)
                ++bucket;
            if (bucket == result.buckets.end())
                break;
            query.addBindValue(channel);
            query.addBindValue(timeMs);
            if (query.exec() && query.next())
                bucket->totalDay = numberOf(query.value(0));
            query.finish();
        }
    }
    {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT unit FROM readings WHERE channel = ? AND time_ms < ? AND ok = 1"
                                     " ORDER BY time_ms DESC LIMIT 1"));
        query.addBindValue(channel);
        query.addBindValue(std::min(grid.toMs, sliceToMs));
        if (query.exec() && query.next())
            result.unit = query.value(0).toString();
    }
    return result;
}

TrendReadings queryReadingsAfter(const QSqlDatabase& db, qint64 afterId, int limit)
{
    TrendReadings result;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT id, time_ms, channel, ok, value, temperature, total_day FROM readings"
                                      " WHERE id > ? ORDER BY id LIMIT ?"))) {
        result.busy = isBusy(query.lastError());
        result.error = query.lastError().text();
        return result;
    }
    query.addBindValue(afterId);
    query.addBindValue(limit);
    if (!query.exec()) {
        result.busy = isBusy(query.lastError());
        result.error = query.lastError().text();
        return result;
    }
    while (query.next()) {
        TrendReading r;
        r.id = query.value(0).toLongLong();
        r.timeMs = query.value(1).toLongLong();
        r.channel = query.value(2).toInt();
        r.ok = query.value(3).toInt() == 1;
        if (r.ok) {
            r.value = numberOf(query.value(4));
            r.temperature = numberOf(query.value(5));
            r.totalDay = numberOf(query.value(6));
        }
        result.readings.push_back(r);
    }
    if (query.lastError().isValid()) {
        result.busy = isBusy(query.lastError());
        result.error = query.lastError().text();
        result.readings.clear();
    }
    return result;
}

std::optional<qint64> lastReadingId(const QSqlDatabase& db, bool* busy)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT MAX(id) FROM readings")) || !query.next()) {
        if (busy)
            *busy = isBusy(query.lastError());
        return std::nullopt;
    }
    return query.value(0).isNull() ? 0 : query.value(0).toLongLong();
}

TrendSeries::TrendSeries(TrendGrid grid, std::vector<TrendBucket> buckets)
    : grid_(grid)
    , buckets_(std::move(buckets))
{
    if (!buckets_.empty())
        last_ = sumsOf(buckets_.back());
}

TrendSeries::Sums TrendSeries::sumsOf(const TrendBucket& b)
{
    Sums sums;
    if (b.value)
        sums.value = b.value->mean * double(b.count);
    // The temperature may be missing on some readings of the bucket; its mean is taken as if it
    // were on all of them that have a value, which is how the stations report it.
    if (b.temperature) {
        sums.temperatureCount = b.count;
        sums.temperature = b.temperature->mean * double(b.count);
    }
    sums.timeCount = b.count > 0 ? b.count : b.failed;
    sums.time = double(b.timeMs) * double(sums.timeCount);
    return sums;
}

TrendSeries::Change TrendSeries::add(const TrendReading& r)
{
    const qint64 bucket = grid_.bucketOf(r.timeMs);
    const bool hasValue = r.ok && r.value.has_value();
    if (!buckets_.empty() && bucket < buckets_.back().bucket)
        return Change::None;
    const bool fresh = buckets_.empty() || bucket > buckets_.back().bucket;
    if (fresh) {
        TrendBucket b;
        b.bucket = bucket;
        b.firstMs = b.lastMs = b.timeMs = r.timeMs;
        buckets_.push_back(b);
        last_ = {};
    }
    TrendBucket& b = buckets_.back();
    b.firstMs = std::min(b.firstMs, r.timeMs);
    b.lastMs = std::max(b.lastMs, r.timeMs);
    if (hasValue) {
        const double v = *r.value;
        // The bucket's time is the mean time of its readings with a value: failures alone do
        // not move it once it has one.
        if (b.count == 0) {
            last_.time = 0;
            last_.timeCount = 0;
        }
        ++b.count;
        last_.value += v;
        b.value = b.value ? TrendStat{std::min(b.value->min, v), std::max(b.value->max, v), 0} : TrendStat{v, v, 0};
        b.value->mean = last_.value / double(b.count);
        if (r.temperature) {
            const double t = *r.temperature;
            ++last_.temperatureCount;
            last_.temperature += t;
            b.temperature = b.temperature ? TrendStat{std::min(b.temperature->min, t), std::max(b.temperature->max, t), 0}
                                          : TrendStat{t, t, 0};
            b.temperature->mean = last_.temperature / double(last_.temperatureCount);
        }
        if (r.totalDay)
            b.totalDay = r.totalDay;
        last_.time += double(r.timeMs);
        ++last_.timeCount;
    } else {
        ++b.failed;
        if (b.count == 0) {
            last_.time += double(r.timeMs);
            ++last_.timeCount;
        }
    }
    b.timeMs = qint64(std::llround(last_.time / double(std::max<qint64>(1, last_.timeCount))));
    return fresh ? Change::Appended : Change::Updated;
}

std::size_t TrendSeries::dropBefore(qint64 fromMs)
{
    const auto keep = std::find_if(buckets_.begin(), buckets_.end(),
                                   [&](const TrendBucket& b) { return grid_.bucketStartMs(b.bucket) >= fromMs; });
    const auto gone = std::size_t(keep - buckets_.begin());
    buckets_.erase(buckets_.begin(), keep);
    if (buckets_.empty())
        last_ = {};
    return gone;
}

bool joined(const TrendBucket& before, const TrendBucket& after, qint64 maxGapMs)
{
    if (before.count == 0 || after.count == 0)
        return false;
    return after.firstMs - before.lastMs <= maxGapMs;
}

} // namespace history
