#include "history/LayoutConversion.h"

#include "common/Logging.h"
#include "history/HistorySchema.h"
#include "history/SampleWriter.h"
#include "history/SqliteHandle.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QVariant>

#include <chrono>

namespace history {

namespace {

// The minutes of a slice of readings (ids after ? up to ?), added to what the minutes hold.
QString addSliceToMinutes()
{
    QString sql = QString::fromLatin1(kFillMinutes);
    sql.replace(QLatin1String("INSERT OR REPLACE INTO"), QLatin1String("INSERT INTO"));
    sql.replace(QLatin1String("WHERE time_ms >= 0"), QLatin1String("WHERE time_ms >= 0 AND id > ? AND id <= ?"));
    const QString merge = QString::fromLatin1(kAddToMinute);
    return sql + merge.mid(merge.indexOf(QLatin1String(" ON CONFLICT")));
}

class Conversion {
public:
    Conversion(QSqlDatabase db, const ConversionOptions& options)
        : db_(std::move(db))
        , options_(options)
        , writer_(db_)
    {
    }

    QString run()
    {
        QSqlQuery query(db_);
        for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL"}) {
            if (!query.exec(QString::fromLatin1(pragma)))
                return query.lastError().text();
        }
        QString problem;
        if (!holdsTableLayout(db_, &problem))
            return problem;
        if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
            return query.lastError().text();
        fillMinutes_ = query.value(0).toInt() < 3;
        if (const QString error = ensureSchema(db_); !error.isEmpty())
            return error;
        for (const char* statement : {kCreateSeries, kCreateSeriesIndex, kCreateSamples, kCreateSamplesIndex}) {
            if (!query.exec(QString::fromLatin1(statement)))
                return query.lastError().text();
        }
        if (!query.exec(QStringLiteral("SELECT (SELECT count(*) FROM samples), (SELECT count(*) FROM readings)"))
            || !query.next())
            return query.lastError().text();
        copied_ = query.value(0).toLongLong();
        all_ = query.value(1).toLongLong();
        query = QSqlQuery();
        if (!writer_.prepare())
            return writer_.lastError().text();
        for (;;) {
            if (options_.cancel && options_.cancel->load())
                return QStringLiteral("stopped");
            bool done = false;
            if (const QString error = slice(done); !error.isEmpty()) {
                QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
                return error;
            }
            if (done)
                return {};
            if (options_.progress)
                options_.progress(copied_, all_);
        }
    }

private:
    // One transaction: the next slice of readings, or, when none is left, the switch to the view.
    QString slice(bool& done)
    {
        QSqlQuery query(db_);
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral("BEGIN IMMEDIATE")))
            return query.lastError().text();
        if (!query.exec(QStringLiteral("SELECT coalesce(max(id), 0) FROM samples")) || !query.next())
            return query.lastError().text();
        const qint64 after = query.value(0).toLongLong();
        query.prepare(QStringLiteral("SELECT %1 FROM readings WHERE id > ? ORDER BY id LIMIT ?").arg(QLatin1String(kReadingColumns)));
        query.addBindValue(after);
        query.addBindValue(options_.sliceRows);
        if (!query.exec())
            return query.lastError().text();
        qint64 last = after;
        ReadingRow row;
        while (query.next()) {
            for (int i = 0; i < static_cast<int>(row.size()); ++i)
                row[static_cast<std::size_t>(i)] = query.value(i);
            if (!writer_.write(row))
                return writer_.lastError().text();
            last = row[0].toLongLong();
            ++copied_;
        }
        if (query.lastError().isValid())
            return query.lastError().text();
        query.finish();
        if (last > after && fillMinutes_) {
            QSqlQuery minutes(db_);
            minutes.prepare(addSliceToMinutes());
            minutes.addBindValue(after);
            minutes.addBindValue(last);
            if (!minutes.exec())
                return minutes.lastError().text();
        }
        if (last == after) {
            done = true;
            for (const char* statement : {"DROP INDEX IF EXISTS readings_channel_time", "DROP TABLE readings",
                                           kCreateReadingsView, kCreateReadingsInsert, kCreateReadingsDelete}) {
                if (!query.exec(QString::fromLatin1(statement)))
                    return query.lastError().text();
            }
            if (!query.exec(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion)))
                return query.lastError().text();
        }
        if (!query.exec(QStringLiteral("COMMIT")))
            return query.lastError().text();
        return {};
    }

    QSqlDatabase db_;
    const ConversionOptions& options_;
    SampleWriter writer_;
    bool fillMinutes_ = false;
    qint64 copied_ = 0;
    qint64 all_ = 0;
};

