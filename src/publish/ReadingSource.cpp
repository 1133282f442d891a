#include "publish/ReadingSource.h"

#include "history/HistorySchema.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <atomic>

namespace publish {

namespace {

bool bySeq(const StoredReading& stored, qint64 seq)
{
    return stored.seq < seq;
}

QString uniqueConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("zentlog-publish-%1").arg(++counter);
}

QString selectReadings()
{
    return QStringLiteral("SELECT %1 FROM readings WHERE id > ? AND id < ? ORDER BY id LIMIT ?")
        .arg(QLatin1String(history::kReadingColumns));
}

} // namespace

MemorySource::MemorySource(std::size_t limit)
    : limit_(std::max<std::size_t>(limit, 1))
{
}

void MemorySource::add(std::vector<measure::Reading> readings)
{
    for (measure::Reading& reading : readings)
        queue_.push_back({nextSeq_++, std::move(reading)});
    while (queue_.size() > limit_) {
        queue_.pop_front();
        ++dropped_;
    }
}

std::vector<StoredReading> MemorySource::readings(qint64 after, qint64 before, int limit)
{
    std::vector<StoredReading> found;
    for (auto it = std::lower_bound(queue_.begin(), queue_.end(), after + 1, bySeq);
         it != queue_.end() && it->seq < before && int(found.size()) < limit; ++it)
        found.push_back(*it);
    return found;
}

qint64 MemorySource::count(qint64 after, qint64 before)
{
    const auto first = std::lower_bound(queue_.begin(), queue_.end(), after + 1, bySeq);
    const auto last = std::lower_bound(first, queue_.end(), before, bySeq);
    return last - first;
}

std::optional<AckedRanges> MemorySource::loadAcked(const QString& destination)
{
    const auto it = acked_.find(destination);
    if (it == acked_.end())
        return std::nullopt;
    return it->second;
}

bool MemorySource::saveAcked(const QString& destination, const AckedRanges& acked)
{
    acked_[destination] = acked;
    // What the broker has is not needed any more.
    std::erase_if(queue_, [&](const StoredReading& stored) { return acked.contains(stored.seq); });
    return true;
}

HistorySource::HistorySource(const QString& directory)
    : path_(QDir(directory.isEmpty() ? QDir::currentPath() : directory).filePath(history::kHistoryFileName))
    , connectionName_(uniqueConnectionName())
{
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
    db_.setDatabaseName(path_);
    // The recorder writes in the other thread; a wait for its lock holds up only publishing.
    db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
}

HistorySource::~HistorySource()
{
    if (db_.isOpen())
        db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
}

bool HistorySource::fail(const QString& reason)
{
    problem_ = QStringLiteral("The measurement history \"%1\" cannot be read for publishing: %2")
                   .arg(QDir::toNativeSeparators(path_), reason);
    if (db_.isOpen())
        db_.close();
    return false;
}

bool HistorySource::open()
{
    if (db_.isOpen())
        return true;
    // Only a regular file that the recorder made: opening a missing name would create it.
    const QFileInfo info(path_);
    if (!info.exists()) {
        problem_.clear();
        return false;
    }
    if (info.isSymLink() || !info.isFile())
        return fail(QStringLiteral("it is not a regular file"));
    if (!db_.open())
        return fail(db_.lastError().text());
    if (!hasTable(QStringLiteral("readings"))) {
        // The recorder has not made its tables yet.
        db_.close();
        return false;
    }
    problem_.clear();
    return true;
}

bool HistorySource::hasTable(const QString& name)
{
    QSqlQuery query(db_);
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type IN ('table', 'view') AND name = ?"));
    query.bindValue(0, name);
    if (!query.exec() || !query.next()) {
        fail(query.lastError().text());
        return false;
    }
    problem_.clear();
    return query.value(0).toInt() > 0;
}

std::vector<StoredReading> HistorySource::readings(qint64 after, qint64 before, int limit)
{
    std::vector<StoredReading> found;
    if (!open())
        return found;
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    query.prepare(selectReadings());
    query.bindValue(0, after);
    query.bindValue(1, before);
    query.bindValue(2, limit);
    if (!query.exec()) {
        fail(query.lastError().text());
        return found;
    }
    while (query.next()) {
        StoredReading stored;
        stored.seq = query.value(0).toLongLong();
        stored.reading = history::readingAt(query);
        found.push_back(std::move(stored));
    }
    problem_.clear();
    return found;
}

qint64 HistorySource::count(qint64 after, qint64 before)
{
    if (!open())
        return 0;
    QSqlQuery query(db_);
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM readings WHERE id > ? AND id < ?"));
    query.bindValue(0, after);
    query.bindValue(1, before);
    if (!query.exec() || !query.next()) {
        fail(query.lastError().text());
        return 0;
    }
    return query.value(0).toLongLong();
}

qint64 HistorySource::newest()
{
    if (!open())
        return 0;
    QSqlQuery query(db_);
    if (!query.exec(QStringLiteral("SELECT coalesce(MAX(id), 0) FROM readings")) || !query.next()) {
        fail(query.lastError().text());
        return 0;
    }
    return query.value(0).toLongLong();
}

qint64 HistorySource::newestBefore(qint64 timeMs)
{
    if (!open())
        return 0;
    // From the newest backwards: only the few readings since the publisher was made are passed.
    QSqlQuery query(db_);
    query.prepare(
        QStringLiteral("SELECT coalesce((SELECT id FROM readings WHERE time_ms < ? ORDER BY id DESC LIMIT 1), 0)"));
    query.bindValue(0, timeMs);
    if (!query.exec() || !query.next()) {
        fail(query.lastError().text());
        return 0;
    }
    return query.value(0).toLongLong();
}

std::optional<AckedRanges> HistorySource::loadAcked(const QString& destination)
{
    if (!open() || !hasTable(QStringLiteral("mqtt_acked")))
        return std::nullopt;
    QSqlQuery query(db_);
    query.prepare(QStringLiteral("SELECT first_id, last_id FROM mqtt_acked WHERE destination = ? ORDER BY first_id"));
    query.bindValue(0, destination);
    if (!query.exec()) {
        fail(query.lastError().text());
        return std::nullopt;
    }
    std::vector<AckedRanges::Range> ranges;
    while (query.next())
        ranges.emplace_back(query.value(0).toLongLong(), query.value(1).toLongLong());
    if (ranges.empty())
        return std::nullopt;
    return AckedRanges::fromRanges(ranges);
}

bool HistorySource::saveAcked(const QString& destination, const AckedRanges& acked)
{
    // A file of an older layout gets the table from the recorder; until then this is kept in memory.
    if (!open() || !hasTable(QStringLiteral("mqtt_acked")))
        return false;
    if (!db_.transaction())
        return fail(db_.lastError().text());
    QSqlQuery query(db_);
    query.prepare(QStringLiteral("DELETE FROM mqtt_acked WHERE destination = ?"));
    query.bindValue(0, destination);
    bool ok = query.exec();
    if (ok)
        ok = query.prepare(QStringLiteral("INSERT INTO mqtt_acked (destination, first_id, last_id) VALUES (?, ?, ?)"));
    for (const auto& [first, last] : acked.ranges()) {
        if (!ok)
            break;
        query.bindValue(0, destination);
        query.bindValue(1, first);
        query.bindValue(2, last);
        ok = query.exec();
    }
    if (!ok || !db_.commit()) {
        const QString reason = ok ? db_.lastError().text() : query.lastError().text();
        query = QSqlQuery();
        db_.rollback();
        return fail(reason);
    }
    problem_.clear();
    return true;
}

} // namespace publish
