#include "history/Recorder.h"

#include "common/Logging.h"
#include "history/HistoryRescue.h"
#include "history/HistorySchema.h"
#include "history/LayoutConversion.h"
#include "history/SampleWriter.h"

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

// `path` + `what` + the local time, with "-2", "-3", ... when that name is taken (two files set
// aside within one second).
QString asideName(const QString& path, const char* what)
{
    const QString base =
        path + QLatin1String(what) + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = base;
    for (int n = 2; QFileInfo::exists(name) || QFileInfo(name).isSymLink(); ++n)
        name = base + QStringLiteral("-%1").arg(n);
    return name;
}

} // namespace

Recorder::Recorder(Options options)
    : options_(std::move(options))
    , path_(QDir(options_.directory.isEmpty() ? QDir::currentPath() : options_.directory).filePath(kHistoryFileName))
    , schedule_(options_.writeIntervalSeconds)
{
    if (!options_.clock)
        options_.clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
    makeConnection();
}

Recorder::~Recorder()
{
    // A conversion under way stops after its slice; what waits goes into the earlier layout.
    conversion_.reset();
    keepTableLayout_ = true;
    integrity_.cancel();
    checkpointer_.cancel();
    // Nobody listens any more: what cannot be written now is logged, with its number.
    options_.report = {};
    options_.fileLost = {};
    const std::size_t waiting = pending_.size();
    if (!flush())
        qCWarning(lcHistory).noquote() << QStringLiteral("%1 of %2 readings waiting could not be written into \"%3\" "
                                                         "at the end and are lost: %4")
                                              .arg(pending_.size())
                                              .arg(waiting)
                                              .arg(QDir::toNativeSeparators(path_), lastProblem_);
    // The readings are safe in the recorder's own file first; a copy still under way gets what
    // time is left.
    close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
    // A large lost file may take long to copy: the program's end waits ten seconds for it at most
    // (what is copied by then stays in the copy).
    if (rescue_ && !rescue_->step(10000))
        qCWarning(lcHistory) << "the copy of the lost history into" << rescue_->rescuedPath() << "ends unfinished after"
                             << rescue_->copiedReadings() << "readings";
}

void Recorder::makeConnection()
{
    connectionName_ = uniqueConnectionName();
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
    db_.setDatabaseName(path_);
    db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(options_.busyTimeoutMs));
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
            tell(QStringLiteral("The measurement history \"%1\" has not been writable for a long time: only the "
                                "latest %2 readings are kept, older ones are dropped.")
                     .arg(QDir::toNativeSeparators(path_))
                     .arg(options_.maxPending));
        }
    }
    // While the file is unusable it is tried again only every few seconds, so that an outage
    // costs the cycles nothing.
    if (schedule_.cycleEnded(now()) && (!failing_ || now() >= nextTryMs_) && writePending()) {
        schedule_.committed();
        watchFile();
    }
    watchIntegrity();
    watchCheckpoint();
    if (rescue_ && rescue_->step(options_.rescueBudgetMs)) {
        if (rescue_->failed())
            tell(QStringLiteral("Copying the readings of the lost measurement history into \"%1\" stopped after %2 "
                                "readings: %3.")
                     .arg(QDir::toNativeSeparators(rescue_->rescuedPath()))
                     .arg(rescue_->copiedReadings())
                     .arg(rescue_->problem()));
        rescue_.reset();
    }
    return pending_.empty();
}

bool Recorder::flush()
{
    if (pending_.empty())
        return true;
    if (!writePending())
        return false;
    schedule_.committed();
    // Written into a file that has gone from the name they would be lost: the look is not put off.
    nextCheckMs_ = 0;
    watchFile();
    return pending_.empty();
}

void Recorder::watchCheckpoint()
{
    if (const std::optional<Checkpointer::Result> result = checkpointer_.takeResult();
        result && !result->problem.isEmpty())
        qCInfo(lcHistory) << "the checkpoint of the history could not run:" << result->problem;
    if (!checkpointer_.running() && db_.isOpen() && insert_ && now() >= nextCheckpointMs_) {
        nextCheckpointMs_ = now() + options_.checkpointIntervalMs;
        checkpointer_.start(path_);
    }
}

void Recorder::watchFile()
{
    if (now() < nextCheckMs_)
        return;
    nextCheckMs_ = now() + options_.checkIntervalMs;
    const FileChange change = checkHistoryFile(path_, opened_);
    if (change == FileChange::None) {
        unverified_.clear();
        verifiedId_ = lastId_;
        return;
    }
    startAgain(change);
}

void Recorder::letGo()
{
    // Every other connection to the file closes: the publisher's, a check and a checkpoint under way.
    integrity_.cancel();
    checkpointer_.cancel();
    if (options_.fileLost)
        options_.fileLost();
    requeued_ = unverified_.size();
    pending_.insert(pending_.begin(), std::make_move_iterator(unverified_.begin()),
                    std::make_move_iterator(unverified_.end()));
    unverified_.clear();
}

