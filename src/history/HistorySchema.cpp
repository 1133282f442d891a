#include "history/HistorySchema.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace history {

namespace {

measure::Number number(const QVariant& value)
{
    return value.isNull() ? measure::Number() : measure::Number(value.toDouble());
}

measure::Text text(const QVariant& value)
{
    return value.isNull() ? measure::Text() : measure::Text(value.toString());
}

} // namespace

measure::Reading readingAt(const QSqlQuery& row)
{
    measure::Reading r;
    r.timeMs = row.value(1).toLongLong();
    r.channel = row.value(2).toInt();
    r.tag = row.value(3).toString();
    r.typeName = row.value(4).toString();
    r.ok = row.value(5).toInt() == 1;
    r.shown.value = number(row.value(6));
    r.shown.unit = text(row.value(7));
    r.shown.temperature = number(row.value(8));
    r.shown.value2 = number(row.value(9));
    r.shown.unit2 = text(row.value(10));
    r.shown.totalDay = number(row.value(11));
    r.shown.total = number(row.value(12));
    r.shown.text = row.value(13).toString();
    // Rows of an older layout have no outcome: a failure whose reason nobody kept.
    r.outcome = r.ok ? diagnostics::Outcome::value()
                     : diagnostics::Outcome::fromCode(row.value(14).toString()).value_or(diagnostics::Outcome::noReply(2000));
    return r;
}

QString ensureSchema(QSqlDatabase& db)
{
    QSqlQuery query(db);
    for (const char* statement : {kCreateReadings, kCreateReadingsIndex, kCreateMinutes, kCreateMqttAcked, kCreateAlarms,
                                   kCreateAlarmsIndex, kCreateAlarmEvents, kCreateAlarmEventsIndex}) {
        if (!query.exec(QString::fromLatin1(statement)))
            return query.lastError().text();
    }
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return query.lastError().text();
    const int version = query.value(0).toInt();
    if (version >= kSchemaVersion)
        return {};
    // A file of the first layout gains the outcome column; its rows keep NULL there.
    bool hasOutcome = false;
    if (!query.exec(QStringLiteral("PRAGMA table_info(readings)")))
        return query.lastError().text();
    while (query.next())
        hasOutcome = hasOutcome || query.value(1).toString() == QLatin1String("outcome");
    if (!hasOutcome && !query.exec(QStringLiteral("ALTER TABLE readings ADD COLUMN outcome TEXT")))
        return query.lastError().text();
    // The minutes of what an earlier layout recorded (a few seconds for millions of readings, once).
    if (version < 3 && !query.exec(QString::fromLatin1(kFillMinutes)))
        return query.lastError().text();
    if (!query.exec(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion)))
        return query.lastError().text();
    return {};
}

} // namespace history
