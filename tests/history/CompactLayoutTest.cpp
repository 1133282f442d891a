// The compact layout against real files: what the recorder writes comes back from the `readings`
// view exactly, and files of every earlier layout, made by the sqlite3 shell, are converted with
// their rows, minutes, trends and export unchanged.

#include "config/MeasurementTypes.h"
#include "history/Export.h"
#include "history/HistorySchema.h"
#include "history/LayoutConversion.h"
#include "history/Recorder.h"
#include "history/TrendQuery.h"
#include "measure/ValueText.h"

#include "HistoryFiles.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using history_test::queryValue;

namespace {

// Every row of `sql` as text, with the storage type of every column (a REAL 7.0 is no 7).
QStringList dump(const QString& path, const QString& sql)
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dump"));
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open());
        QSqlQuery query(db);
        EXPECT_TRUE(query.exec(sql)) << sql.toStdString();
        while (query.next()) {
            QString row;
            for (int i = 0; i < query.record().count(); ++i)
                row += query.value(i).toString() + (query.isNull(i) ? QStringLiteral("~") : QString()) + u'|';
            rows << row;
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("dump"));
    return rows;
}

// The layout before `outcome` is read without it.
QString allReadings(int layout)
{
    return QStringLiteral("SELECT id, time_ms, channel, tag, type, ok, value, unit, temperature, value2, unit2, total_day,"
                          " total, text, %1 typeof(value), typeof(temperature), typeof(value2), typeof(total_day),"
                          " typeof(total) FROM readings ORDER BY id")
        .arg(layout == 1 ? QString() : QStringLiteral("outcome,"));
}

// A station's values of every kind, raw as the readers decode them, range codes past the tables included.
measure::StationValues stationValues(QRandomGenerator& random)
{
    const auto raw = [&](int limit) { return double(random.bounded(limit)) - (random.bounded(8) == 0 ? limit / 2 : 0); };
    const auto code = [&](int limit) { return double(random.bounded(limit)); };
    measure::StationValues v;
    std::tie(v.FlowRate, v.FlowRange, v.FlowTotal1, v.FlowTotal2, v.PhValue, v.OrpMillivolts, v.ConductivityRaw,
             v.ConductivityRange, v.ResistivityRaw, v.ResistivityRange, v.Temperature, v.SecondResistivityRaw, v.OxygenRaw,
             v.OxygenUnit, v.ChlorineValue) =
        std::tuple(raw(65536), code(6) * 10, code(99999999), code(99999999), raw(1400) / 100, raw(2000), raw(20000),
                   code(7), raw(20000), code(9), raw(1000) / 10, raw(5000), raw(20000), code(4), raw(5000) / 1000);
    if (random.bounded(5) == 0)
        v.FlowTotal1.reset(); // digits that were no number
    for (auto [rawField, decimalCode, unit] : {std::tuple{&v.TurbidityRaw, &v.TurbidityDecimalCode, &v.TurbidityUnit},
                                        std::tuple{&v.Model381Raw, &v.Model381DecimalCode, &v.Model381Unit},
                                        std::tuple{&v.Model452Raw, &v.Model452DecimalCode, &v.Model452Unit}}) {
        *rawField = raw(30000);
        *decimalCode = code(6);
        *unit = random.bounded(2) ? QStringLiteral("NTU") : QStringLiteral("% ppm");
    }
    return v;
}

