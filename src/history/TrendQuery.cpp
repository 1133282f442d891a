#include "history/TrendQuery.h"

#include "history/TrendAxes.h"

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


constexpr qint64 kMinuteMs = 60000;

// The buckets of the table `minutes`, in the columns of kBucketQuery: a bucket of whole minutes
// holds whole minutes only, so that this gives exactly what the readings give.
const QString kMinuteBucketQuery = QStringLiteral(
    "SELECT (minute * 60000 - ?) * ? / (?) AS bucket,"
    " SUM(ok_count), SUM(failed),"
    " MIN(value_min), MAX(value_max), SUM(value_sum) / SUM(value_count),"
    " MIN(temp_min), MAX(temp_max), SUM(temp_sum) / SUM(temp_count),"
    " MIN(first_ms), MAX(last_ms), SUM(ok_time_sum) * 1.0 / SUM(ok_count), SUM(time_sum) * 1.0 / SUM(ok_count + failed),"
    " MAX(total_ms)"
    " FROM minutes WHERE channel = ? AND minute >= ? AND minute < ?"
    " GROUP BY bucket ORDER BY bucket");

void setError(TrendBuckets& result, const QSqlError& error)
{
    result.busy = isBusy(error);
    result.error = error.text();
    result.buckets.clear();
}

// True when every bucket of the grid is a whole number of minutes from a whole minute.
bool wholeMinuteBuckets(const TrendGrid& grid)
{
    const qint64 span = grid.toMs - grid.fromMs;
    return grid.fromMs % kMinuteMs == 0 && span % grid.columns == 0 && (span / grid.columns) % kMinuteMs == 0;
}

// True when the channel's minutes have taken in its latest reading: the recorder keeps them in
// the readings' own transaction, but a file written by an older version, or by hand, may have
// readings without them. Then the readings alone are read.
bool minutesAreCurrent(const QSqlDatabase& db, int channel)
{
    QSqlQuery latest(db);
    latest.prepare(QStringLiteral("SELECT id FROM readings WHERE channel = ? ORDER BY time_ms DESC, id DESC LIMIT 1"));
    latest.addBindValue(channel);
    QSqlQuery summed(db);
    summed.prepare(QStringLiteral("SELECT max_id FROM minutes WHERE channel = ? ORDER BY minute DESC LIMIT 1"));
    summed.addBindValue(channel);
    return latest.exec() && latest.next() && summed.exec() && summed.next()
        && latest.value(0).toLongLong() == summed.value(0).toLongLong();
}

// Two parts of one bucket (read from the minutes and from the readings) as one.
void mergeInto(TrendBucket& into, const TrendBucket& more)
{
    const auto mergeStat = [&](std::optional<TrendStat>& a, const std::optional<TrendStat>& b) {
        if (!b)
            return;
        if (!a) {
            a = b;
            return;
        }
        const double weight = double(into.count) + double(more.count);
        const double mean = weight > 0 ? (a->mean * double(into.count) + b->mean * double(more.count)) / weight
                                       : (a->mean + b->mean) / 2;
        a = TrendStat{std::min(a->min, b->min), std::max(a->max, b->max), mean};
    };
    mergeStat(into.value, more.value);
    mergeStat(into.temperature, more.temperature);
    const qint64 intoWeight = into.count > 0 || more.count > 0 ? into.count : into.count + into.failed;
    const qint64 moreWeight = into.count > 0 || more.count > 0 ? more.count : more.count + more.failed;
    if (intoWeight + moreWeight > 0)
        into.timeMs = qint64(std::llround((double(into.timeMs) * double(intoWeight) + double(more.timeMs) * double(moreWeight))
                                          / double(intoWeight + moreWeight)));
    into.firstMs = std::min(into.firstMs, more.firstMs);
    into.lastMs = std::max(into.lastMs, more.lastMs);
    into.count += more.count;
    into.failed += more.failed;
}

// Reads the rows of a bucket query into `result`; a bucket that continues the last one is merged
// with it. False, with the error set, when the query failed.
bool collectBuckets(QSqlQuery& query, TrendBuckets& result, std::vector<std::pair<qint64, qint64>>& totalTimes)
{
    if (query.lastError().isValid()) {
        setError(result, query.lastError());
        return false;
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
        if (!result.buckets.empty() && result.buckets.back().bucket == b.bucket)
            mergeInto(result.buckets.back(), b);
        else
            result.buckets.push_back(std::move(b));
    }
    if (query.lastError().isValid()) {
        setError(result, query.lastError());
        return false;
    }
    return true;
}

} // namespace

