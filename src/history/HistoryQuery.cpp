#include "history/HistoryQuery.h"

#include "common/SafeFiles.h"
#include "history/HistorySchema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>

#include <atomic>

namespace history {

namespace {

// SQLite's primary result codes (the low byte of an extended one).
constexpr int kSqliteReadOnly = 8;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteCantOpen = 14;
constexpr int kSqliteNotADatabase = 26;

QString shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

bool isDamaged(const QSqlError& error)
{
    bool isNumber = false;
    const int code = error.nativeErrorCode().toInt(&isNumber) & 0xff;
    return isNumber && (code == kSqliteCorrupt || code == kSqliteNotADatabase);
}

} // namespace

QString historyReadFailure(const QString& path, const QSqlError& error)
{
    bool isNumber = false;
    const int code = error.nativeErrorCode().toInt(&isNumber) & 0xff;
    const QString reason = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    const QFileInfo file(path);
    // Reading a WAL database takes its "-shm" file; SQLite only says "unable to open database
    // file" (or "attempt to write a readonly database") when it may not make one.
    if (isNumber && (code == kSqliteCantOpen || code == kSqliteReadOnly) && !QFileInfo::exists(path + QStringLiteral("-shm"))
        && !QFileInfo(file.absolutePath()).isWritable()) {
        if (QFileInfo::exists(path + QStringLiteral("-wal"))) {
            return QStringLiteral("The history file \"%1\" cannot be read here: the readings in its journal \"%1-wal\" "
                                  "can only be read with a file \"%1-shm\" beside it, and the folder \"%2\" is "
                                  "read-only (%3). Copy the file and its journal into a writable folder to read them.")
                .arg(shown(path), shown(file.absolutePath()), reason);
        }
        return QStringLiteral("The history file \"%1\" cannot be read here: the folder \"%2\" is read-only, and SQLite "
                              "needs to make a file \"%1-shm\" beside it to read it (%3).")
            .arg(shown(path), shown(file.absolutePath()), reason);
    }
    // The measurement's own file is never anything but a history, so "not a database" there means
    // its first page is damaged; any other file may simply be something else.
    const bool measurementsFile = file.fileName() == QLatin1String(kHistoryFileName);
    if (isNumber && (code == kSqliteCorrupt || (code == kSqliteNotADatabase && measurementsFile))) {
        // What happens next, so that nobody deletes the file or waits for it to heal.
        const QString next = measurementsFile
            ? QStringLiteral(" The measurement moves it aside as \"%1.damaged-YYYYMMDD-HHMMSS\" (when it starts, or "
                             "as soon as it meets the damage) and starts a new history; \"zentlog-history recover\" "
                             "rescues what can still be read from the damaged file.")
                  .arg(file.fileName())
            : QStringLiteral(" \"zentlog-history recover\" rescues what can still be read from it.");
        return QStringLiteral("The history file \"%1\" is damaged (%2).").arg(shown(path), reason) + next;
    }
    return QStringLiteral("The history file \"%1\" could not be read: %2.").arg(shown(path), reason);
}

ReadOnlyHistory::~ReadOnlyHistory()
{
    close();
}

QString ReadOnlyHistory::open(const QString& path, ReadMode mode)
{
    close();
    const QFileInfo file(path);
    if (!file.exists()) {
        const QFileInfo folder(file.absolutePath());
        if (folder.isDir() && !folder.isExecutable())
            return QStringLiteral("The history file \"%1\" cannot be opened: the folder \"%2\" may not be entered.")
                .arg(shown(path), shown(folder.filePath()));
        return QStringLiteral("The history file \"%1\" does not exist.").arg(shown(path));
    }
    if (!file.isFile())
        return QStringLiteral("The history file \"%1\" is not a regular file.").arg(shown(path));
    // SQLite says no more than "unable to open database file" for a file it may not read.
    {
        QFile probe;
        QString reason;
        if (!common::openForReading(probe, path, reason))
            return QStringLiteral("The history file \"%1\" cannot be opened: %2.").arg(shown(path), reason);
    }
    static std::atomic<int> counter{0};
    connection_ = QStringLiteral("zentlog-history-reader-%1").arg(++counter);
    path_ = path;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    if (mode == ReadMode::Once) {
        // A recorder in WAL mode keeps its "-wal" file while it has the database open; a
        // "-journal" may hold a transaction to roll back. Either means the file alone is not
        // the whole history.
        const bool journalBeside =
            QFileInfo::exists(path + QStringLiteral("-wal")) || QFileInfo::exists(path + QStringLiteral("-journal"));
        db.setDatabaseName(QUrl::fromLocalFile(file.absoluteFilePath()).toString(QUrl::FullyEncoded)
                           + (journalBeside ? QStringLiteral("?mode=ro") : QStringLiteral("?immutable=1")));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
    } else {
        db.setDatabaseName(path);
        // Read-only: the program may be recording into the file at the same moment.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    }
    if (!db.open())
        return QStringLiteral("The history file \"%1\" cannot be opened: %2.").arg(shown(path), db.lastError().databaseText());
    if (mode == ReadMode::Following) {
        if (QString damage = damageAtOpen(); !damage.isEmpty()) {
            close();
            return damage;
        }
    }
    return {};
}

QString ReadOnlyHistory::damageAtOpen() const
{
    // A window that follows the file would otherwise show a damaged history as an empty one. The
    // table list and the newest readings are what it reads first; any other failure (a
    // recorder's lock, no readings table yet) is left to the reads that follow.
    QSqlQuery query(database());
    for (const QString& sql : {QStringLiteral("SELECT count(*) FROM sqlite_master"), QStringLiteral("SELECT max(id) FROM readings")}) {
        if (!query.exec(sql) && isDamaged(query.lastError()))
            return readFailure(query.lastError());
    }
    return {};
}

QString ReadOnlyHistory::checkIsHistory() const
{
    // SQLite takes an empty file for an empty database; it is no history all the same.
    if (QFileInfo(path_).size() == 0)
        return QStringLiteral("The history file \"%1\" is empty (0 bytes): it holds no history.").arg(shown(path_));
    QSqlQuery query(database());
    if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type IN ('table', 'view') AND name = 'readings'"))
        || !query.next())
        return readFailure(query.lastError());
    if (query.value(0).toInt() == 0)
        return QStringLiteral("The history file \"%1\" is an SQLite database but no measurement history: it has no "
                              "table \"readings\".")
            .arg(shown(path_));
    return {};
}

QString ReadOnlyHistory::readFailure(const QSqlError& error) const
{
    return historyReadFailure(path_, error);
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

HistorySummary summarizeHistory(const QString& path, ReadMode mode)
{
    HistorySummary summary;
    ReadOnlyHistory history;
    if (summary.error = history.open(path, mode); !summary.error.isEmpty())
        return summary;
    if (summary.error = history.checkIsHistory(); !summary.error.isEmpty())
        return summary;
    summary.fileBytes = QFileInfo(path).size();
    summary.journalBytes = QFileInfo(path + QStringLiteral("-wal")).size();
    {
        QSqlQuery query(history.database());
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral(
                "SELECT channel, COUNT(*), MIN(time_ms), MAX(time_ms) FROM readings GROUP BY channel ORDER BY channel"))) {
            summary.error = history.readFailure(query.lastError());
            return summary;
        }
        while (query.next()) {
            summary.channels.append({query.value(0).toInt(), query.value(1).toLongLong(), query.value(2).toLongLong(),
                                     query.value(3).toLongLong()});
        }
        if (query.lastError().isValid())
            summary.error = history.readFailure(query.lastError());
    }
    return summary;
}

} // namespace history