TEST(CompactLayout, EveryStationTypeAndFailureComesBackFromTheViewExactly)
{
    QTemporaryDir dir;
    QRandomGenerator random(24);
    std::vector<measure::Reading> recorded;
    {
        history::Recorder::Options options;
        options.directory = dir.path();
        history::Recorder recorder(options);
        for (int cycle = 0; cycle < 400; ++cycle) {
            std::vector<measure::Reading> readings;
            for (int type = 0; type < config::kMeasurementTypeCount; ++type) {
                measure::StationValues values = stationValues(random);
                measure::Reading r;
                r.timeMs = 1796000000000 + cycle * 1000 + type;
                r.channel = type % 4;
                r.tag = QStringLiteral("Input %1").arg(type % 4);
                r.typeName = QStringLiteral("type %1").arg(type);
                r.ok = random.bounded(10) != 0;
                r.outcome = r.ok ? diagnostics::Outcome::value() : diagnostics::Outcome::exception(2);
                r.shown = r.ok ? measure::FormatChannelReading(static_cast<int16_t>(type), values)
                               : measure::ShownValue(measure::kOutOfOrder);
                // A reader that gives a text alone, with numbers the text does not show.
                if (type == 0 && cycle % 7 == 0)
                    r.shown = measure::ShownValue(QStringLiteral("%1 \u00B0C, \"x\"").arg(cycle));
                readings.push_back(r);
            }
            recorded.insert(recorded.end(), readings.begin(), readings.end());
            ASSERT_TRUE(recorder.recordCycle(std::move(readings)));
        }
    }
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("view"));
    db.setDatabaseName(path);
    ASSERT_TRUE(db.open());
    {
        QSqlQuery query(db);
        ASSERT_TRUE(query.exec(QStringLiteral("SELECT %1 FROM readings ORDER BY id").arg(QLatin1String(history::kReadingColumns))));
        for (const measure::Reading& r : recorded) {
            ASSERT_TRUE(query.next());
            const measure::Reading b = history::readingAt(query);
            // Bit for bit, texts and units included (a failure keeps no numbers).
            const measure::ShownValue none;
            const measure::ShownValue& w = r.ok ? r.shown : none;
            EXPECT_EQ(std::tie(b.timeMs, b.tag, b.typeName, b.ok, b.shown.text, b.shown.value, b.shown.unit, b.shown.temperature,
                               b.shown.value2, b.shown.unit2, b.shown.totalDay, b.shown.total),
                      std::tie(r.timeMs, r.tag, r.typeName, r.ok, r.shown.text, w.value, w.unit, w.temperature, w.value2,
                               w.unit2, w.totalDay, w.total));
            EXPECT_EQ(b.outcome.code(), r.outcome.code());
        }
        EXPECT_FALSE(query.next());
    }
    // Texts kept: those a format does not give back (the random range codes and totals above make
    // many more of them than a station does).
    const qint64 kept = queryValue(path, QStringLiteral("SELECT count(text) FROM samples")).toLongLong();
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, qint64(recorded.size()) / 4);
    db.close();
}

// The first layout and what each later one added, as the program of that layout created them.
const char* const kLayouts[] = {
    "CREATE TABLE readings (id INTEGER PRIMARY KEY, time_ms INTEGER NOT NULL, channel INTEGER NOT NULL, tag TEXT NOT NULL,"
    " type TEXT NOT NULL, ok INTEGER NOT NULL, value REAL, unit TEXT, temperature REAL, value2 REAL, unit2 TEXT,"
    " total_day REAL, total REAL, text TEXT NOT NULL);"
    "CREATE INDEX readings_channel_time ON readings (channel, time_ms);",
    "ALTER TABLE readings ADD COLUMN outcome TEXT;",
    "", // the minutes (kCreateMinutes and kFillMinutes)
    "CREATE TABLE mqtt_acked (destination TEXT NOT NULL, first_id INTEGER NOT NULL, last_id INTEGER NOT NULL,"
    " PRIMARY KEY (destination, first_id)) WITHOUT ROWID; INSERT INTO mqtt_acked VALUES ('b:1883 s json', 1, 700);",
    "", // the alarms
};

// Six hours of four inputs every 10 s: texts made from the numbers, texts that are not, failures.
constexpr char kReadings[] =
    "WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i < 2159),"
    " r AS (SELECT i, c, CAST(printf('%.2f', 7 + (i % 90) / 33.0) AS REAL) AS v FROM s,"
    " (SELECT 0 AS c UNION ALL SELECT 1 UNION ALL SELECT 2 UNION ALL SELECT 3))"
    " INSERT INTO readings (time_ms, channel, tag, type, ok, value, unit, temperature, total_day, total, text)"
    " SELECT 1796000000000 + i * 10000 + c * 40, c, 'T' || c, 'pH', i % 13 <> 3,"
    " CASE WHEN i % 13 <> 3 THEN v END, 'pH', CASE WHEN c < 2 AND i % 13 <> 3 THEN 18.5 END,"
    " CASE WHEN c = 2 THEN i * 0.5 END, CASE WHEN c = 2 THEN 10000 + i END,"
    " CASE WHEN i % 13 = 3 THEN 'Out of order' WHEN c = 0 THEN printf('%.2f pH     18.5  °C', v)"
    " WHEN c = 1 THEN printf('%.2f pH %d', v, i) ELSE printf('%.2f pH', v) END FROM r ORDER BY i, c;";

void sqlite3Shell(const QString& path, const QString& sql)
{
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {path, sql});
    ASSERT_TRUE(shell.waitForFinished(60000));
    ASSERT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
}

void makeLayout(const QString& path, int layout)
{
    QString sql;
    for (int i = 0; i < layout; ++i)
        sql += QString::fromLatin1(i == 2 ? history::kCreateMinutes : i == 4 ? history::kCreateAlarms : kLayouts[i]) + u';';
    sql += QString::fromLatin1(kReadings);
    if (layout >= 2)
        sql += QStringLiteral("UPDATE readings SET outcome = CASE WHEN ok THEN 'value' ELSE 'no_reply' END WHERE id % 3 = 0;");
    if (layout >= 3)
        sql += QString::fromLatin1(history::kFillMinutes) + u';';
    sqlite3Shell(path, sql + QStringLiteral("PRAGMA user_version = %1;").arg(layout));
}