TrendGrid trendGridFor(qint64 fromMs, qint64 toMs, int maxColumns)
{
    const qint64 span = toMs - fromMs;
    maxColumns = std::max(1, maxColumns);
    if (span <= 0 || span / maxColumns < kMinuteMs)
        return {fromMs, toMs, maxColumns};
    // Buckets of whole minutes from a whole minute: the smallest whole number of minutes that
    // keeps the buckets within the columns; the grid may end a little after `toMs`.
    const qint64 start = fromMs - (((fromMs % kMinuteMs) + kMinuteMs) % kMinuteMs);
    const qint64 total = toMs - start;
    const qint64 bucketMs = (total + qint64(maxColumns) * kMinuteMs - 1) / (qint64(maxColumns) * kMinuteMs) * kMinuteMs;
    const qint64 columns = (total + bucketMs - 1) / bucketMs;
    return {start, start + columns * bucketMs, int(columns)};
}

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
    const qint64 from = std::max(grid.fromMs, sliceFromMs);
    const qint64 to = std::min(grid.toMs, sliceToMs);
    std::vector<std::pair<qint64, qint64>> totalTimes; // bucket, time of its last daily total
    qint64 readingsFrom = from;
    // Whole minutes come from their summaries, up to the first minute that holds a reading the
    // live view has not read yet (it adds those itself); the rest from the readings.
    if (wholeMinuteBuckets(grid) && from % kMinuteMs == 0 && to % kMinuteMs == 0 && minutesAreCurrent(db, channel)) {
        qint64 cut = to / kMinuteMs;
        {
            QSqlQuery query(db);
            query.prepare(QStringLiteral("SELECT MIN(minute) FROM minutes WHERE channel = ? AND minute >= ?"
                                         " AND minute < ? AND max_id > ?"));
            query.addBindValue(channel);
            query.addBindValue(from / kMinuteMs);
            query.addBindValue(to / kMinuteMs);
            query.addBindValue(maxId);
            if (query.exec() && query.next() && !query.value(0).isNull())
                cut = query.value(0).toLongLong();
        }
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.prepare(kMinuteBucketQuery)) {
            setError(result, query.lastError());
            return result;
        }
        query.bindValue(0, grid.fromMs);
        query.bindValue(1, grid.columns);
        query.bindValue(2, grid.toMs - grid.fromMs);
        query.bindValue(3, channel);
        query.bindValue(4, from / kMinuteMs);
        query.bindValue(5, cut);
        query.exec();
        if (!collectBuckets(query, result, totalTimes))
            return result;
        readingsFrom = std::max(from, cut * kMinuteMs);
    }
    if (readingsFrom < to) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.prepare(kBucketQuery)) {
            setError(result, query.lastError());
            return result;
        }
        query.bindValue(QStringLiteral(":from"), grid.fromMs);
        query.bindValue(QStringLiteral(":columns"), grid.columns);
        query.bindValue(QStringLiteral(":span"), grid.toMs - grid.fromMs);
        query.bindValue(QStringLiteral(":channel"), channel);
        query.bindValue(QStringLiteral(":from2"), readingsFrom);
        query.bindValue(QStringLiteral(":to"), to);
        query.bindValue(QStringLiteral(":maxId"), maxId);
        query.exec();
        if (!collectBuckets(query, result, totalTimes))
            return result;
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
        query.prepare(QStringLiteral("SELECT unit, text FROM readings WHERE channel = ? AND time_ms < ? AND ok = 1"
                                     " ORDER BY time_ms DESC LIMIT 1"));
        query.addBindValue(channel);
        query.addBindValue(std::min(grid.toMs, sliceToMs));
        if (query.exec() && query.next()) {
            result.unit = query.value(0).toString();
            result.digits = decimalsOf(query.value(1).toString());
        }
    }
    return result;
}

RecordedLabel recordedLabel(const QSqlDatabase& db, int channel, qint64 fromMs, qint64 toMs)
{
    // The first and the last reading of the period, each one step down the (channel, time) index.
    const auto end = [&](const char* order) -> std::optional<std::pair<QString, QString>> {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT tag, type FROM readings WHERE channel = ? AND time_ms >= ? AND time_ms < ?"
                                     " ORDER BY time_ms %1 LIMIT 1").arg(QLatin1String(order)));
        query.addBindValue(channel);
        query.addBindValue(fromMs);
        query.addBindValue(toMs);
        if (!query.exec() || !query.next())
            return std::nullopt;
        return std::pair{query.value(0).toString().trimmed(), query.value(1).toString().trimmed()};
    };
    RecordedLabel label;
    const auto last = end("DESC");
    if (!last)
        return label;
    label.found = true;
    label.tag = last->first;
    label.type = last->second;
    if (const auto first = end("ASC"); first && first != last) {
        label.changed = true;
        label.earlierTag = first->first;
        label.earlierType = first->second;
    }
    return label;
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
                                   [&](const TrendBucket& b) { return grid_.bucketStartMs(b.bucket + 1) > fromMs; });
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

std::vector<FailureSpan> failureSpans(const std::vector<TrendBucket>& buckets, const TrendGrid& grid, qint64 maxGapMs)
{
    std::vector<FailureSpan> spans;
    const TrendBucket* last = nullptr; // the last bucket of the open span
    for (const TrendBucket& b : buckets) {
        if (b.failed <= 0) {
            last = nullptr;
            continue;
        }
        const double share = double(b.failed) / double(b.failed + b.count);
        const bool whole = b.count == 0;
        if (last && whole && last->count == 0 && b.firstMs - last->lastMs <= maxGapMs) {
            spans.back().toMs = grid.bucketStartMs(b.bucket + 1);
        } else {
            spans.push_back({grid.bucketStartMs(b.bucket), grid.bucketStartMs(b.bucket + 1), share});
        }
        last = &b;
    }
    return spans;
}

} // namespace history
