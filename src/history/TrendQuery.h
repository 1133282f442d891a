#pragma once
// What the trend charts draw, read from "history.sqlite": the readings of one channel over a
// period, grouped into one bucket per pixel column, and the readings recorded since the last look.
// A chart never holds more points than it has pixel columns, whatever the period: a bucket that
// holds one reading is that reading, at its own time; a bucket of many is drawn as its mean with
// a band from its minimum to its maximum.

#include <QSqlDatabase>
#include <QString>

#include <limits>
#include <optional>
#include <vector>

namespace history {

// The period [fromMs, toMs) split into `columns` buckets of equal length.
struct TrendGrid {
    qint64 fromMs = 0;
    qint64 toMs = 0;
    int columns = 1;

    bool valid() const { return toMs > fromMs && columns > 0; }
    // The bucket of a time; times before fromMs give negative buckets, at or after toMs buckets
    // >= columns (the live charts go on counting past the end of the period they were read for).
    qint64 bucketOf(qint64 timeMs) const;
    // The first millisecond of a bucket.
    qint64 bucketStartMs(qint64 bucket) const;
};

// The grid the charts use for the period [fromMs, toMs) on at most `maxColumns` columns. Where a
// bucket spans a minute or more, the buckets are whole minutes from a whole minute (the grid may
// start a little before `fromMs` and end a little after `toMs`), so that long periods are read
// from the minute summaries of the history, exactly as from its readings.
TrendGrid trendGridFor(qint64 fromMs, qint64 toMs, int maxColumns);

// The statistics of one value over a bucket's readings that have it.
struct TrendStat {
    double min = 0;
    double max = 0;
    double mean = 0;
};

struct TrendBucket {
    qint64 bucket = 0;
    qint64 timeMs = 0;  // mean time of the bucket's readings with a value, else of all of them
    qint64 firstMs = 0; // first and last reading of the bucket, out-of-order ones included
    qint64 lastMs = 0;
    qint64 count = 0;  // readings with a value (ok = 1)
    qint64 failed = 0; // "Out of order" readings (ok = 0)
    std::optional<TrendStat> value;
    std::optional<TrendStat> temperature;
    std::optional<double> totalDay; // the last daily total of the bucket (flow)
};

struct TrendBuckets {
    QString error;     // empty when the query ran
    bool busy = false; // the file was locked by its writer: try again later
    std::vector<TrendBucket> buckets; // buckets with rows only, in order
    QString unit;                     // of the main value, from the latest reading with one
    int digits = -1;                  // the decimals that reading was shown with (-1: none read)
};

// One query over the channel's readings in the grid's period, grouped by bucket, leaving out rows
// after `maxId` (those the live view will read next). Buckets with no reading are absent. On a
// grid of whole-minute buckets, the minutes already summed up in the file are read from their
// summaries (the table `minutes`), the rest from the readings.
TrendBuckets queryTrendBuckets(const QSqlDatabase& db, int channel, const TrendGrid& grid,
                               qint64 maxId = std::numeric_limits<qint64>::max());
// The same over the part [sliceFromMs, sliceToMs) of the grid's period only. Slices that start
// and end on bucket starts give, one after the other, the buckets of the whole period: a long
// period is read in short steps that leave the interface (and the measurement) their turn.
TrendBuckets queryTrendBuckets(const QSqlDatabase& db, int channel, const TrendGrid& grid, qint64 maxId,
                               qint64 sliceFromMs, qint64 sliceToMs);

// What a channel's readings of a period were recorded as: the tag and type of its last reading, and
// those of its first where they differ (the channel was given another station or name within the
// period). A chart is titled from these rather than from today's configuration, which may have
// changed since.
struct RecordedLabel {
    bool found = false; // the period holds readings of the channel
    QString tag;
    QString type;
    bool changed = false;
    QString earlierTag;
    QString earlierType;
};

RecordedLabel recordedLabel(const QSqlDatabase& db, int channel, qint64 fromMs, qint64 toMs);

// A reading as the live charts receive it.
struct TrendReading {
    qint64 id = 0;
    qint64 timeMs = 0;
    int channel = 0;
    bool ok = false;
    std::optional<double> value;
    std::optional<double> temperature;
    std::optional<double> totalDay;
};

struct TrendReadings {
    QString error;
    bool busy = false;
    std::vector<TrendReading> readings; // in id order
};

// The readings recorded after the row `afterId`, at most `limit` of them.
TrendReadings queryReadingsAfter(const QSqlDatabase& db, qint64 afterId, int limit);
// The highest row id of the file (0 when empty), or nullopt on an error.
std::optional<qint64> lastReadingId(const QSqlDatabase& db, bool* busy = nullptr);

// The buckets of one channel as the chart shows them, kept up to date by the live readings.
class TrendSeries {
public:
    TrendSeries() = default;
    TrendSeries(TrendGrid grid, std::vector<TrendBucket> buckets);

    const TrendGrid& grid() const { return grid_; }
    const std::vector<TrendBucket>& buckets() const { return buckets_; }

    enum class Change { None, Appended, Updated };
    // Adds a reading: a new bucket at the end, or the last bucket updated when the reading falls
    // into it. A reading older than the last bucket changes nothing (the clock of the recorder
    // went back): the chart stays ordered in time.
    Change add(const TrendReading& reading);
    // Drops the buckets that end at or before `fromMs`; returns how many went. A bucket the period
    // still reaches into stays: the first bucket of a long period starts at the whole minute before
    // the period, and a live chart would otherwise lose its first column at the first tick.
    std::size_t dropBefore(qint64 fromMs);

private:
    struct Sums {
        double value = 0;
        double temperature = 0;
        qint64 temperatureCount = 0;
        double time = 0;
        qint64 timeCount = 0;
    };
    static Sums sumsOf(const TrendBucket& bucket);

    TrendGrid grid_;
    std::vector<TrendBucket> buckets_;
    Sums last_; // running sums of the last bucket, for its means
};

// Whether two buckets that follow each other on a chart are joined by the line: not across a
// bucket without values, nor across a stretch without readings longer than `maxGapMs` (the
// measurement was stopped).
bool joined(const TrendBucket& before, const TrendBucket& after, qint64 maxGapMs);

// A stretch of a chart's failure band: [fromMs, toMs) and the share of its readings that were
// "Out of order" (1: the station gave nothing). The band is drawn as high as the share, so that one
// failed reading among the thousands a bucket of a long period holds stays a hairline and a station
// down for a day fills that day.
struct FailureSpan {
    qint64 fromMs = 0;
    qint64 toMs = 0;
    double share = 0;
};

// The failure band of `buckets` on `grid`: a span per bucket with failures, and one span over
// buckets that failed whole one after the other (the empty buckets between them included), unless
// a silence longer than `maxGapMs` parts them (the measurement may have been stopped).
std::vector<FailureSpan> failureSpans(const std::vector<TrendBucket>& buckets, const TrendGrid& grid, qint64 maxGapMs);

} // namespace history