void Recorder::startAgain(FileChange change)
{
    letGo();
    insert_.reset();
    addToMinute_.reset();
    samples_.reset();
    // A rescue still running finishes first: two lost files never share the names.
    if (rescue_) {
        rescue_->finish();
        rescue_.reset();
    }
    QString kept;
    if (change == FileChange::Truncated) {
        // The name still leads to this file, cut short: closing it puts its WAL back into it,
        // and it is kept aside like any damaged file.
        close();
        const QString aside = asideName(path_, ".damaged-");
        kept = moveAside(aside)
            ? QStringLiteral("What it still holds has been moved to \"%1\" (\"zentlog-history recover\" rescues "
                             "what can be read from it).")
                  .arg(QDir::toNativeSeparators(aside))
            : QStringLiteral("It could not be moved aside.");
    } else {
        // The lost file is whole: what a broker has not acknowledged goes into the new file too,
        // where the publisher finds it.
        takeUnsent();
        // The connection to the lost file goes to the rescue; the recorder takes a new one.
        const QString rescued = asideName(path_, ".rescued-");
        const QString lost = connectionName_;
        db_ = QSqlDatabase();
        rescue_ = std::make_unique<HistoryRescue>(lost, rescued);
        // Someone else still reads the lost file: its copy is made now, before anything has the
        // names again.
        if (!rescue_->ready() && !rescue_->failed())
            rescue_->finish();
        kept = rescue_->failed()
            ? QStringLiteral("Its readings could not be copied out: %1.").arg(rescue_->problem())
            : QStringLiteral("The readings it held are copied to \"%1\".").arg(QDir::toNativeSeparators(rescued));
        if (!rescue_->ready() || rescue_->failed())
            rescue_.reset();
        // The lost file's "-wal" and "-shm" still at the name (only the file itself was removed
        // or replaced) would be taken for the new file's: they go (its connection keeps them open).
        for (const auto& [suffix, identity] : {std::pair{"-wal", walOpened_}, std::pair{"-shm", shmOpened_}}) {
            const QString part = path_ + QLatin1String(suffix);
            if (common::identityAt(part).sameFileAs(identity))
                QFile::remove(part);
        }
        makeConnection();
        // What took its place is kept, but not written into when it is no database.
        if (change == FileChange::Replaced && !holdsDatabase(path_)) {
            const QString aside = asideName(path_, ".damaged-");
            if (moveAside(aside))
                kept += QStringLiteral(" The file now at the name is no database: it has been moved to \"%1\".")
                            .arg(QDir::toNativeSeparators(aside));
        }
    }
    tell(QStringLiteral("The measurement history \"%1\" %2 while the program was writing it. %3 A new history is "
                        "started at that name, with the readings of the last few seconds written again.")
             .arg(QDir::toNativeSeparators(path_), describe(change), kept));
    failing_ = false;
    writePending();
}

void Recorder::takeUnsent()
{
    // Per broker, everything up to the end of its first range of acknowledged ids (ids start at
    // 1, a range from 0 or 1 is "everything up to"); the least of them is where sending stopped.
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT min(CASE WHEN first_id <= 1 THEN last_id ELSE 0 END) FROM mqtt_acked a"
                                   " WHERE first_id = (SELECT min(first_id) FROM mqtt_acked b"
                                   " WHERE b.destination = a.destination)"))
        || !query.next() || query.isNull(0))
        return; // no broker, or the table cannot be read: the readings in memory go again
    const qint64 ackedUpTo = query.value(0).toLongLong();
    const qint64 from = std::min(ackedUpTo, verifiedId_);
    query.prepare(QStringLiteral("SELECT %1 FROM readings WHERE id > max(?, (SELECT max(id) FROM readings) - ?)"
                                 " ORDER BY id")
                      .arg(QLatin1String(kReadingColumns)));
    query.addBindValue(from);
    query.addBindValue(qint64(options_.maxPending));
    if (!query.exec())
        return;
    std::vector<measure::Reading> unsent;
    while (query.next())
        unsent.push_back(readingAt(query));
    if (query.lastError().isValid())
        return;
    // They include what was written since the name was last seen whole, which letGo() put back.
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(requeued_));
    pending_.insert(pending_.begin(), std::make_move_iterator(unsent.begin()), std::make_move_iterator(unsent.end()));
    requeued_ = unsent.size();
}