// `rowsPerStep` > 0: in slices of that many rows, each restarting the read.
QByteArray exported(const QString& database, const QString& target, qint64 rowsPerStep = 0)
{
    const history::ExportRequest request{database, target, 0, std::numeric_limits<qint64>::max(), {0, 1, 2, 3},
                                         history::ExportFormat::Csv, QLocale::c(), history::ReadMode::Once};
    if (rowsPerStep > 0) {
        history::Exporter exporter(request);
        for (bool more = exporter.start(); more;)
            more = exporter.step(rowsPerStep);
        EXPECT_EQ(exporter.outcome().status, history::ExportOutcome::Status::Done);
    } else {
        EXPECT_EQ(history::exportReadings(request).status, history::ExportOutcome::Status::Done);
    }
    QFile file(target);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

QStringList trend(const QString& path)
{
    QStringList buckets;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("trend"));
    db.setDatabaseName(path);
    EXPECT_TRUE(db.open());
    for (int channel = 0; channel < 4; ++channel) {
        // Whole minutes (from the summaries) and 7 s buckets (from the readings).
        for (int columns : {360, 3086}) {
            const auto result = history::queryTrendBuckets(db, channel, history::trendGridFor(1796000000000, 1796021600000, columns));
            EXPECT_TRUE(result.error.isEmpty()) << result.error.toStdString();
            for (const history::TrendBucket& b : result.buckets)
                buckets << QString::asprintf("%lld %lld %lld %lld %.17g %.17g %.17g %.17g ", b.bucket, b.timeMs, b.count, b.failed,
                                             b.value ? b.value->mean : -1, b.value ? b.value->min : -1,
                                             b.temperature ? b.temperature->max : -1, b.totalDay.value_or(-1)) + result.unit;
        }
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("trend"));
    return buckets;
}

