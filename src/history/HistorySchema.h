#pragma once
// The layout of "history.sqlite", shared by the recorder, the queries, the export and the tools.
// Users query it with sqlite3 or any SQLite viewer, so names and meanings stay stable; a later
// layout adds columns and raises the version, it never renames or drops one.

#include <QString>

class QSqlDatabase;

namespace history {

inline constexpr char kHistoryFileName[] = "history.sqlite";

// PRAGMA user_version of the layout below.
// 1: the first layout. 2: adds `outcome`.
inline constexpr int kSchemaVersion = 2;

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

// Creates the tables and index when missing, adds the columns an older layout lacks, and sets the
// version; an empty string on success, otherwise the reason. The database must be open. A file
// of a newer layout is left as it is: its extra columns are not ours to touch.
QString ensureSchema(QSqlDatabase& db);

} // namespace history
