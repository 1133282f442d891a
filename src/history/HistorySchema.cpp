#include "history/HistorySchema.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace history {

QString ensureSchema(QSqlDatabase& db)
{
    QSqlQuery query(db);
    for (const char* statement : {kCreateReadings, kCreateReadingsIndex}) {
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

} // namespace history
