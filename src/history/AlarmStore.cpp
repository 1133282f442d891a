#include "history/AlarmStore.h"

#include "history/HistoryFile.h"
#include "history/HistorySchema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>

namespace history {

namespace {
QString uniqueConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("zentlog-alarms-%1").arg(++counter);
}

QVariant optionalNumber(const std::optional<double>& value)
{
    return value ? QVariant(*value) : QVariant(QMetaType(QMetaType::Double));
}

QVariant optionalTime(const std::optional<qint64>& value)
{
    return value ? QVariant(*value) : QVariant(QMetaType(QMetaType::LongLong));
}

std::optional<double> numberAt(const QSqlQuery& q, int column)
{
    const QVariant v = q.value(column);
    return v.isNull() ? std::nullopt : std::optional<double>(v.toDouble());
}

std::optional<qint64> timeAt(const QSqlQuery& q, int column)
{
    const QVariant v = q.value(column);
    return v.isNull() ? std::nullopt : std::optional<qint64>(v.toLongLong());
}

constexpr char kAlarmColumns[] = "id, input, kind, tag, raised_ms, value, limit_value, acknowledged_ms, cleared_ms";

// The alarm of a row selected with kAlarmColumns (starting at `first`); nothing for a row that is
// none of ours (an unknown kind, an input out of range).
std::optional<alarms::Alarm> alarmAt(const QSqlQuery& q, int first = 0)
{
    alarms::Alarm a;
    a.id = q.value(first).toLongLong();
    a.input = q.value(first + 1).toInt();
    const std::optional<alarms::AlarmKind> kind = alarms::kindFromName(q.value(first + 2).toString());
    if (!kind || a.input < 0 || a.input >= alarms::kInputCount || a.id <= 0)
        return std::nullopt;
    a.kind = *kind;
    a.tag = q.value(first + 3).toString();
    a.raisedMs = q.value(first + 4).toLongLong();
    a.value = numberAt(q, first + 5);
    a.limit = numberAt(q, first + 6);
    a.acknowledgedMs = timeAt(q, first + 7);
    a.clearedMs = timeAt(q, first + 8);
    return a;
}
} // namespace

namespace {
// A database file in WAL mode: its header's read and write versions (bytes 18 and 19) are 2.
bool madeByRecorder(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = file.read(20);
    return header.size() == 20 && header.startsWith("SQLite format 3") && header[18] == 2 && header[19] == 2;
}
} // namespace

AlarmStore::AlarmStore(Options options)
    : options_(std::move(options))
    , path_(QDir(options_.directory.isEmpty() ? QDir::currentPath() : options_.directory)
                .filePath(QLatin1String(kHistoryFileName)))
    , connectionName_(uniqueConnectionName())
{
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
    db_.setDatabaseName(path_);
    db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(options_.busyTimeoutMs));
}

AlarmStore::~AlarmStore()
{
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
}

void AlarmStore::tell(const QString& what, const QString& reason)
{
    // One message per outage; the alarms go on in memory.
    if (std::exchange(reported_, true) || !options_.report)
        return;
    options_.report(QStringLiteral("The alarms cannot be %1 the measurement history \"%2\": %3. They go on in memory.")
                        .arg(what, QDir::toNativeSeparators(path_), reason));
}

bool AlarmStore::open()
{
    if (db_.isOpen())
        return true;
    const QFileInfo info(path_);
    if (info.isSymLink() || (info.exists() && !info.isFile())) {
        tell(QStringLiteral("kept in"), QStringLiteral("it is not a regular file"));
        return false;
    }
    // After a loss the recorder makes the new file and puts it in WAL mode: a second connection
    // making it at the same time locked the recorder out of it. Until then the alarms wait in
    // memory, without a message.
    if (afterLoss_ && !madeByRecorder(path_))
        return false;
    if (!db_.open()) {
        tell(QStringLiteral("kept in"), db_.lastError().text());
        return false;
    }
    QSqlQuery query(db_);
    const bool tablesThere = query.exec(QStringLiteral(
                                 "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('alarms', 'alarm_events')"))
                             && query.next() && query.value(0).toInt() == 2;
    if (!tablesThere)
        query.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    query = QSqlQuery();
    if (const QString problem = tablesThere ? QString() : ensureSchema(db_); !problem.isEmpty()) {
        db_.close();
        tell(QStringLiteral("kept in"), problem);
        return false;
    }
    opened_ = common::identityAt(path_);
    afterLoss_ = false;
    return true;
}