void Recorder::watchIntegrity()
{
    if (const std::optional<IntegrityCheck::Result> result = integrity_.takeResult()) {
        // A check of a file the recorder has since left says nothing about the one it writes.
        if (result->damaged && db_.isOpen() && checked_.sameFileAs(opened_)) {
            letGo();
            close();
            moveDamagedAside(result->reason);
        }
    }
    if (!integrity_.running() && db_.isOpen() && insert_ && now() >= nextIntegrityMs_) {
        nextIntegrityMs_ = now() + options_.integrityIntervalMs;
        checked_ = opened_;
        integrity_.start(path_);
    }
}

bool Recorder::open(QString& reason)
{
    if (db_.isOpen() && insert_)
        return true;
    // A file of an earlier layout is being converted: the readings wait in memory meanwhile.
    if (conversion_) {
        if (!conversion_->finished())
            return false;
        const QString problem = conversion_->problem();
        conversion_.reset();
        if (!problem.isEmpty()) {
            // The readings go on into the earlier layout; the next start tries again.
            keepTableLayout_ = true;
            tell(QStringLiteral("The measurement history \"%1\" could not be converted to the compact layout: %2. "
                                "Its readings are kept in the earlier layout meanwhile.")
                     .arg(QDir::toNativeSeparators(path_), problem));
        }
    }
    // Only a regular file is written: a link or a device at the name is left alone.
    const QFileInfo info(path_);
    if (info.isSymLink() || (info.exists() && !info.isFile())) {
        reason = QStringLiteral("it is not a regular file");
        return false;
    }
    if (!db_.open()) {
        reason = openFailure(db_.lastError().text());
        return false;
    }
    opened_ = common::identityAt(path_);
    QSqlQuery query(db_);
    // Each commit reaches the disk before the next cycle (a power cut loses only what waits in
    // memory), and no commit copies the log into the file: the checkpointer does that.
    for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA wal_autocheckpoint=0"}) {
        if (!query.exec(QString::fromLatin1(pragma))) {
            const QSqlError error = query.lastError();
            query = QSqlQuery();
            close();
            failed(error, QString());
            return false;
        }
    }
    query = QSqlQuery();
    QString layoutProblem;
    tableLayout_ = holdsTableLayout(db_, &layoutProblem);
    // A file older than the minutes gets them all at its conversion: none are added before.
    if (tableLayout_) {
        QSqlQuery version(db_);
        minutesKept_ = version.exec(QStringLiteral("PRAGMA user_version")) && version.next() && version.value(0).toInt() >= 3;
    } else {
        minutesKept_ = true;
    }
    if (tableLayout_ && !keepTableLayout_) {
        close();
        conversion_ = std::make_unique<BackgroundConversion>(path_);
        return false;
    }
    if (const QString problem = layoutProblem.isEmpty() ? ensureSchema(db_) : layoutProblem; !problem.isEmpty()) {
        const QSqlError error = db_.lastError();
        close();
        // ensureSchema gives the reason as text; a damaged file still shows in it.
        failed(error.type() != QSqlError::NoError ? error : QSqlError(problem, {}, QSqlError::StatementError),
               problem);
        return false;
    }
    // The WAL and its index exist once the tables have been read.
    walOpened_ = common::identityAt(path_ + QStringLiteral("-wal"));
    shmOpened_ = common::identityAt(path_ + QStringLiteral("-shm"));
    QSqlQuery newest(db_);
    lastId_ = newest.exec(QStringLiteral("SELECT coalesce(max(id), 0) FROM readings")) && newest.next()
        ? newest.value(0).toLongLong()
        : 0;
    verifiedId_ = lastId_;
    newest = QSqlQuery();
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
    if (!tableLayout_) {
        samples_ = std::make_unique<SampleWriter>(db_);
        if (!samples_->prepare()) {
            const QSqlError error = samples_->lastError();
            close();
            failed(error, QString());
            return false;
        }
    }
    return true;
}

QString Recorder::openFailure(const QString& databaseReason) const
{
    // SQLite says "unable to open database file" whatever the cause; the common ones are named.
    const QFileInfo file(path_);
    const QFileInfo folder(file.absolutePath());
    if (!folder.exists())
        return QStringLiteral("the folder \"%1\" does not exist").arg(QDir::toNativeSeparators(folder.filePath()));
    if (file.exists() && !file.isWritable())
        return QStringLiteral("the file is read-only");
    if (!file.exists() && !folder.isWritable())
        return QStringLiteral("the folder \"%1\" is read-only").arg(QDir::toNativeSeparators(folder.filePath()));
    return databaseReason;
}

