#include "history/Recorder.h"

#include "common/Logging.h"
#include "history/HistorySchema.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>

namespace history {

namespace {

constexpr char kInsert[] = "INSERT INTO readings (time_ms, channel, tag, type, ok, value, unit, temperature,"
                           " value2, unit2, total_day, total, text, outcome) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)";

// SQLite's primary result codes for a file that is not a database or is damaged.
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADatabase = 26;

QVariant number(const measure::Number& value)
{
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<double>());
}

QVariant text(const measure::Text& value)
{
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<QString>());
}

QString uniqueConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("zentlog-history-%1").arg(++counter);
}

} // namespace

Recorder::Recorder(Options options)
    : options_(std::move(options))
    , path_(QDir(options_.directory.isEmpty() ? QDir::currentPath() : options_.directory).filePath(kHistoryFileName))
    , connectionName_(uniqueConnectionName())
{
    if (!options_.clock)
        options_.clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
    db_.setDatabaseName(path_);
    db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(options_.busyTimeoutMs));
}

Recorder::~Recorder()
{
    close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
}

qint64 Recorder::now() const
{
    return options_.clock();
}

bool Recorder::recordCycle(std::vector<measure::Reading> readings)
{
    for (measure::Reading& reading : readings)
        pending_.push_back(std::move(reading));
    if (pending_.size() > options_.maxPending) {
        pending_.erase(pending_.begin(),
                       pending_.begin() + static_cast<std::ptrdiff_t>(pending_.size() - options_.maxPending));
        if (!dropReported_) {
            dropReported_ = true;
            if (options_.report)
                options_.report(QStringLiteral("The measurement history \"%1\" has not been writable for a long "
                                               "time: only the latest %2 readings are kept, older ones are dropped.")
                                    .arg(QDir::toNativeSeparators(path_))
                                    .arg(options_.maxPending));
        }
    }
    // While the file is unusable it is tried again only every few seconds, so that an outage
    // costs the cycles nothing.
    if (failing_ && now() < nextTryMs_)
        return false;
    return writePending();
}

bool Recorder::open(QString& reason)
{
    if (db_.isOpen() && insert_)
        return true;
    // Only a regular file is written: a link or a device at the name is left alone.
    const QFileInfo info(path_);
    if (info.isSymLink() || (info.exists() && !info.isFile())) {
        reason = QStringLiteral("it is not a regular file");
        return false;
    }
    if (!db_.open()) {
        reason = db_.lastError().text();
        return false;
    }
    QSqlQuery query(db_);
    for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL"}) {
        if (!query.exec(QString::fromLatin1(pragma))) {
            const QSqlError error = query.lastError();
            query = QSqlQuery();
            close();
            failed(error, QString());
            return false;
        }
    }
    query = QSqlQuery();
    if (const QString problem = ensureSchema(db_); !problem.isEmpty()) {
        const QSqlError error = db_.lastError();
        close();
        // ensureSchema gives the reason as text; a damaged file still shows in it.
        failed(error.type() != QSqlError::NoError ? error : QSqlError(problem, {}, QSqlError::StatementError),
               problem);
        return false;
    }
    insert_ = std::make_unique<QSqlQuery>(db_);
    addToMinute_ = std::make_unique<QSqlQuery>(db_);
    for (QSqlQuery* statement : {insert_.get(), addToMinute_.get()}) {
        if (!statement->prepare(QString::fromLatin1(statement == insert_.get() ? kInsert : kAddToMinute))) {
            const QSqlError error = statement->lastError();
            close();
            failed(error, QString());
            return false;
        }
    }
    return true;
}

void Recorder::close()
{
    insert_.reset();
    addToMinute_.reset();
    if (db_.isOpen())
        db_.close();
}

bool Recorder::writePending()
{
    QString reason;
    if (!open(reason)) {
        if (!reason.isEmpty())
            fault(reason);
        return false;
    }
    if (!db_.transaction()) {
        failed(db_.lastError(), QString());
        return false;
    }
    for (const measure::Reading& r : pending_) {
        const bool ok = r.ok;
        insert_->bindValue(0, r.timeMs);
        insert_->bindValue(1, r.channel);
        insert_->bindValue(2, r.tag);
        insert_->bindValue(3, r.typeName);
        insert_->bindValue(4, ok ? 1 : 0);
        insert_->bindValue(5, number(ok ? r.shown.value : std::nullopt));
        insert_->bindValue(6, text(ok ? r.shown.unit : std::nullopt));
        insert_->bindValue(7, number(ok ? r.shown.temperature : std::nullopt));
        insert_->bindValue(8, number(ok ? r.shown.value2 : std::nullopt));
        insert_->bindValue(9, text(ok ? r.shown.unit2 : std::nullopt));
        insert_->bindValue(10, number(ok ? r.shown.totalDay : std::nullopt));
        insert_->bindValue(11, number(ok ? r.shown.total : std::nullopt));
        insert_->bindValue(12, r.shown.text);
        insert_->bindValue(13, ok ? QStringLiteral("value") : r.outcome.code());
        if (!insert_->exec() || !addToMinute(r, insert_->lastInsertId())) {
            const QSqlError error = insert_->lastError().isValid() ? insert_->lastError() : addToMinute_->lastError();
            db_.rollback();
            failed(error, QString());
            return false;
        }
    }
    if (!purgeBatch())
        return false;
    if (!db_.commit()) {
        const QSqlError error = db_.lastError();
        db_.rollback();
        failed(error, QString());
        return false;
    }
    pending_.clear();
    failing_ = false;
    dropReported_ = false;
    return true;
}

