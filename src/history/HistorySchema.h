#pragma once
// The layout of "history.sqlite", shared by the recorder, the queries, the export and the tools.
// Users query it with sqlite3 or any SQLite viewer, so names and meanings stay stable; a later
// layout adds columns and raises the version, it never renames or drops one.

#include "measure/Reading.h"

#include <QString>

class QSqlDatabase;
class QSqlQuery;

namespace history {

inline constexpr char kHistoryFileName[] = "history.sqlite";

// PRAGMA user_version of the layout below.
// 1: the first layout. 2: adds `outcome`. 3: adds the table `minutes`. 4: adds `mqtt_acked`.
// 5: adds the tables `alarms` and `alarm_events`. 6: the compact layout: the readings are kept in
// `samples` and `series`, and `readings` is a view giving the same columns and values as before.
inline constexpr int kSchemaVersion = 6;
// The last layout in which `readings` is a table.
inline constexpr int kLastTableLayout = 5;

// One row per channel visit of a measurement cycle:
//   time_ms      UTC milliseconds since 1970 when the channel was read
//   channel      0..3
//   tag          the channel's tag at that moment
//   type         the measurement type's name ("pH", "Flow", ...)
//   ok           1: a value; 0: "Out of order"
//   value, unit  the main value as shown, as a number, and its unit text
//   temperature  degrees Celsius
//   value2, unit2      the second value and its unit, for the types that have one
//   total_day, total   the flow totals
//   text         the panel's text, exactly as shown (CR LF between lines)
//   outcome      how the visit ended: "value", or why there was none ("no_reply",
//                "invalid_crc", "exception_2", "port_lost", ...); NULL in rows recorded before
//                the layout had it
// NULL wherever the type has no such field or the channel was "Out of order".
inline constexpr char kCreateReadings[] =
    "CREATE TABLE IF NOT EXISTS readings ("
    " id INTEGER PRIMARY KEY,"
    " time_ms INTEGER NOT NULL,"
    " channel INTEGER NOT NULL,"
    " tag TEXT NOT NULL,"
    " type TEXT NOT NULL,"
    " ok INTEGER NOT NULL,"
    " value REAL,"
    " unit TEXT,"
    " temperature REAL,"
    " value2 REAL,"
    " unit2 TEXT,"
    " total_day REAL,"
    " total REAL,"
    " text TEXT NOT NULL,"
    " outcome TEXT)";
inline constexpr char kCreateReadingsIndex[] =
    "CREATE INDEX IF NOT EXISTS readings_channel_time ON readings (channel, time_ms)";

// One row per channel and minute of readings (minute = time_ms / 60000), summing them up, kept
// by the recorder in the transaction that writes the readings. Long trend periods are read from
// it: 30 days of one channel are 43,200 rows instead of 2.6 million.
//   ok_count, failed          readings with a value (ok = 1), and "Out of order" ones
//   value_count, value_min, value_max, value_sum   over the readings with a value that have one
//   temp_count, temp_min, temp_max, temp_sum       the same for the temperature
//   ok_time_sum, time_sum     sums of time_ms: of the readings with a value, and of all
//   first_ms, last_ms         time_ms of the first and last reading
//   total_ms                  time_ms of the last reading with a daily total (flow), else NULL
//   max_id                    the highest readings.id summed up here
inline constexpr char kCreateMinutes[] =
    "CREATE TABLE IF NOT EXISTS minutes ("
    " channel INTEGER NOT NULL, minute INTEGER NOT NULL,"
    " ok_count INTEGER NOT NULL, failed INTEGER NOT NULL,"
    " value_count INTEGER NOT NULL, value_min REAL, value_max REAL, value_sum REAL NOT NULL,"
    " temp_count INTEGER NOT NULL, temp_min REAL, temp_max REAL, temp_sum REAL NOT NULL,"
    " ok_time_sum INTEGER NOT NULL, time_sum INTEGER NOT NULL, first_ms INTEGER NOT NULL, last_ms INTEGER NOT NULL,"
    " total_ms INTEGER, max_id INTEGER NOT NULL,"
    " PRIMARY KEY (channel, minute)) WITHOUT ROWID";

// Adds one reading to its minute. Its parameters, in order: channel, minute, ok (0 or 1), failed
// (1 - ok), value present (0 or 1), value, value, value or 0, temperature present, temperature,
// temperature, temperature or 0, time_ms if ok else 0, time_ms, time_ms, time_ms, time_ms of a
// daily total or NULL, id.
inline constexpr char kAddToMinute[] =
    "INSERT INTO minutes VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
    " ON CONFLICT (channel, minute) DO UPDATE SET"
    " ok_count = ok_count + excluded.ok_count, failed = failed + excluded.failed,"
    " value_count = value_count + excluded.value_count,"
    " value_min = coalesce(min(value_min, excluded.value_min), value_min, excluded.value_min),"
    " value_max = coalesce(max(value_max, excluded.value_max), value_max, excluded.value_max),"
    " value_sum = value_sum + excluded.value_sum,"
    " temp_count = temp_count + excluded.temp_count,"
    " temp_min = coalesce(min(temp_min, excluded.temp_min), temp_min, excluded.temp_min),"
    " temp_max = coalesce(max(temp_max, excluded.temp_max), temp_max, excluded.temp_max),"
    " temp_sum = temp_sum + excluded.temp_sum,"
    " ok_time_sum = ok_time_sum + excluded.ok_time_sum, time_sum = time_sum + excluded.time_sum,"
    " first_ms = min(first_ms, excluded.first_ms), last_ms = max(last_ms, excluded.last_ms),"
    " total_ms = coalesce(max(total_ms, excluded.total_ms), total_ms, excluded.total_ms),"
    " max_id = max(max_id, excluded.max_id)";

// The compact layout. Everything a run of readings shares (channel, tag, type, units, outcome, and
// how the panel text is made from the numbers) is one row of `series`:
//   format         an SQLite printf() format that gives the panel text from the numbers (value,
//                  temperature or value2, total_day, total, in this order); NULL: each sample
//                  keeps its text
//   scale, scale2  numbers kept as integers are these multiples of the number: scale for the
//                  value, scale2 for the temperature or value2 (totals are whole numbers, scale 1)
// Each reading is one row of `samples`: its id (the readings' id), time, series and numbers (an
// INTEGER column value is a scaled number, a REAL one is the number itself), and its text only
// when the series' format does not give it back exactly.
inline constexpr char kCreateSeries[] =
    "CREATE TABLE IF NOT EXISTS series ("
    " id INTEGER PRIMARY KEY,"
    " channel INTEGER NOT NULL, tag TEXT NOT NULL, type TEXT NOT NULL, ok INTEGER NOT NULL,"
    " unit TEXT, unit2 TEXT, outcome TEXT,"
    " format TEXT, scale REAL, scale2 REAL)";
// Finds the series of a reading without reading the whole table (a tag changed every cycle makes
// a series per cycle).
inline constexpr char kCreateSeriesIndex[] = "CREATE INDEX IF NOT EXISTS series_key ON series (channel, tag, type)";
// The numbers' columns have no type on purpose: a REAL column would turn the scaled integers
// back into reals, which take 8 bytes.
inline constexpr char kCreateSamples[] =
    "CREATE TABLE IF NOT EXISTS samples ("
    " id INTEGER PRIMARY KEY,"
    " time_ms INTEGER NOT NULL,"
    " series INTEGER NOT NULL,"
    " value, temperature, value2, total_day, total,"
    " text TEXT)";
// One index on the time alone: readings arrive in time order, so it is only ever appended to and
// its pages stay full; the channel comes from the series.
inline constexpr char kCreateSamplesIndex[] = "CREATE INDEX IF NOT EXISTS samples_time ON samples (time_ms)";

// The documented columns and values of the readings, for users' SQL and every reader.
inline constexpr char kCreateReadingsView[] =
    "CREATE VIEW IF NOT EXISTS readings AS SELECT id, time_ms, channel, tag, type, ok, value, unit, temperature,"
    " value2, unit2, total_day, total,"
    " coalesce(text, printf(format, value, coalesce(temperature, value2), total_day, total)) AS text, outcome"
    " FROM (SELECT s.id AS id, s.time_ms AS time_ms, r.channel AS channel, r.tag AS tag, r.type AS type, r.ok AS ok,"
    " CASE WHEN typeof(s.value) = 'integer' THEN s.value / r.scale ELSE s.value END AS value, r.unit AS unit,"
    " CASE WHEN typeof(s.temperature) = 'integer' THEN s.temperature / r.scale2 ELSE s.temperature END AS temperature,"
    " CASE WHEN typeof(s.value2) = 'integer' THEN s.value2 / r.scale2 ELSE s.value2 END AS value2, r.unit2 AS unit2,"
    " CASE WHEN typeof(s.total_day) = 'integer' THEN s.total_day * 1.0 ELSE s.total_day END AS total_day,"
    " CASE WHEN typeof(s.total) = 'integer' THEN s.total * 1.0 ELSE s.total END AS total,"
    " s.text AS text, r.format AS format, r.outcome AS outcome"
    " FROM samples s LEFT JOIN series r ON r.id = s.series)";

// Rows inserted into the view by hand or by a tool keep their text and their numbers as reals
// (the columns of the earlier table were REAL).
#define ZENTLOG_SAME_SERIES                                                                                            \
    " channel IS NEW.channel AND tag IS NEW.tag AND type IS NEW.type AND ok IS NEW.ok AND unit IS NEW.unit"           \
    " AND unit2 IS NEW.unit2 AND outcome IS NEW.outcome AND format IS NULL AND scale IS NULL AND scale2 IS NULL"
#define ZENTLOG_AS_REAL(column) " CASE WHEN typeof(NEW." column ") = 'integer' THEN CAST(NEW." column " AS REAL) ELSE NEW." column " END"
inline constexpr char kCreateReadingsInsert[] =
    "CREATE TRIGGER IF NOT EXISTS readings_insert INSTEAD OF INSERT ON readings BEGIN"
    " SELECT RAISE(ABORT, 'NOT NULL constraint failed: readings.text') WHERE NEW.text IS NULL;"
    " INSERT INTO series (channel, tag, type, ok, unit, unit2, outcome)"
    " SELECT NEW.channel, NEW.tag, NEW.type, NEW.ok, NEW.unit, NEW.unit2, NEW.outcome"
    " WHERE NOT EXISTS (SELECT 1 FROM series WHERE" ZENTLOG_SAME_SERIES ");"
    " INSERT INTO samples (id, time_ms, series, value, temperature, value2, total_day, total, text) VALUES ("
    " NEW.id, NEW.time_ms, (SELECT id FROM series WHERE" ZENTLOG_SAME_SERIES " LIMIT 1),"
    ZENTLOG_AS_REAL("value") "," ZENTLOG_AS_REAL("temperature") "," ZENTLOG_AS_REAL("value2") ","
    ZENTLOG_AS_REAL("total_day") "," ZENTLOG_AS_REAL("total") ", NEW.text); END";
#undef ZENTLOG_SAME_SERIES
#undef ZENTLOG_AS_REAL
inline constexpr char kCreateReadingsDelete[] =
    "CREATE TRIGGER IF NOT EXISTS readings_delete INSTEAD OF DELETE ON readings BEGIN"
    " DELETE FROM samples WHERE id = OLD.id; END";

// The minutes of every reading already recorded (a file of an earlier layout, once).
inline constexpr char kFillMinutes[] =
    "INSERT OR REPLACE INTO minutes SELECT channel, time_ms / 60000,"
    " SUM(ok = 1), SUM(ok <> 1),"
    " COUNT(CASE WHEN ok = 1 THEN value END), MIN(CASE WHEN ok = 1 THEN value END),"
    " MAX(CASE WHEN ok = 1 THEN value END), coalesce(SUM(CASE WHEN ok = 1 THEN value END), 0),"
    " COUNT(CASE WHEN ok = 1 THEN temperature END), MIN(CASE WHEN ok = 1 THEN temperature END),"
    " MAX(CASE WHEN ok = 1 THEN temperature END), coalesce(SUM(CASE WHEN ok = 1 THEN temperature END), 0),"
    " coalesce(SUM(CASE WHEN ok = 1 THEN time_ms END), 0), SUM(time_ms), MIN(time_ms), MAX(time_ms),"
    " MAX(CASE WHEN ok = 1 AND total_day IS NOT NULL THEN time_ms END), MAX(id)"
    " FROM readings WHERE time_ms >= 0 GROUP BY channel, time_ms / 60000";

// What each MQTT broker has acknowledged of the readings, as ranges of their ids (first_id to
// last_id, both included), so that publishing resumes after an outage or a restart with the first
// reading the broker did not acknowledge. `destination` names the broker, the site and the form
// ("localhost:1883 site json").
inline constexpr char kCreateMqttAcked[] =
    "CREATE TABLE IF NOT EXISTS mqtt_acked ("
    " destination TEXT NOT NULL,"
    " first_id INTEGER NOT NULL,"
    " last_id INTEGER NOT NULL,"
    " PRIMARY KEY (destination, first_id)) WITHOUT ROWID";

// One row per alarm, written when it is raised and updated at each of its events:
//   id               the alarm's number (never reused within the file)
//   input            0..3
//   kind             "low_low", "low", "high", "high_high", "failing", "temperature_low_low",
//                    "temperature_low", "temperature_high", "temperature_high_high"
//   tag              the input's tag when it was raised
//   raised_ms        UTC milliseconds when it was (last) raised
//   value            the value that raised it (NULL for "failing")
//   limit_value      the limit it crossed ("failing": the seconds without a valid reading)
//   acknowledged_ms  when it was acknowledged, NULL until then
//   cleared_ms       when it cleared, NULL while it is active
// An alarm is over (normal) once both acknowledged_ms and cleared_ms are set.
inline constexpr char kCreateAlarms[] =
    "CREATE TABLE IF NOT EXISTS alarms ("
    " id INTEGER PRIMARY KEY,"
    " input INTEGER NOT NULL,"
    " kind TEXT NOT NULL,"
    " tag TEXT NOT NULL,"
    " raised_ms INTEGER NOT NULL,"
    " value REAL,"
    " limit_value REAL,"
    " acknowledged_ms INTEGER,"
    " cleared_ms INTEGER)";
inline constexpr char kCreateAlarmsIndex[] =
    "CREATE INDEX IF NOT EXISTS alarms_open ON alarms (id) WHERE acknowledged_ms IS NULL OR cleared_ms IS NULL";

// One row per alarm event, in order:
//   id         the event's number, rising
//   alarm_id   alarms.id
//   event      "raised", "acknowledged" or "cleared"
//   time_ms    UTC milliseconds
//   value, limit_value   the alarm's value and limit at the event
//   command    the run of "[alarms] command" for the event: NULL (none), "queued", "started"
//              "done", or "interrupted" (the program stopped while it ran: it is not run again)
inline constexpr char kCreateAlarmEvents[] =
    "CREATE TABLE IF NOT EXISTS alarm_events ("
    " id INTEGER PRIMARY KEY,"
    " alarm_id INTEGER NOT NULL,"
    " event TEXT NOT NULL,"
    " time_ms INTEGER NOT NULL,"
    " value REAL,"
    " limit_value REAL,"
    " command TEXT)";
inline constexpr char kCreateAlarmEventsIndex[] =
    "CREATE INDEX IF NOT EXISTS alarm_events_command ON alarm_events (command) WHERE command IN ('queued', 'started')";

// The columns of a reading in the order readingAt() takes them (the table's own order).
inline constexpr char kReadingColumns[] = "id, time_ms, channel, tag, type, ok, value, unit, temperature, value2,"
                                          " unit2, total_day, total, text, outcome";

// The reading of a row selected with kReadingColumns (its id is column 0, not part of it).
measure::Reading readingAt(const QSqlQuery& row);

// The layout of the open file: true when `readings` is still a table (layouts 1 to 5), which the
// conversion (LayoutConversion) makes compact. False for a new file and for the compact layout.
bool holdsTableLayout(QSqlDatabase& db, QString* problem = nullptr);

// A new file gets the compact layout. A file of an earlier layout gains the tables and columns of
// layout 5 that it lacks, without touching its readings (that is the conversion's work, which
// takes long), and keeps its version. A file of a newer layout is left as it is. An empty string
// on success, otherwise the reason. The database must be open.
QString ensureSchema(QSqlDatabase& db);

} // namespace history