bool AlarmStore::followFile()
{
    if (db_.isOpen() && checkHistoryFile(path_, opened_) != FileChange::None) {
        db_.close();
        standingLost_ = true;
        afterLoss_ = true;
    }
    return standingLost_;
}

std::vector<alarms::Alarm> AlarmStore::openAlarms()
{
    std::vector<alarms::Alarm> result;
    if (!open())
        return result;
    QSqlQuery q(db_);
    if (!q.exec(QStringLiteral("SELECT %1 FROM alarms WHERE acknowledged_ms IS NULL OR cleared_ms IS NULL ORDER BY id")
                    .arg(QLatin1String(kAlarmColumns)))) {
        tell(QStringLiteral("read from"), q.lastError().text());
        return result;
    }
    while (q.next()) {
        if (std::optional<alarms::Alarm> alarm = alarmAt(q))
            result.push_back(*alarm);
    }
    return result;
}

qint64 AlarmStore::maxId()
{
    if (!open())
        return 0;
    QSqlQuery q(db_);
    if (!q.exec(QStringLiteral("SELECT coalesce(max(id), 0) FROM alarms")) || !q.next())
        return 0;
    return q.value(0).toLongLong();
}

std::vector<alarms::Alarm> AlarmStore::recent(int count)
{
    std::vector<alarms::Alarm> result;
    if (!open())
        return result;
    QSqlQuery q(db_);
    q.prepare(QStringLiteral("SELECT %1 FROM alarms ORDER BY id DESC LIMIT ?").arg(QLatin1String(kAlarmColumns)));
    q.addBindValue(count);
    if (!q.exec())
        return result;
    while (q.next()) {
        if (std::optional<alarms::Alarm> alarm = alarmAt(q))
            result.push_back(*alarm);
    }
    return result;
}

namespace {
QSqlQuery upsertQuery(QSqlDatabase& db)
{
    QSqlQuery upsert(db);
    upsert.prepare(QStringLiteral("INSERT OR REPLACE INTO alarms (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")
                       .arg(QLatin1String(kAlarmColumns)));
    return upsert;
}

void bindAlarm(QSqlQuery& upsert, const alarms::Alarm& a)
{
    // An input without a tag has a null text, which the driver would bind as NULL: the column
    // takes no NULL, and the alarm would not be written at all.
    const QString tag = a.tag.isNull() ? QStringLiteral("") : a.tag;
    for (const QVariant& v : {QVariant(a.id), QVariant(a.input), QVariant(alarms::kindName(a.kind)), QVariant(tag),
                              QVariant(a.raisedMs), optionalNumber(a.value), optionalNumber(a.limit),
                              optionalTime(a.acknowledgedMs), optionalTime(a.clearedMs)})
        upsert.addBindValue(v);
}
} // namespace

void AlarmStore::keepStanding(const std::vector<alarms::Alarm>& standing)
{
    if (!open() || !db_.transaction())
        return;
    QSqlQuery upsert = upsertQuery(db_);
    for (const alarms::Alarm& alarm : standing) {
        bindAlarm(upsert, alarm);
        if (!upsert.exec()) {
            tell(QStringLiteral("written to"), upsert.lastError().text());
            db_.rollback();
            return;
        }
    }
    if (db_.commit())
        standingLost_ = false;
    else
        db_.rollback();
}

