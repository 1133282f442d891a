#include "history/HistoryRescue.h"

#include "common/Logging.h"
#include "history/HistorySchema.h"
#include "history/SqliteHandle.h"

#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>

namespace history {

namespace {

// Rows per statement: a few milliseconds of copying each.
constexpr int kSliceRows = 5000;

QString makeRescuedFile(const QString& path)
{
    static std::atomic<int> counter{0};
    const QString name = QStringLiteral("zentlog-rescue-make-%1").arg(++counter);
    QString problem;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open())
            problem = db.lastError().text();
        else
            problem = ensureSchema(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return problem;
}

} // namespace

HistoryRescue::HistoryRescue(const QString& connectionName, const QString& rescuedPath)
    : connectionName_(connectionName)
    , rescuedPath_(rescuedPath)
    , db_(QSqlDatabase::database(connectionName, false))
{
    int persist = 1;
    sqlite3* handle = sqliteHandle(db_);
    ready_ = handle && sqlite3_file_control(handle, "main", SQLITE_FCNTL_PERSIST_WAL, &persist) == SQLITE_OK;
    if (!ready_)
        qCWarning(lcHistory) << "the lost history's WAL cannot be kept";
    if (const QString problem = makeRescuedFile(rescuedPath_); !problem.isEmpty()) {
        fail(problem);
        return;
    }
    QSqlQuery attach(db_);
    attach.prepare(QStringLiteral("ATTACH DATABASE ? AS rescue"));
    attach.addBindValue(rescuedPath_);
    if (!attach.exec())
        fail(attach.lastError().text());
}

HistoryRescue::~HistoryRescue()
{
    close();
}

void HistoryRescue::close()
{
    if (db_.isOpen())
        db_.close();
    db_ = QSqlDatabase();
    if (!connectionName_.isEmpty())
        QSqlDatabase::removeDatabase(std::exchange(connectionName_, QString()));
}

void HistoryRescue::fail(const QString& reason)
{
    problem_ = reason;
    done_ = true;
    qCWarning(lcHistory) << "the rescue into" << rescuedPath_ << "stopped:" << reason;
    close();
}

bool HistoryRescue::step(int budgetMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done_ && clock.elapsed() < budgetMs) {
        if (!copySlice())
            return true;
    }
    return done_;
}

void HistoryRescue::finish()
{
    while (!done_ && copySlice()) {
    }
}

bool HistoryRescue::copySlice()
{
    QSqlQuery query(db_);
    switch (stage_) {
    case Stage::Readings: {
        query.prepare(QStringLiteral("INSERT INTO rescue.readings (%1) SELECT %1 FROM main.readings"
                                     " WHERE id > ? ORDER BY id LIMIT %2")
                          .arg(QLatin1String(kReadingColumns))
                          .arg(kSliceRows));
        query.addBindValue(lastId_);
        if (!query.exec()) {
            fail(query.lastError().text());
            return false;
        }
        const int rows = query.numRowsAffected();
        copied_ += rows;
        if (rows < kSliceRows) {
            stage_ = Stage::Minutes;
            break;
        }
        if (!query.exec(QStringLiteral("SELECT max(id) FROM rescue.readings")) || !query.next()) {
            fail(query.lastError().text());
            return false;
        }
        lastId_ = query.value(0).toLongLong();
        break;
    }
    case Stage::Minutes: {
        query.prepare(QStringLiteral("INSERT OR REPLACE INTO rescue.minutes SELECT * FROM main.minutes"
                                     " WHERE (channel, minute) > (?, ?) ORDER BY channel, minute LIMIT %1")
                          .arg(kSliceRows));
        query.addBindValue(lastChannel_);
        query.addBindValue(lastMinute_);
        if (!query.exec()) {
            fail(query.lastError().text());
            return false;
        }
        if (query.numRowsAffected() < kSliceRows) {
            stage_ = Stage::Acked;
            break;
        }
        if (!query.exec(QStringLiteral("SELECT channel, minute FROM rescue.minutes"
                                       " ORDER BY channel DESC, minute DESC LIMIT 1"))
            || !query.next()) {
            fail(query.lastError().text());
            return false;
        }
        lastChannel_ = query.value(0).toLongLong();
        lastMinute_ = query.value(1).toLongLong();
        break;
    }
    case Stage::Acked:
        if (!query.exec(QStringLiteral("INSERT OR REPLACE INTO rescue.mqtt_acked SELECT * FROM main.mqtt_acked"))) {
            fail(query.lastError().text());
            return false;
        }
        query = QSqlQuery();
        stage_ = Stage::Done;
        done_ = true;
        qCInfo(lcHistory) << copied_ << "readings rescued into" << rescuedPath_;
        close();
        return false;
    case Stage::Done:
        return false;
    }
    return true;
}

} // namespace history
