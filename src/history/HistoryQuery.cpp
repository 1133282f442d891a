#include "history/HistoryQuery.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>

namespace history {

ReadOnlyHistory::~ReadOnlyHistory()
{
    close();
}

QString ReadOnlyHistory::open(const QString& path)
{
    close();
    const QFileInfo file(path);
    if (!file.exists())
        return QStringLiteral("The history file \"%1\" does not exist.").arg(path);
    if (!file.isFile())
        return QStringLiteral("The history file \"%1\" is not a regular file.").arg(path);
    static std::atomic<int> counter{0};
    connection_ = QStringLiteral("zentlog-history-reader-%1").arg(++counter);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path);
    // Read-only: the program may be recording into the file at the same moment.
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!db.open())
        return QStringLiteral("The history file \"%1\" could not be opened: %2").arg(path, db.lastError().text());
    return {};
}

void ReadOnlyHistory::close()
{
    if (connection_.isEmpty())
        return;
    database().close();
    QSqlDatabase::removeDatabase(connection_);
    connection_.clear();
}

QSqlDatabase ReadOnlyHistory::database() const
{
    return QSqlDatabase::database(connection_, false);
}

HistorySummary summarizeHistory(const QString& path)
{
    HistorySummary summary;
    ReadOnlyHistory history;
    if (summary.error = history.open(path); !summary.error.isEmpty())
        return summary;
    summary.fileBytes = QFileInfo(path).size();
    summary.journalBytes = QFileInfo(path + QStringLiteral("-wal")).size();
    {
        QSqlQuery query(history.database());
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral(
                "SELECT channel, COUNT(*), MIN(time_ms), MAX(time_ms) FROM readings GROUP BY channel ORDER BY channel"))) {
            summary.error = QStringLiteral("The history file \"%1\" could not be read: %2").arg(path, query.lastError().text());
            return summary;
        }
        while (query.next()) {
            summary.channels.append({query.value(0).toInt(), query.value(1).toLongLong(), query.value(2).toLongLong(),
                                     query.value(3).toLongLong()});
        }
        if (query.lastError().isValid())
            summary.error = QStringLiteral("The history file \"%1\" could not be read: %2").arg(path, query.lastError().text());
    }
    return summary;
}

} // namespace history
