#include "publish/AlarmEventSource.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <atomic>

namespace publish {

namespace {

template <typename T>
std::optional<T> optionalAt(const QSqlQuery& query, int column)
{
    const QVariant value = query.value(column);
    if (value.isNull())
        return std::nullopt;
    return value.value<T>();
}

} // namespace

MemoryAlarmEvents::MemoryAlarmEvents(std::size_t limit)
    : limit_(std::max<std::size_t>(limit, 1))
{
}

void MemoryAlarmEvents::add(const alarms::AlarmEvent& event)
{
    queue_.push_back({nextSeq_++, event});
    while (queue_.size() > limit_)
        queue_.pop_front();
}

std::vector<StoredAlarmEvent> MemoryAlarmEvents::events(qint64 after, int limit)
{
    std::vector<StoredAlarmEvent> found;
    for (const StoredAlarmEvent& stored : queue_)
        if (stored.seq > after && int(found.size()) < limit)
            found.push_back(stored);
    return found;
}

HistoryAlarmEvents::HistoryAlarmEvents(const QString& directory)
    : path_(QDir(directory.isEmpty() ? QDir::currentPath() : directory).filePath(QStringLiteral("history.sqlite")))
{
    static std::atomic<int> counter{0};
    connectionName_ = QStringLiteral("zentlog-publish-alarms-%1").arg(++counter);
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
    db_.setDatabaseName(path_);
    db_.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=200"));
}

HistoryAlarmEvents::~HistoryAlarmEvents()
{
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
}

bool HistoryAlarmEvents::open()
{
    if (db_.isOpen())
        return true;
    // Only a regular file the recorder made: opening a missing name would create it.
    const QFileInfo info(path_);
    return info.exists() && info.isFile() && !info.isSymLink() && db_.open();
}

std::vector<StoredAlarmEvent> HistoryAlarmEvents::events(qint64 after, int limit)
{
    std::vector<StoredAlarmEvent> found;
    if (!open())
        return found;
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
        "SELECT e.id, e.event, e.time_ms, a.id, a.input, a.kind, a.tag, a.raised_ms, a.value, a.limit_value, "
        "a.acknowledged_ms, a.cleared_ms FROM alarm_events e JOIN alarms a ON a.id = e.alarm_id "
        "WHERE e.id > ? ORDER BY e.id LIMIT ?"));
    query.bindValue(0, after);
    query.bindValue(1, limit);
    if (!query.exec()) {
        // No such table yet (an older layout, or nothing recorded): no events. The file closes
        // so that the next look sees the tables the recorder made meanwhile.
        db_.close();
        return found;
    }
    while (query.next()) {
        const std::optional<alarms::AlarmEvent::Type> type = alarms::eventFromName(query.value(1).toString());
        const std::optional<alarms::AlarmKind> kind = alarms::kindFromName(query.value(5).toString());
        StoredAlarmEvent stored;
        stored.seq = query.value(0).toLongLong();
        if (!type || !kind) {
            // A row this version does not know: skipped, but its number is used up.
            found.push_back(stored);
            continue;
        }
        alarms::AlarmEvent& event = stored.event;
        event.type = *type;
        event.timeMs = query.value(2).toLongLong();
        alarms::Alarm& alarm = event.alarm;
        alarm.id = query.value(3).toLongLong();
        alarm.input = query.value(4).toInt();
        alarm.kind = *kind;
        alarm.tag = query.value(6).toString();
        alarm.raisedMs = query.value(7).toLongLong();
        alarm.value = optionalAt<double>(query, 8);
        alarm.limit = optionalAt<double>(query, 9);
        alarm.acknowledgedMs = optionalAt<qint64>(query, 10);
        alarm.clearedMs = optionalAt<qint64>(query, 11);
        // The row is the alarm as it is now: as at the event, what came later is not there yet.
        if (alarm.acknowledgedMs && (*alarm.acknowledgedMs > event.timeMs
                                     || (*alarm.acknowledgedMs == event.timeMs && *type == alarms::AlarmEvent::Type::Raised)))
            alarm.acknowledgedMs.reset();
        if (alarm.clearedMs && (*alarm.clearedMs > event.timeMs || *type == alarms::AlarmEvent::Type::Raised))
            alarm.clearedMs.reset();
        found.push_back(std::move(stored));
    }
    return found;
}

qint64 HistoryAlarmEvents::newest()
{
    if (!open())
        return 0;
    QSqlQuery query(db_);
    if (!query.exec(QStringLiteral("SELECT coalesce(MAX(id), 0) FROM alarm_events")) || !query.next()) {
        db_.close();
        return 0;
    }
    return query.value(0).toLongLong();
}

qint64 HistoryAlarmEvents::newestBefore(qint64 timeMs)
{
    if (!open())
        return 0;
    // From the newest backwards: only the few events since the publisher was made are passed.
    QSqlQuery query(db_);
    query.prepare(QStringLiteral(
        "SELECT coalesce((SELECT id FROM alarm_events WHERE time_ms < ? ORDER BY id DESC LIMIT 1), 0)"));
    query.bindValue(0, timeMs);
    if (!query.exec() || !query.next()) {
        db_.close();
        return 0;
    }
    return query.value(0).toLongLong();
}

} // namespace publish