TEST(CompactLayout, FilesOfEveryEarlierLayoutAreConvertedWithTheirRowsTrendsAndExportUnchanged)
{
    for (int layout = 1; layout <= history::kLastTableLayout; ++layout) {
        SCOPED_TRACE(layout);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        makeLayout(path, layout);
        const QStringList rows = dump(path, allReadings(layout));
        const QString ackedSql = QStringLiteral("SELECT * FROM %1").arg(layout >= 4 ? "mqtt_acked" : "(SELECT 1)");
        const QStringList acked = dump(path, ackedSql);
        // The export reads the outcome, which the first layout gains when it is opened for writing.
        const QString copy = dir.filePath(QStringLiteral("copy.sqlite"));
        ASSERT_TRUE(QFile::copy(path, copy));
        if (layout == 1)
            sqlite3Shell(copy, QStringLiteral("ALTER TABLE readings ADD COLUMN outcome TEXT"));
        const QByteArray csv = exported(copy, dir.filePath(QStringLiteral("before.csv")));
        // The minutes the program keeps, also for a layout that had none.
        const QString fresh = dir.filePath(QStringLiteral("fresh.sqlite"));
        makeLayout(fresh, 3);
        const QStringList minutes = dump(fresh, QStringLiteral("SELECT * FROM minutes ORDER BY channel, minute"));
        const QStringList buckets = trend(fresh);

        ASSERT_EQ(history::convertLayout(path), QString());
        EXPECT_EQ(queryValue(path, QStringLiteral("PRAGMA user_version")).toInt(), history::kSchemaVersion);
        EXPECT_EQ(queryValue(path, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
        EXPECT_EQ(queryValue(path, QStringLiteral("SELECT type FROM sqlite_master WHERE name = 'readings'")).toString(),
                  QStringLiteral("view"));
        EXPECT_EQ(dump(path, allReadings(layout)), rows);
        EXPECT_EQ(dump(path, ackedSql), acked);
        EXPECT_EQ(dump(path, QStringLiteral("SELECT * FROM minutes ORDER BY channel, minute")), minutes);
        EXPECT_EQ(exported(path, dir.filePath(QStringLiteral("after.csv"))), csv);
        EXPECT_EQ(trend(path), buckets);
        // The texts made from the numbers are not kept.
        EXPECT_LT(queryValue(path, QStringLiteral("SELECT count(text) FROM samples")).toInt(), rows.size() / 2);
    }
}

// On a card too full to write the file anew, the conversion keeps the old table's pages as free
// space instead of failing (a full disk would stop the recording).
TEST(CompactLayout, AConversionOnANearlyFullDiskKeepsItsFreePages)
{
    history_test::TmpFs disk("4M");
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    const QString path = disk.path() + QStringLiteral("/history.sqlite");
    makeLayout(path, 5);
    const qint64 rows = history_test::rowCount(path);
    ASSERT_EQ(history::convertLayout(path), QString());
    EXPECT_EQ(queryValue(path, QStringLiteral("PRAGMA user_version")).toInt(), history::kSchemaVersion);
    EXPECT_EQ(queryValue(path, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
    EXPECT_EQ(history_test::rowCount(path), rows);
    EXPECT_GT(queryValue(path, QStringLiteral("PRAGMA freelist_count")).toInt(), 0);
    EXPECT_FALSE(QFile::exists(path + QStringLiteral("-wal")) && QFile(path + QStringLiteral("-wal")).size() > 0);
}

// Rows only a tool or a hand would put into the tables are exported as the view gives them, which
// a table made of the view's rows holds.
TEST(CompactLayout, OddRowsAreExportedAsTheViewGivesThem)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    QString sql;
    for (const char* statement : {history::kCreateSeries, history::kCreateSamples, history::kCreateSamplesIndex,
                                  history::kCreateReadingsView})
        sql += QString::fromLatin1(statement) + u';';
    sqlite3Shell(path, sql + QStringLiteral(
        "INSERT INTO series VALUES (1, 0, 'pH', 'pH', 1, 'pH', NULL, 'value', '%.2f pH %05.1f %%', 100, 10),"
        " (2, 1, 'kept', 'x', 1, NULL, 'u2', NULL, NULL, NULL, NULL),"
        " (3, 2, 'odd', 'x', 2, 'u', NULL, NULL, '%d %s %.2f', 0, NULL),"
        " (4, 3, CAST(x'C328B0' AS TEXT), 'x', 1, NULL, NULL, NULL, '%.1f|%.1f', NULL, 4),"
        " (5, 1, 'five', 'x', 1, NULL, NULL, NULL, '%.1f %.1f %.1f %.1f %.1f', 1, 'x');"
        "INSERT INTO samples VALUES (1, 5000, 1, 725, 215, NULL, NULL, NULL, NULL)," // scaled, text from the format
        " (2, 5000, 1, 7.25, 21.5, NULL, NULL, NULL, NULL),"       // reals in a scaled series
        " (3, 4000, 1, NULL, -5, NULL, 3, 7, '7.00 pH 9.9'),"      // a kept text, whole totals
        " (4, 4000, 2, 1, 2, 3, 4.5, 5, 'kept 1 2.0 3.00'),"       // no format, no scales
        " (5, 5000, 3, 7, NULL, NULL, NULL, NULL, 'z 8'),"         // a zero scale
        " (6, 3000, 3, '7.5', x'41', NULL, NULL, NULL, x'3132')," // a text and blobs
        " (7, 3000, 4, 12, NULL, 30, NULL, NULL, NULL),"           // no scale, a tag that is no UTF-8
        " (8, 3000, 5, 1.5, NULL, NULL, 4, 5, NULL),"              // a format wanting five numbers
        " (9, 2000, 99, 1, 2, 3, 4, 5, 'nowhere'),"                // no series
        " (10, 4000, 1, 650, 99, NULL, NULL, NULL, NULL),"
        " (11, 6000, 3, 2.5, NULL, NULL, 1.5, NULL, NULL),"        // a format not of the recorder's kind
        " (12, 6000, 5, 1, 2, NULL, NULL, NULL, 'a');"));          // a scale that is text
    // The same rows in a table of an earlier layout, which the export reads through Qt alone.
    const QString table = dir.filePath(QStringLiteral("table.sqlite"));
    sqlite3Shell(path, QStringLiteral("ATTACH '%1' AS t; CREATE TABLE t.readings AS SELECT * FROM readings;").arg(table));
    const QByteArray expected = exported(table, dir.filePath(QStringLiteral("table.csv")));
    EXPECT_EQ(expected.count('\n'), 12);
    for (const qint64 rowsPerStep : {0, 1, 2})
        EXPECT_EQ(exported(path, dir.filePath(QStringLiteral("compact.csv")), rowsPerStep), expected) << rowsPerStep;
}

TEST(CompactLayout, ReadingsWaitingForAConversionAreWrittenWhenTheRecorderEnds)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    makeLayout(path, 5);
    {
        history::Recorder::Options options;
        options.directory = dir.path();
        history::Recorder recorder(options);
        recorder.recordCycle(history_test::cycleReadings(1));
    } // at once, while the conversion runs (it stops after its slice)
    EXPECT_EQ(queryValue(path, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
    EXPECT_EQ(queryValue(path, QStringLiteral("SELECT count(*) FROM readings")).toInt(), 4 * 2160 + 4);
}

} // namespace