bool Recorder::addToMinute(const measure::Reading& r, const QVariant& id)
{
    // In the readings' own transaction: the minutes never disagree with the readings.
    const bool ok = r.ok;
    const bool hasValue = ok && r.shown.value.has_value();
    const bool hasTemperature = ok && r.shown.temperature.has_value();
    const QVariant value = number(hasValue ? r.shown.value : std::nullopt);
    const QVariant temperature = number(hasTemperature ? r.shown.temperature : std::nullopt);
    const QVariant bound[] = {
        r.channel, r.timeMs >= 0 ? r.timeMs / 60000 : (r.timeMs - 59999) / 60000, ok ? 1 : 0, ok ? 0 : 1,
        hasValue ? 1 : 0, value, value, hasValue ? value : QVariant(0.0),
        hasTemperature ? 1 : 0, temperature, temperature, hasTemperature ? temperature : QVariant(0.0),
        ok ? r.timeMs : qint64(0), r.timeMs, r.timeMs, r.timeMs,
        ok && r.shown.totalDay ? QVariant(r.timeMs) : QVariant(QMetaType::fromType<qint64>()), id,
    };
    for (int i = 0; i < static_cast<int>(std::size(bound)); ++i)
        addToMinute_->bindValue(i, bound[i]);
    return addToMinute_->exec();
}

bool Recorder::purgeBatch()
{
    if (!purging_) {
        if (now() < nextPurgeMs_)
            return true;
        purging_ = true;
    }
    const qint64 cut = now() - qint64(options_.retentionDays) * 24 * 3600 * 1000;
    // One small batch per cycle keeps every cycle short however much has aged at once; the
    // channel list lets SQLite find the old rows through the (channel, time_ms) index.
    QSqlQuery query(db_);
    query.prepare(QStringLiteral("DELETE FROM readings WHERE id IN (SELECT id FROM readings"
                                 " WHERE channel IN (0,1,2,3) AND time_ms < ? LIMIT ?)"));
    query.addBindValue(cut);
    query.addBindValue(options_.purgeBatch);
    if (!query.exec()) {
        const QSqlError error = query.lastError();
        query = QSqlQuery();
        db_.rollback();
        failed(error, QString());
        return false;
    }
    if (query.numRowsAffected() < options_.purgeBatch) {
        // The readings of the period are gone: so are their minutes.
        QSqlQuery minutes(db_);
        minutes.prepare(QStringLiteral("DELETE FROM minutes WHERE channel IN (0,1,2,3) AND minute < ?"));
        minutes.addBindValue(cut / 60000);
        if (!minutes.exec()) {
            const QSqlError error = minutes.lastError();
            minutes = QSqlQuery();
            query = QSqlQuery();
            db_.rollback();
            failed(error, QString());
            return false;
        }
        purging_ = false;
        nextPurgeMs_ = now() + options_.purgeIntervalMs;
    }
    return true;
}

bool Recorder::isDamage(const QSqlError& error) const
{
    bool isNumber = false;
    const int code = error.nativeErrorCode().toInt(&isNumber);
    if (isNumber && ((code & 0xff) == kSqliteCorrupt || (code & 0xff) == kSqliteNotADatabase))
        return true;
    const QString text = error.text();
    return text.contains(QLatin1String("not a database")) || text.contains(QLatin1String("malformed"));
}

void Recorder::failed(const QSqlError& error, const QString& what)
{
    QString reason = error.type() != QSqlError::NoError ? error.databaseText() : what;
    if (reason.isEmpty())
        reason = error.text();
    close();
    if (isDamage(error)) {
        moveDamagedAside(reason);
        return;
    }
    fault(reason);
}

void Recorder::fault(const QString& reason)
{
    nextTryMs_ = now() + options_.retryIntervalMs;
    if (failing_)
        return;
    failing_ = true;
    qCWarning(lcHistory) << "cannot write" << path_ << ":" << reason;
    if (options_.report)
        options_.report(QStringLiteral("The measurement history \"%1\" cannot be written: %2.\n\n"
                                       "The measurement goes on. The readings are kept meanwhile and written "
                                       "as soon as the file can be written again.")
                            .arg(QDir::toNativeSeparators(path_), reason));
}

void Recorder::moveDamagedAside(const QString& reason)
{
    const QString aside =
        path_ + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    bool moved = QFile::rename(path_, aside);
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString part = path_ + QLatin1String(suffix);
        if (QFileInfo::exists(part))
            moved = QFile::rename(part, aside + QLatin1String(suffix)) && moved;
    }
    if (!moved) {
        fault(QStringLiteral("the file is damaged (%1) and cannot be moved aside").arg(reason));
        return;
    }
    if (options_.report)
        options_.report(QStringLiteral("The measurement history \"%1\" was damaged (%2). It has been moved to "
                                       "\"%3\" and a new history is started.")
                            .arg(QDir::toNativeSeparators(path_), reason, QDir::toNativeSeparators(aside)));
    // The readings go into the new file at once.
    failing_ = false;
    QString openReason;
    if (!open(openReason) && !openReason.isEmpty())
        fault(openReason);
}

} // namespace history
