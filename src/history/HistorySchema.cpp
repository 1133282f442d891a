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

bool holdsTableLayout(QSqlDatabase& db, QString* problem)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT type FROM sqlite_master WHERE name = 'readings'"))) {
        if (problem)
            *problem = query.lastError().text();
        return false;
    }
    return query.next() && query.value(0).toString() == QLatin1String("table");
}

QString ensureSchema(QSqlDatabase& db)
{
    QSqlQuery query(db);
    QString problem;
    const bool tableLayout = holdsTableLayout(db, &problem);
    if (!problem.isEmpty())
        return problem;
    if (!tableLayout) {
        // A new file, or one of the compact layout (which may still lack a table added since).
        for (const char* statement : {kCreateSeries, kCreateSeriesIndex, kCreateSamples, kCreateSamplesIndex, kCreateReadingsView,
                                       kCreateReadingsInsert, kCreateReadingsDelete, kCreateMinutes, kCreateMqttAcked,
                                       kCreateAlarms, kCreateAlarmsIndex, kCreateAlarmEvents, kCreateAlarmEventsIndex}) {
            if (!query.exec(QString::fromLatin1(statement)))
                return query.lastError().text();
        }
        if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
            return query.lastError().text();
        if (query.value(0).toInt() < kSchemaVersion
            && !query.exec(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion)))
            return query.lastError().text();
        return {};
    }
    // An earlier layout: what its readers and writers need, added in an instant. Its version stays,
    // so that the conversion knows whether its minutes are still to be filled.
    for (const char* statement : {kCreateMinutes, kCreateMqttAcked, kCreateAlarms, kCreateAlarmsIndex,
                                   kCreateAlarmEvents, kCreateAlarmEventsIndex}) {
        if (!query.exec(QString::fromLatin1(statement)))
            return query.lastError().text();
    }
    // A file of the first layout gains the outcome column; its rows keep NULL there.
    bool hasOutcome = false;
    if (!query.exec(QStringLiteral("PRAGMA table_info(readings)")))
        return query.lastError().text();
    while (query.next())
        hasOutcome = hasOutcome || query.value(1).toString() == QLatin1String("outcome");
    if (!hasOutcome && !query.exec(QStringLiteral("ALTER TABLE readings ADD COLUMN outcome TEXT")))
        return query.lastError().text();
    return {};
}

} // namespace history
