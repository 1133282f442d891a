#include "history/HistorySchema.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace history {

QString ensureSchema(QSqlDatabase& db)
{
    QSqlQuery query(db);
    for (const char* statement : {kCreateReadings, kCreateReadingsIndex, kCreateMinutes, kCreateMqttAcked}) {
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