// Lets a running statement see `cancel`: SQLite calls this every few thousand steps and stops the
// statement (rolled back, SQLITE_INTERRUPT) when it returns non-zero.
int cancelled(void* cancel)
{
    return static_cast<const std::atomic<bool>*>(cancel)->load() ? 1 : 0;
}

// The space the old table held goes back to the disk: the file is written anew (in a transaction
// of SQLite's own) when more than a quarter of it is free. The file is converted already, so this
// is a best effort that never fails the conversion; what it leaves is free pages that the next
// readings reuse. It copies the whole file twice (a copy in SQLite's temporary folder, then the
// log), so it is skipped where the disk cannot hold that: a full flash card would stop the
// recording. It takes as long as the copy (about half a minute for a month of readings), so an
// end of the recorder meanwhile stops it at once.
void giveBackSpace(QSqlDatabase& db, const QString& path, const std::atomic<bool>* cancel)
{
    const QString file = QDir::toNativeSeparators(path);
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT (SELECT freelist_count FROM pragma_freelist_count),"
                                   " (SELECT page_count FROM pragma_page_count), (SELECT page_size FROM pragma_page_size)"))
        || !query.next())
        return;
    const qint64 freePages = query.value(0).toLongLong();
    const qint64 pages = query.value(1).toLongLong();
    const qint64 usedBytes = (pages - freePages) * query.value(2).toLongLong();
    query.finish();
    if (freePages * 4 <= pages)
        return;
    const qint64 available = QStorageInfo(QFileInfo(path).absolutePath()).bytesAvailable();
    if (available >= 0 && available < 2 * usedBytes + (64 << 20)) {
        qCInfo(lcHistory).noquote() << QStringLiteral("\"%1\" keeps its free space for the next readings: the disk has "
                                                      "%2 MB free, too little to write the file anew")
                                           .arg(file)
                                           .arg(available >> 20);
        return;
    }
    sqlite3* handle = sqliteHandle(db);
    if (handle && cancel)
        sqlite3_progress_handler(handle, 10000, cancelled, const_cast<std::atomic<bool>*>(cancel));
    const bool vacuumed = query.exec(QStringLiteral("VACUUM"));
    if (handle)
        sqlite3_progress_handler(handle, 0, nullptr, nullptr);
    if (!vacuumed && !(cancel && cancel->load()))
        qCWarning(lcHistory).noquote() << QStringLiteral("\"%1\" keeps its free space for the next readings: it could "
                                                         "not be written anew: %2")
                                              .arg(file, query.lastError().text());
    // The log holds a copy of the file after a VACUUM (or part of one): it goes back to nothing.
    query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
}

} // namespace

QString convertLayout(const QString& path, const ConversionOptions& options)
{
    static std::atomic<int> counter{0};
    const QString name = QStringLiteral("zentlog-history-convert-%1").arg(++counter);
    QString problem;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            problem = db.lastError().text();
        } else {
            Conversion conversion(db, options);
            problem = conversion.run();
            if (problem.isEmpty())
                giveBackSpace(db, path, options.cancel);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return problem;
}

BackgroundConversion::BackgroundConversion(const QString& path)
{
    result_ = std::async(std::launch::async, [this, path] {
        QElapsedTimer timer;
        timer.start();
        qint64 nextLogMs = 0;
        ConversionOptions options;
        options.cancel = &cancel_;
        options.progress = [&](qint64 copied, qint64 all) {
            if (timer.elapsed() < nextLogMs)
                return;
            nextLogMs = timer.elapsed() + 5000;
            qCInfo(lcHistory).noquote() << QStringLiteral("converting \"%1\" to the compact layout: %2 of %3 readings")
                                               .arg(QDir::toNativeSeparators(path))
                                               .arg(copied)
                                               .arg(all);
        };
        qCInfo(lcHistory).noquote() << QStringLiteral("converting \"%1\" to the compact layout").arg(QDir::toNativeSeparators(path));
        const QString problem = convertLayout(path, options);
        if (problem.isEmpty())
            qCInfo(lcHistory).noquote() << QStringLiteral("\"%1\" converted to the compact layout in %2 s")
                                               .arg(QDir::toNativeSeparators(path))
                                               .arg(double(timer.elapsed()) / 1000.0, 0, 'f', 1);
        return problem;
    });
}

BackgroundConversion::~BackgroundConversion()
{
    cancel_ = true;
    if (result_.valid())
        result_.wait();
}

bool BackgroundConversion::finished() const
{
    return result_.valid() && result_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

QString BackgroundConversion::problem()
{
    return result_.valid() ? result_.get() : QString();
}

} // namespace history