std::optional<std::vector<alarms::CommandRun>> AlarmStore::record(const std::vector<alarms::AlarmEvent>& events, bool queueCommands)
{
    std::vector<alarms::CommandRun> runs;
    if (events.empty())
        return runs;
    if (!open())
        return std::nullopt;
    if (!db_.transaction()) {
        tell(QStringLiteral("written to"), db_.lastError().text());
        return std::nullopt;
    }
    QSqlQuery upsert = upsertQuery(db_);
    QSqlQuery insertEvent(db_);
    insertEvent.prepare(QStringLiteral("INSERT INTO alarm_events (alarm_id, event, time_ms, value, limit_value, command)"
                                       " VALUES (?, ?, ?, ?, ?, ?)"));
    for (const alarms::AlarmEvent& event : events) {
        const alarms::Alarm& a = event.alarm;
        bindAlarm(upsert, a);
        insertEvent.addBindValue(a.id);
        insertEvent.addBindValue(alarms::eventName(event.type));
        insertEvent.addBindValue(event.timeMs);
        insertEvent.addBindValue(optionalNumber(a.value));
        insertEvent.addBindValue(optionalNumber(a.limit));
        insertEvent.addBindValue(queueCommands ? QVariant(QStringLiteral("queued")) : QVariant(QMetaType(QMetaType::QString)));
        if (!upsert.exec() || !insertEvent.exec()) {
            const QString reason = (upsert.lastError().isValid() ? upsert.lastError() : insertEvent.lastError()).text();
            db_.rollback();
            tell(QStringLiteral("written to"), reason);
            return std::nullopt;
        }
        if (queueCommands)
            runs.push_back({insertEvent.lastInsertId().toLongLong(), event});
    }
    if (!db_.commit()) {
        tell(QStringLiteral("written to"), db_.lastError().text());
        db_.rollback();
        return std::nullopt;
    }
    reported_ = false;
    return runs;
}

namespace {
std::vector<alarms::CommandRun> runsWhere(QSqlDatabase& db, const char* command)
{
    std::vector<alarms::CommandRun> runs;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT e.id, e.event, e.time_ms, a.%1 FROM alarm_events e JOIN alarms a ON a.id = e.alarm_id"
                             " WHERE e.command = ? ORDER BY e.id")
                  .arg(QString::fromLatin1(kAlarmColumns).replace(QStringLiteral(", "), QStringLiteral(", a."))));
    q.addBindValue(QLatin1String(command));
    if (!q.exec())
        return runs;
    while (q.next()) {
        const std::optional<alarms::AlarmEvent::Type> type = alarms::eventFromName(q.value(1).toString());
        const std::optional<alarms::Alarm> alarm = alarmAt(q, 3);
        if (type && alarm)
            runs.push_back({q.value(0).toLongLong(), {*type, q.value(2).toLongLong(), *alarm}});
    }
    return runs;
}
} // namespace

std::vector<alarms::CommandRun> AlarmStore::pendingRuns()
{
    if (!open())
        return {};
    return runsWhere(db_, "queued");
}

std::vector<alarms::CommandRun> AlarmStore::takeInterruptedRuns()
{
    if (!open())
        return {};
    std::vector<alarms::CommandRun> runs = runsWhere(db_, "started");
    QSqlQuery q(db_);
    q.exec(QStringLiteral("UPDATE alarm_events SET command = 'interrupted' WHERE command = 'started'"));
    return runs;
}

void AlarmStore::markStarted(qint64 queueId, qint64 nowMs)
{
    Q_UNUSED(nowMs);
    if (queueId <= 0 || !open())
        return;
    QSqlQuery q(db_);
    q.prepare(QStringLiteral("UPDATE alarm_events SET command = 'started' WHERE id = ?"));
    q.addBindValue(queueId);
    if (!q.exec())
        tell(QStringLiteral("written to"), q.lastError().text());
}

void AlarmStore::markDone(qint64 queueId)
{
    if (queueId <= 0 || !open())
        return;
    QSqlQuery q(db_);
    q.prepare(QStringLiteral("UPDATE alarm_events SET command = 'done' WHERE id = ?"));
    q.addBindValue(queueId);
    if (!q.exec())
        tell(QStringLiteral("written to"), q.lastError().text());
}

} // namespace history