void Recorder::close()
{
    insert_.reset();
    addToMinute_.reset();
    samples_.reset();
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
    // IMMEDIATE: the write lock is taken (or waited for) at the start. A deferred transaction that
    // reads first and then writes gets "database is locked" at once, without waiting, when another
    // connection (the alarm store, the publisher's acknowledgements) committed in between.
    if (QSqlQuery begin(db_); !begin.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        failed(begin.lastError(), QString());
        return false;
    }
    for (const measure::Reading& r : pending_) {
        const bool ok = r.ok;
        const ReadingRow row{QVariant(QMetaType::fromType<qint64>()),
                             r.timeMs,
                             r.channel,
                             r.tag,
                             r.typeName,
                             ok ? 1 : 0,
                             number(ok ? r.shown.value : std::nullopt),
                             text(ok ? r.shown.unit : std::nullopt),
                             number(ok ? r.shown.temperature : std::nullopt),
                             number(ok ? r.shown.value2 : std::nullopt),
                             text(ok ? r.shown.unit2 : std::nullopt),
                             number(ok ? r.shown.totalDay : std::nullopt),
                             number(ok ? r.shown.total : std::nullopt),
                             r.shown.text,
                             ok ? QStringLiteral("value") : r.outcome.code()};
        bool inserted = false;
        if (samples_) {
            inserted = samples_->write(row, &lastId_);
        } else {
            // The earlier layout (its conversion failed, or the recorder ends while it runs).
            for (int i = 1; i < static_cast<int>(row.size()); ++i)
                insert_->bindValue(i - 1, row[static_cast<std::size_t>(i)]);
            inserted = insert_->exec();
            if (inserted)
                lastId_ = insert_->lastInsertId().toLongLong();
        }
        if (!inserted || (minutesKept_ && !addToMinute(r, lastId_))) {
            const QSqlError error = samples_ && samples_->lastError().isValid() ? samples_->lastError()
                : insert_->lastError().isValid()                                ? insert_->lastError()
                                                                                : addToMinute_->lastError();
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
    // Kept until the name is seen to lead to this file (a few seconds at most, but bounded in any case).
    for (measure::Reading& reading : pending_)
        unverified_.push_back(std::move(reading));
    if (unverified_.size() > options_.maxPending)
        unverified_.erase(unverified_.begin(),
                          unverified_.begin() + static_cast<std::ptrdiff_t>(unverified_.size() - options_.maxPending));
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
    // The earlier layout is only written until it is converted.
    if (tableLayout_)
        return true;
    const qint64 cut = now() - qint64(options_.retentionDays) * 24 * 3600 * 1000;
    // One small batch per cycle keeps every cycle short however much has aged at once; the
    // samples' time index finds the old rows.
    QSqlQuery query(db_);
    query.prepare(QStringLiteral("DELETE FROM samples WHERE id IN (SELECT id FROM samples WHERE time_ms < ? LIMIT ?)"));
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
    if (isDamage(error)) {
        letGo();
        close();
        moveDamagedAside(reason);
        return;
    }
    close();
    fault(reason);
}

void Recorder::fault(const QString& reason)
{
    nextTryMs_ = now() + options_.retryIntervalMs;
    lastProblem_ = reason;
    if (failing_)
        return;
    failing_ = true;
    qCWarning(lcHistory) << "cannot write" << path_ << ":" << reason;
    // A full disk lets a write through now and then (a checkpoint frees the log's space for
    // reuse): the same reason again soon after a message is the same outage, told once.
    if (reason == toldReason_ && toldAtMs_ && now() - *toldAtMs_ < kSameOutageMs)
        return;
    toldReason_ = reason;
    toldAtMs_ = now();
    tell(QStringLiteral("The measurement history \"%1\" cannot be written: %2.\n\n"
                        "The measurement goes on. The newest %3 readings are kept meanwhile and written "
                        "as soon as the file can be written again.")
             .arg(QDir::toNativeSeparators(path_), reason)
             .arg(options_.maxPending));
}

void Recorder::tell(const QString& message) const
{
    if (options_.report)
        options_.report(message);
}

bool Recorder::moveAside(const QString& aside) const
{
    bool moved = QFile::rename(path_, aside);
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString part = path_ + QLatin1String(suffix);
        if (QFileInfo::exists(part))
            moved = QFile::rename(part, aside + QLatin1String(suffix)) && moved;
    }
    return moved;
}

void Recorder::moveDamagedAside(const QString& reason)
{
    const QString aside = asideName(path_, ".damaged-");
    if (!moveAside(aside)) {
        fault(QStringLiteral("the file is damaged (%1) and cannot be moved aside").arg(reason));
        return;
    }
    tell(QStringLiteral("The measurement history \"%1\" was damaged (%2). It has been moved to \"%3\" and a new "
                        "history is started; \"zentlog-history recover\" rescues what can be read from the "
                        "damaged file.")
             .arg(QDir::toNativeSeparators(path_), reason, QDir::toNativeSeparators(aside)));
    // The readings go into the new file at once.
    failing_ = false;
    QString openReason;
    if (!open(openReason) && !openReason.isEmpty())
        fault(openReason);
}

} // namespace history
